#!/bin/bash
# Analysis benchmark: a 60-second 1920x1080 H.264 stream of about 35 Mbit/s,
# generated once outside the repository and kept for later runs. (The
# ultrafast preset makes Baseline streams, which the disc rules refuse.)
set -euo pipefail
build=${1:?usage: analyse.sh BUILD_DIR}
data=${ZV_BENCH_DATA:-${TMPDIR:-/tmp}/zelvane-bench}
mkdir -p "$data"
stream="$data/bench_1080p_60s.264"
if [ ! -s "$stream" ]; then
  echo "generating $stream (x264 superfast, takes a minute or two)" >&2
  ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001,noise=alls=30:allf=t" -t 60 \
    -pix_fmt yuv420p -f yuv4mpegpipe - |
    x264 --quiet --demuxer y4m --preset superfast --threads 2 --bitrate 35000 --vbv-maxrate 40000 \
      --vbv-bufsize 30000 --nal-hrd vbr --level 4.1 --aud --keyint 24 --sar 1:1 -o "$stream.part" -
  mv "$stream.part" "$stream"
fi
"$build/bench/bench_analyse" "$stream" 3
