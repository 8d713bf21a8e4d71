#!/bin/bash
# Reuse benchmark: every stream of a clip made from the shared 60-second
# 35 Mbit/s H.264 stream and a 640 kbit/s AC-3 track multiplexed again from
# the clip's own packets, against multiplexing the elementary streams.
# Medians of five runs (ZV_BENCH_RUNS to change).
set -euo pipefail
build=${1:?usage: reuse.sh BUILD_DIR}
source "$(dirname "$0")/input.bash"
audio="$data/bench_640k_60s.ac3"
if [ ! -s "$audio" ]; then
  ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=48000" -f lavfi \
    -i "sine=frequency=660:sample_rate=48000" -filter_complex "[0][1]amerge,pan=5.1|FL=c0|FR=c1|FC=c0|LFE=c1|BL=c0|BR=c1" \
    -t 60 -c:a ac3_fixed -b:a 640k "$audio.part.ac3"
  mv "$audio.part.ac3" "$audio"
fi
out=$(mktemp -d "${TMPDIR:-/tmp}/zelvane-reuse-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT
cp "$video" "$audio" "$out/"
"$build/bench/bench_reuse" "$out/$(basename "$video")" "$out/$(basename "$audio")" "$out" "${ZV_BENCH_RUNS:-5}"
