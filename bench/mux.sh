#!/bin/bash
# Multiplexing benchmark: `zelvane mux` of the shared 60-second 1920x1080
# H.264 stream of about 35 Mbit/s plus a 640 kbit/s AC-3 track, against
# ffmpeg's m2ts remux of the same streams from a Matroska file made with
# mkvmerge, and against cat of the inputs into a new file. Whole processes,
# medians of seven runs (ZV_BENCH_RUNS to change).
set -euo pipefail
build=${1:?usage: mux.sh BUILD_DIR}
source "$(dirname "$0")/input.bash"
mkv="$data/bench_1080p_60s.mkv"
if [ ! -s "$mkv" ]; then
  mkvmerge -q -o "$mkv.part" --default-duration 0:24000/1001p "$video" "$audio"
  mv "$mkv.part" "$mkv"
fi
out=$(mktemp -d "${TMPDIR:-/tmp}/zelvane-mux-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT
# The analysis writes its stream information beside the streams.
cp "$video" "$audio" "$out/"
"$build/bench/bench_mux" "$build/zelvane" "$out/$(basename "$video")" "$out/$(basename "$audio")" "$mkv" "$out" \
  "${ZV_BENCH_RUNS:-7}"
