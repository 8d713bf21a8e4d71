#!/bin/bash
# Runs every benchmark script of this folder against the given build, then
# prints the figures that compare with a peer side by side: the mux line
# against ffmpeg's remux and cat, menu compilation in megapixels a second,
# and analysis of each codec against a plain read of its file. The machine's
# load is printed with them: the numbers mean little without it.
set -euo pipefail
build=${1:-build-bench}
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp "${TMPDIR:-/tmp}/zelvane-bench-log.XXXXXX")
trap 'rm -f "$log"' EXIT
status=0
load_before=$(uptime)
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  # The gigabytes an earlier benchmark wrote are on the disk before the
  # next one starts, not written back under it (which stalls every write
  # it makes, cat's too).
  sync
  bash "$script" "$build" | tee -a "$log" || status=1
done
echo
echo "== summary (load before: ${load_before##*load average: }; after: $(uptime | sed 's/.*load average: //'))"
grep -E '^mux:|^  (zelvane mux|ffmpeg m2ts remux|cat of the inputs|zelvane is|zelvane takes)|^menu compile|^page render|^analyse |^lpcm  [0-9]|^  (analysis|serving|cat|ratio) ' \
  "$log" || true
exit $status
