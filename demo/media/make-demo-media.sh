#!/usr/bin/env bash
# Makes the media of the bundled sample disc with ffmpeg and x264:
#   logo.264 + logo_audio.ac3                 3 s opening logo
#   movie.264 + movie_audio_eng.ac3           20 s movie, two audio languages
#             + movie_audio_fra.ac3
#   chapters.csv                              the movie's four chapters
#   trailer.264 + trailer_audio.ac3           5 s trailer
# All video is 1920x1080 23.976 High@4.1 with NAL HRD, all audio 48 kHz
# stereo AC-3. Low bit rates keep the folder small; nothing is downloaded.
#
#   demo/media/make-demo-media.sh [OUTFOLDER]   (default: this script's folder)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here}"
mkdir -p "$out"

for tool in ffmpeg ffprobe x264; do
  command -v "$tool" >/dev/null || { echo "make-demo-media: $tool not found (run scripts/install-deps)" >&2; exit 2; }
done

FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

RATE=24000/1001

# Closed one-second GOPs: every key frame is an IDR, so chapters on whole
# seconds that are multiples of the GOP fall on entry points.
X264=(--threads 1 --preset medium --bluray-compat --profile high --level 4.1
      --nal-hrd vbr --vbv-maxrate 20000 --vbv-bufsize 15000 --keyint 24
      --no-scenecut --bframes 3 --b-pyramid strict --slices 4 --aud
      --pic-struct --sar 1:1 --colorprim bt709 --transfer bt709
      --colormatrix bt709)

# drawtext needs a font through fontconfig; without one each clip still gets
# its own test pattern, so the clips stay distinguishable.
have_text=0
if "${FF[@]}" -f lavfi -i "color=size=64x64:duration=0.04" \
     -vf "drawtext=text=x" -f null - 2>/dev/null; then
  have_text=1
else
  echo "make-demo-media: drawtext unavailable, using plain patterns" >&2
fi

# title TEXT: a boxed caption and a running timecode (shows where chapters
# land when the disc is played).
title() {
  if [ "$have_text" -eq 1 ]; then
    printf '%s' ",drawtext=text='$1':fontsize=110:fontcolor=white:box=1:boxcolor=black@0.6:boxborderw=24:x=(w-text_w)/2:y=h*0.12"
    printf '%s' ",drawtext=timecode='00\\:00\\:00\\:00':rate=$RATE:fontsize=64:fontcolor=white:box=1:boxcolor=black@0.6:boxborderw=12:x=(w-text_w)/2:y=h*0.82"
  fi
}

# video NAME SOURCE FRAMES KBPS TEXT
video() {
  local name="$1" src="$2" frames="$3" kbps="$4" text="$5"
  "${FF[@]}" -f lavfi -i "$src=size=1920x1080:rate=$RATE" \
    -vf "format=yuv420p$(title "$text")" -frames:v "$frames" \
    -f yuv4mpegpipe - 2>"$work/$name.ffmpeg.log" |
    x264 --demuxer y4m "${X264[@]}" --bitrate "$kbps" -o "$out/$name" - \
      2>"$work/$name.x264.log" || {
        cat "$work/$name.ffmpeg.log" "$work/$name.x264.log" >&2
        echo "make-demo-media: encoding $name failed" >&2; exit 2; }
}

# audio NAME FRAMES LEFT_HZ RIGHT_HZ SWELL_HZ: stereo AC-3 as long as FRAMES video
# frames. A slow swell on each tone, different per track, so two language
# tracks are told apart by ear.
audio() {
  local name="$1" frames="$2" left="$3" right="$4" swell="$5"
  local dur
  dur="$(awk -v n="$frames" 'BEGIN { printf "%.6f", n * 1001 / 24000 }')"
  local env="(0.65+0.35*sin(2*PI*$swell*t))"
  "${FF[@]}" -f lavfi \
    -i "aevalsrc=exprs=0.3*sin(2*PI*$left*t)*$env|0.3*sin(2*PI*$right*t)*$env:sample_rate=48000:channel_layout=stereo:duration=$dur" \
    -fflags +bitexact -flags:a +bitexact -c:a ac3_fixed -b:a 192k -f ac3 "$out/$name"
}

echo "make-demo-media: logo" >&2
video logo.264 smptehdbars 72 700 "Zelvane"
audio logo_audio.ac3 72 523.25 659.25 2

echo "make-demo-media: movie" >&2
video movie.264 testsrc2 480 900 "Zelvane Demo Movie"
audio movie_audio_eng.ac3 480 440 554.37 0.25
audio movie_audio_fra.ac3 480 392 493.88 1

echo "make-demo-media: trailer" >&2
video trailer.264 testsrc 120 800 "Coming Soon"
audio trailer_audio.ac3 120 349.23 440 0.5

# Chapters every 5 s: frames 0, 120, 240 and 360 at 23.976, each on a GOP start.
cat > "$out/chapters.csv" <<'EOF'
FrameRate 23.976
NonDrop
00:00:00:00 Opening
00:00:05:00 Journey
00:00:10:00 Storm
00:00:15:00 Return
EOF

# ---------------------------------------------------------------- checks
fail=0
probe() { ffprobe -v error -select_streams 0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$out/$1" | head -n1; }
expect() {
  if [ "$3" != "$4" ]; then
    echo "make-demo-media: $1: $2 is '$3', expected '$4'" >&2; fail=1
  fi
}
for f in logo.264 movie.264 trailer.264; do
  expect "$f" profile "$(probe "$f" profile)" High
  expect "$f" level "$(probe "$f" level)" 41
  expect "$f" size "$(probe "$f" width)x$(probe "$f" height)" 1920x1080
  expect "$f" frame_rate "$(probe "$f" r_frame_rate)" 24000/1001
done
for f in logo_audio.ac3 movie_audio_eng.ac3 movie_audio_fra.ac3 trailer_audio.ac3; do
  expect "$f" codec "$(probe "$f" codec_name)" ac3
  expect "$f" sample_rate "$(probe "$f" sample_rate)" 48000
  expect "$f" channels "$(probe "$f" channels)" 2
done
if [ "$fail" -ne 0 ]; then exit 1; fi
du -ch "$out"/*.264 "$out"/*.ac3 "$out"/chapters.csv | tail -n1 | sed 's/^/make-demo-media: total /' >&2
