#!/bin/bash
# Multiplexing benchmark: `zelvane mux` of the shared 60-second 1920x1080
# H.264 stream of about 35 Mbit/s plus a 640 kbit/s AC-3 track, against
# ffmpeg's m2ts remux of the same streams from a Matroska file made with
# mkvmerge, and against cat of the inputs into a new file. Whole processes,
# medians of seven runs (ZV_BENCH_RUNS to change).
set -euo pipefail
build=${1:?usage: mux.sh BUILD_DIR}
source "$(dirname "$0")/input.bash"
audio="$data/bench_640k_60s.ac3"
if [ ! -s "$audio" ]; then
  ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=48000" -f lavfi \
    -i "sine=frequency=660:sample_rate=48000" -filter_complex "[0][1]amerge,pan=5.1|FL=c0|FR=c1|FC=c0|LFE=c1|BL=c0|BR=c1" \
    -t 60 -c:a ac3_fixed -b:a 640k "$audio.part.ac3"
  mv "$audio.part.ac3" "$audio"
fi
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
