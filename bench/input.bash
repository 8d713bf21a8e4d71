# Sourced by the benchmark scripts: makes (once, outside the repository) the
# 60-second 1920x1080 H.264 stream of about 35 Mbit/s they share and sets
# $data and $video, and the 640 kbit/s 5.1 AC-3 track of the same length,
# $audio. The ultrafast preset makes Baseline streams, which the
# disc rules refuse.
data=${ZV_BENCH_DATA:-${TMPDIR:-/tmp}/zelvane-bench}
mkdir -p "$data"
video="$data/bench_1080p_60s.264"
if [ ! -s "$video" ]; then
  echo "generating $video (x264 superfast, takes a minute or two)" >&2
  ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001,noise=alls=30:allf=t" -t 60 \
    -pix_fmt yuv420p -f yuv4mpegpipe - |
    x264 --quiet --demuxer y4m --preset superfast --threads 2 --bitrate 35000 --vbv-maxrate 40000 \
      --vbv-bufsize 30000 --nal-hrd vbr --level 4.1 --aud --keyint 24 --sar 1:1 -o "$video.part" -
  mv "$video.part" "$video"
fi
audio="$data/bench_640k_60s.ac3"
if [ ! -s "$audio" ]; then
  ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=48000" -f lavfi \
    -i "sine=frequency=660:sample_rate=48000" -filter_complex "[0][1]amerge,pan=5.1|FL=c0|FR=c1|FC=c0|LFE=c1|BL=c0|BR=c1" \
    -t 60 -c:a ac3_fixed -b:a 640k "$audio.part.ac3"
  mv "$audio.part.ac3" "$audio"
fi

# The median of the numbers on standard input, one per line.
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# Seconds since the epoch, for wall times.
now() { date +%s.%N; }
