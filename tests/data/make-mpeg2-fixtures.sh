#!/usr/bin/env bash
# Makes the MPEG-2 video fixtures of the unit and interop tests (1 to 2 s
# each) with ffmpeg's mpeg2video encoder, then checks every file's headers
# with ffprobe and ffmpeg's trace_headers filter.
#
#   tests/data/make-mpeg2-fixtures.sh [OUTFOLDER]   (default: this script's folder)
#
# The encoder has no soft pulldown, so the pulldown fixture is a 23.976
# progressive encode whose headers are then rewritten the way film is
# carried at 29.97: frame rate code 4, progressive_sequence 0, and the
# top_field_first/repeat_first_field cadence 11 00 01 10 in display order.
# Only flag bits change; the coded pictures stay as encoded.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here}"
mkdir -p "$out"
for tool in ffmpeg ffprobe /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "make-mpeg2-fixtures: $tool not found (run scripts/install-deps)" >&2; exit 2; }
done
FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# m2v NAME SIZE RATE FRAMES [ENCODER OPTIONS...]
# testsrc2 moves, so frames differ. Two B frames and 15-frame GOPs: the
# second GOP is open (its leading B frames come before its I picture). The
# header rate is the -maxrate; the content is kept small by -b:v.
m2v() {
  local name="$1" size="$2" rate="$3" frames="$4"; shift 4
  local dst="$out/$name"
  [[ "$name" = /* ]] && dst="$name"
  "${FF[@]}" -f lavfi -i "testsrc2=size=$size:rate=$rate" -frames:v "$frames" \
    -c:v mpeg2video -threads 1 -bf 2 -g 15 -q:v 24 -maxrate 15M -bufsize 9781248 \
    -fflags +bitexact -flags:v +bitexact "$@" -f mpeg2video "$dst"
}
INTERLACED=(-flags:v +ilme+ildct+bitexact -top 1)

m2v m2v_1080i2997.m2v 1920x1080 30000/1001 45 -aspect 16:9 -pix_fmt yuv420p "${INTERLACED[@]}"
m2v m2v_1440x1080i25.m2v 1440x1080 25 25 -aspect 16:9 -pix_fmt yuv420p "${INTERLACED[@]}"
m2v m2v_480i2997.m2v 720x480 30000/1001 30 -aspect 4:3 -pix_fmt yuv420p "${INTERLACED[@]}"
m2v m2v_576i25.m2v 720x576 25 25 -aspect 16:9 -pix_fmt yuv420p "${INTERLACED[@]}"
m2v m2v_1080p2398.m2v 1920x1080 24000/1001 24 -aspect 16:9 -pix_fmt yuv420p
m2v "$work/film.m2v" 1920x1080 24000/1001 32 -aspect 16:9 -pix_fmt yuv420p

# Each breaks one rule and is otherwise a good 480i or 576i stream.
m2v fail_422.m2v 720x576 25 3 -aspect 16:9 -pix_fmt yuv422p "${INTERLACED[@]}"
m2v fail_30fps.m2v 720x480 30 3 -aspect 4:3 -pix_fmt yuv420p "${INTERLACED[@]}"
m2v fail_480i25.m2v 720x480 25 3 -aspect 4:3 -pix_fmt yuv420p "${INTERLACED[@]}"
m2v fail_ratio_221.m2v 720x576 25 3 -aspect 221:100 -pix_fmt yuv420p "${INTERLACED[@]}"
m2v fail_bitrate.m2v 720x576 25 3 -aspect 16:9 -pix_fmt yuv420p -maxrate 45M "${INTERLACED[@]}"

# 3:2 pulldown flags on the 23.976 encode (see the top of this script).
/usr/bin/python3 - "$work/film.m2v" "$out/m2v_1080i2997_pulldown.m2v" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
cadence = [(1, 1), (0, 0), (0, 1), (1, 0)]  # (top_field_first, repeat_first_field)
shown = 0       # frames of the GOPs before the current one
gop_frames = 0
picture_tr = None
i = 0
while True:
    i = data.find(b'\x00\x00\x01', i)
    if i < 0 or i + 8 > len(data):
        break
    code = data[i + 3]
    b = i + 4
    if code == 0xB3:
        data[b + 3] = (data[b + 3] & 0xF0) | 4          # frame_rate_code 29.97
    elif code == 0xB8:
        shown += gop_frames
        gop_frames = 0
    elif code == 0x00:
        picture_tr = (data[b] << 2) | (data[b + 1] >> 6)
        gop_frames += 1
    elif code == 0xB5:
        ext = data[b] >> 4
        if ext == 1:
            data[b + 1] &= ~0x08                        # progressive_sequence 0
        elif ext == 8 and picture_tr is not None:
            tff, rff = cadence[(shown + picture_tr) % 4]
            data[b + 3] = (data[b + 3] & 0x7D) | (tff << 7) | (rff << 1)
            picture_tr = None
    i += 3
open(sys.argv[2], 'wb').write(data)
EOF

# ---------------------------------------------------------------- checks
fail=0
probe() { ffprobe -v error -select_streams 0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$out/$1" | head -n1; }
traced() {
  "${FF[@]}" -loglevel trace -i "$out/$1" -c copy -bsf:v trace_headers -f null - 2>&1 |
    sed -n 's/^\[trace_headers[^]]*\] *[0-9]* *//p' > "$work/$1.trace"
}
syntax() { awk -v k="$2" '$1 == k { print $NF; exit }' "$work/$1.trace"; }
count() { awk -v k="$2" -v v="$3" '$1 == k && $NF == v { n++ } END { print n + 0 }' "$work/$1.trace"; }
expect() {  # FILE WHAT ACTUAL EXPECTED
  if [ "$3" != "$4" ]; then
    echo "make-mpeg2-fixtures: $1: $2 is '$3', expected '$4'" >&2; fail=1
  else
    printf '  %-26s %-24s %s\n' "$1" "$2" "$3"
  fi
}
check() {  # FILE W H FRAME_RATE_CODE ASPECT PROGRESSIVE_SEQUENCE CHROMA FRAMES
  local f="$1"
  traced "$f"
  expect "$f" codec "$(probe "$f" codec_name)" mpeg2video
  expect "$f" size "$(probe "$f" width)x$(probe "$f" height)" "$2x$3"
  expect "$f" frame_rate_code "$(syntax "$f" frame_rate_code)" "$4"
  expect "$f" aspect_ratio_info "$(syntax "$f" aspect_ratio_information)" "$5"
  expect "$f" progressive_sequence "$(syntax "$f" progressive_sequence)" "$6"
  expect "$f" chroma_format "$(syntax "$f" chroma_format)" "$7"
  expect "$f" pictures "$(count "$f" picture_start_code 0)" "$8"
}
echo "make-mpeg2-fixtures: checking" >&2
check m2v_1080i2997.m2v 1920 1080 4 3 0 1 45
check m2v_1440x1080i25.m2v 1440 1080 3 3 0 1 25
check m2v_480i2997.m2v 720 480 4 2 0 1 30
check m2v_576i25.m2v 720 576 3 3 0 1 25
check m2v_1080p2398.m2v 1920 1080 1 3 1 1 24
check m2v_1080i2997_pulldown.m2v 1920 1080 4 3 0 1 32
expect m2v_1080i2997_pulldown.m2v repeat_first_field "$(count m2v_1080i2997_pulldown.m2v repeat_first_field 1)" 16
expect m2v_1080i2997_pulldown.m2v progressive_frame "$(count m2v_1080i2997_pulldown.m2v progressive_frame 1)" 32
check fail_422.m2v 720 576 3 3 0 2 3
check fail_30fps.m2v 720 480 5 2 0 1 3
check fail_480i25.m2v 720 480 3 2 0 1 3
check fail_ratio_221.m2v 720 576 3 4 0 1 3
check fail_bitrate.m2v 720 576 3 3 0 1 3
expect fail_bitrate.m2v bit_rate_value "$(syntax fail_bitrate.m2v bit_rate_value)" 112500

if [ "$fail" -ne 0 ]; then
  echo "make-mpeg2-fixtures: some fixtures are not what the tests expect" >&2
  exit 1
fi
du -ch "$out"/*.m2v | tail -n1 | sed 's/^/make-mpeg2-fixtures: total /' >&2
