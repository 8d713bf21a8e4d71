#!/usr/bin/env bash
# Makes the menu media of the bundled sample disc with ImageMagick, ffmpeg
# and x264 (the other media come from make-demo-media.sh and stay as they
# are):
#   menu_bg.264                       2 s still background of the top menu
#   menu/select.wav, activate.wav     the sounds of selecting and of
#                                     activating a button
#   menu/NAME_n.png, _s.png, _a.png   a button's normal, selected and
#                                     activated pictures (NAME_on: the look of
#                                     the audio language in use)
#
#   demo/media/make-menu-media.sh [OUTFOLDER]   (default: this script's folder)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here}"
mkdir -p "$out/menu"

CONVERT=/usr/bin/convert
for tool in ffmpeg x264 "$CONVERT"; do
  command -v "$tool" >/dev/null || { echo "make-menu-media: $tool not found (run scripts/install-deps)" >&2; exit 2; }
done
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -f "$FONT" ] || { echo "make-menu-media: $FONT not found (fonts-dejavu-core)" >&2; exit 2; }

# button NAME "LABEL": 400x72 pictures. Normal is light text on a dark
# plate, selected dark on yellow, activated dark on green; the
# plate's border is the same in all three so only the colours change.
button() {
  local name="$1" label="$2"
  state() {
    "$CONVERT" -size 400x72 xc:none -fill "$2" -stroke "$3" -strokewidth 4 \
      -draw "roundrectangle 2,2 397,69 18,18" -stroke none -fill "$4" \
      -font "$FONT" -pointsize 34 -gravity center -annotate +0+0 "$label" \
      -define png:color-type=6 -define png:exclude-chunk=date,time "PNG32:$out/menu/${name}_$1.png"
  }
  state n "#102048" "#c0c0c0" "#ffffff"
  state s "#f0c020" "#ffffff" "#101010"
  state a "#30b040" "#ffffff" "#101010"
}

button play "Play movie"
button chapters "Chapters"
button audio "Audio"
button trailer "Trailer"
button back "Back"
for c in 1 2 3 4; do button "chapter$c" "Chapter $c"; done
button english "English"
button english_on "English ✓"
button french "French"
button french_on "French ✓"
button topmenu "Top menu"
button close "Close"

# Button sounds: short tones, 48 kHz 16-bit stereo as the sound file takes
# them.
tone() {
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi \
    -i "aevalsrc=exprs=0.3*sin(2*PI*$2*t)*(1-t/$3)|0.3*sin(2*PI*$2*t)*(1-t/$3):sample_rate=48000:duration=$3" \
    -fflags +bitexact -flags:a +bitexact -c:a pcm_s16le "$out/menu/$1"
}
tone select.wav 880 0.08
tone activate.wav 660 0.2

# The top menu's background: a dark gradient under the disc's name, 48
# frames at 23.976 like the rest of the disc.
RATE=24000/1001
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$CONVERT" -size 1920x1080 gradient:"#203060"-"#05070f" -font "$FONT" -pointsize 120 -fill "#e0e0e0" \
  -gravity north -annotate +0+160 "Zelvane Demo" "$work/bg.png"
ffmpeg -nostdin -hide_banner -loglevel error -y -loop 1 -framerate "$RATE" -i "$work/bg.png" \
  -vf format=yuv420p -frames:v 48 -f yuv4mpegpipe - 2>"$work/ff.log" |
  x264 --demuxer y4m --threads 1 --preset medium --bluray-compat --profile high --level 4.1 \
    --nal-hrd vbr --vbv-maxrate 20000 --vbv-bufsize 15000 --keyint 24 --no-scenecut --bframes 3 \
    --b-pyramid strict --slices 4 --aud --pic-struct --sar 1:1 --colorprim bt709 --transfer bt709 \
    --colormatrix bt709 --bitrate 400 -o "$out/menu_bg.264" - 2>"$work/x264.log" || {
      cat "$work/ff.log" "$work/x264.log" >&2; echo "make-menu-media: encoding menu_bg.264 failed" >&2; exit 2; }
echo "make-menu-media: $(ls "$out/menu"/*.png | wc -l) button pictures, 2 sounds, menu_bg.264" >&2
