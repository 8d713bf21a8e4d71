#!/usr/bin/env bash
# Retakes the README's pictures of the desktop shell from `zelvane demo`'s
# project on Qt's offscreen platform: the window (docs/studio.png), the page
# editor on the demo's top menu (docs/page-editor.png) and the preview of the
# built disc after one key press (docs/preview.png).
#   docs/make-studio-pictures.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
# A fixed folder, so that the paths the pictures show read well.
work=/tmp/zelvane-studio-pictures
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
if ! "$build/zelvane" demo "$work/demo" --yes >"$work/demo.log" 2>&1; then
  cat "$work/demo.log" >&2
  exit 1
fi
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config"
studio=("$build/zelvane-studio" "$work/demo/demo.zvpj")
"${studio[@]}" --screenshot docs/studio.png --select "Movie#1/Clip#1" --size 1000x640
"${studio[@]}" --screenshot docs/page-editor.png --select "Top Menu/IG#1/Epoch#1/DisplaySet#1/Main/Bog#2/chapters" \
  --size 1280x900
"${studio[@]}" --screenshot docs/preview.png --preview "$work/demo/Zelvane/DISC" --keys down --size 1000x560
echo "docs/studio.png docs/page-editor.png docs/preview.png"
