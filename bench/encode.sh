#!/bin/bash
# Encoding speed of `source add --encode` at its default settings, beside
# the neighbouring x264 presets, on a 1080p23.976 source of
# ZV_BENCH_ENCODE_SECONDS seconds (default 4) made by ffmpeg: a moving test
# pattern with film-like grain. Reports frames per second per preset.
set -euo pipefail
build=${1:?usage: encode.sh BUILD_DIR}
seconds=${ZV_BENCH_ENCODE_SECONDS:-4}
out=$(mktemp -d "${TMPDIR:-/tmp}/zelvane-encode-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001" -t "$seconds" \
  -vf noise=alls=6:allf=t -c:v libx264 -preset ultrafast -qp 14 "$out/source.mkv"
echo "encode: $seconds s of 1080p23.976 on $(nproc) cores"
"$build/bench/bench_encode" "$out/source.mkv" fast veryfast medium
