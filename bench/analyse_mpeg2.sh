#!/bin/bash
# Analysis benchmark on a 60-second 1080i 29.97 MPEG-2 stream of about
# 25 Mbit/s, made once outside the repository next to the H.264 input.
set -euo pipefail
build=${1:?usage: analyse_mpeg2.sh BUILD_DIR}
data=${ZV_BENCH_DATA:-${TMPDIR:-/tmp}/zelvane-bench}
mkdir -p "$data"
video="$data/bench_1080i_60s.m2v"
if [ ! -s "$video" ]; then
  echo "generating $video (ffmpeg mpeg2video, takes a minute or two)" >&2
  ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=30000/1001,noise=alls=20:allf=t" -t 60 \
    -c:v mpeg2video -threads 2 -bf 2 -g 15 -b:v 25M -maxrate 30M -bufsize 9781248 \
    -flags +ilme+ildct -top 1 -aspect 16:9 -pix_fmt yuv420p -f mpeg2video "$video.part"
  mv "$video.part" "$video"
fi
"$build/bench/bench_analyse" "$video" 3
