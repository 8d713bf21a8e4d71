#!/usr/bin/env bash
# Makes the presentation-graphics fixtures: subtitle pictures drawn by
# ImageMagick (indexed PNGs, black background that becomes transparent),
# written as ".sup" streams by the fixture tool zv_make_sup (our segment
# writer). Two streams for the 2 s 1080p movie fixture:
#   subs_eng.sup  "Hello" 0.20-0.90 s, a yellow bar 1.00-1.60 s
#   subs_fra.sup  "Bonjour" 0.30-1.50 s
#
#   tests/data/make-subtitle-fixtures.sh [ZV_MAKE_SUP] [OUTFOLDER]
#     (defaults: build/tests/zv_make_sup, tests/data/subtitles)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
tool="${1:-$here/../../build/tests/zv_make_sup}"
out="${2:-$here/subtitles}"
mkdir -p "$out"
command -v convert >/dev/null || { echo "make-subtitle-fixtures: convert not found (run scripts/install-deps)" >&2; exit 2; }
[ -x "$tool" ] || { echo "make-subtitle-fixtures: $tool not built (cmake --build build --target zv_make_sup)" >&2; exit 2; }
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -f "$font" ] || { echo "make-subtitle-fixtures: $font missing (fonts-dejavu-core)" >&2; exit 2; }

# text NAME WIDTH HEIGHT COLOUR TEXT: crisp (not antialiased) text with an
# outline, so the picture has only a few colours.
text() {
  convert -size "$2x$3" xc:black +antialias -font "$font" -pointsize 48 -gravity center \
    -stroke '#202020' -strokewidth 3 -fill "$4" -annotate 0 "$5" -colors 8 -strip "PNG8:$out/$1"
}
text hello.png 360 72 white "Hello"
text bonjour.png 400 72 '#80E0FF' "Bonjour"
convert -size 320x48 xc:black +antialias -fill '#F0D020' -draw "rectangle 16,8 304,40" \
  -fill '#C02020' -draw "circle 160,24 160,12" -colors 8 -strip "PNG8:$out/bar.png"

"$tool" "$out/subs_eng.sup" 1920 1080 1 "$out/hello.png:200:900:780:900" "$out/bar.png:1000:1600:800:960"
"$tool" "$out/subs_fra.sup" 1920 1080 1 "$out/bonjour.png:300:1500:760:900"
echo "make-subtitle-fixtures: wrote $(ls "$out" | tr '\n' ' ')" >&2
