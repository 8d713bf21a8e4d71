#!/usr/bin/env bash
# Makes the small media fixtures of the unit tests (about 2 s each) with
# ffmpeg's lavfi sources and the x264 command-line encoder, then checks every
# file with ffprobe and ffmpeg's trace_headers filter, so a changed encoder
# that no longer gives the intended stream is caught here, not in a test.
#
#   tests/data/make-fixtures.sh [OUTFOLDER]     (default: this script's folder)
#
# Nothing is downloaded. Single-threaded x264 and the fixed-point AC-3 encoder
# keep the output stable for a given ffmpeg/x264 version.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here}"
mkdir -p "$out"

for tool in ffmpeg ffprobe x264; do
  command -v "$tool" >/dev/null || { echo "make-fixtures: $tool not found (run scripts/install-deps)" >&2; exit 2; }
done

FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Options every disc-compatible fixture shares: closed GOPs (each key frame an
# IDR, so several GOPs fit in 2 s), at most 3 B-frames with a strict pyramid,
# access-unit delimiters, picture timing with pic_struct, 4 slices, BT.709.
# The VBV rate and size differ so the HRD bit rate and CPB size can be told
# apart: 20,000,000 bit/s and 15,000,000 bits.
BD_COMMON=(--threads 1 --preset medium --bframes 3 --b-pyramid strict
           --no-scenecut --slices 4 --aud --pic-struct
           --vbv-maxrate 20000 --vbv-bufsize 15000
           --colorprim bt709 --transfer bt709 --colormatrix bt709)

# video NAME SIZE RATE PIXFMT FRAMES -- X264ARGS...
# Encodes 2 s of testsrc2 (a moving pattern, so frames differ) through a
# y4m pipe. The frame count is fixed, so the length does not depend on the
# rate's rounding.
video() {
  local name="$1" size="$2" rate="$3" pixfmt="$4" frames="$5"; shift 6
  "${FF[@]}" -f lavfi -i "testsrc2=size=$size:rate=$rate" -frames:v "$frames" \
    -pix_fmt "$pixfmt" -f yuv4mpegpipe - 2>"$work/$name.ffmpeg.log" |
    x264 --demuxer y4m "$@" -o "$out/$name" - 2>"$work/$name.x264.log" || {
      cat "$work/$name.ffmpeg.log" "$work/$name.x264.log" >&2
      echo "make-fixtures: encoding $name failed" >&2; exit 2; }
  if grep -q 'x264 \[warning\]' "$work/$name.x264.log"; then
    grep 'x264 \[warning\]' "$work/$name.x264.log" | sed "s|^|$name: |" >&2
  fi
}

# audio NAME CODEC FORMAT RATE LAYOUT BITRATE EXPR
# Each channel carries its own tone (aevalsrc, one expression per channel)
# with a slow amplitude swell, so channel mix-ups are audible and the frames
# are not all identical.
audio() {
  local name="$1" codec="$2" fmt="$3" rate="$4" layout="$5" bitrate="$6" expr="$7"
  "${FF[@]}" -f lavfi -i "aevalsrc=exprs=$expr:sample_rate=$rate:channel_layout=$layout:duration=2" \
    -fflags +bitexact -flags:a +bitexact -c:a "$codec" -b:a "$bitrate" -f "$fmt" "$out/$name"
}

tone() { echo "0.35*sin(2*PI*$1*t)*(0.7+0.3*sin(2*PI*0.5*t))"; }

echo "make-fixtures: video" >&2
# 1080p 23.976, High@4.1, NAL HRD with buffering-period and picture-timing SEI.
video h264_1080p2398.264 1920x1080 24000/1001 yuv420p 48 -- \
  --bluray-compat --profile high --level 4.1 --bitrate 1000 --nal-hrd vbr \
  --keyint 12 --sar 1:1 "${BD_COMMON[@]}"
# 720p 59.94.
video h264_720p5994.264 1280x720 60000/1001 yuv420p 120 -- \
  --bluray-compat --profile high --level 4.1 --bitrate 800 --nal-hrd vbr \
  --keyint 30 --sar 1:1 "${BD_COMMON[@]}"
# 576i 25, top field first. x264 codes interlaced content as MBAFF frames
# (field_pic_flag 0, pic_struct 3); SAR 16:11 is aspect_ratio_idc 4.
video h264_576i25.264 720x576 25 yuv420p 50 -- \
  --bluray-compat --profile high --level 4.1 --bitrate 600 --nal-hrd vbr \
  --keyint 12 --tff --weightp 0 --sar 16:11 "${BD_COMMON[@]}"
# As the 1080p fixture but without NAL HRD. --bluray-compat forces a NAL HRD
# in x264, so it is left out; the options it implies are in BD_COMMON.
video h264_nohrd.264 1920x1080 24000/1001 yuv420p 48 -- \
  --profile high --level 4.1 --bitrate 1000 --keyint 12 --sar 1:1 "${BD_COMMON[@]}"

# Failure fixtures: each breaks exactly one rule and is otherwise like the
# 1080p fixture, so the intended check is the one that fires.
video fail_baseline.264 1920x1080 24000/1001 yuv420p 48 -- \
  --bluray-compat --profile baseline --level 4.1 --bitrate 400 --nal-hrd vbr \
  --keyint 12 --sar 1:1 "${BD_COMMON[@]}"
video fail_level51.264 1920x1080 24000/1001 yuv420p 48 -- \
  --bluray-compat --profile high --level 5.1 --bitrate 400 --nal-hrd vbr \
  --keyint 12 --sar 1:1 "${BD_COMMON[@]}"
video fail_422.264 1920x1080 24000/1001 yuv422p 48 -- \
  --bluray-compat --profile high422 --output-csp i422 --level 4.1 --bitrate 400 \
  --nal-hrd vbr --keyint 12 --sar 1:1 "${BD_COMMON[@]}"
video fail_15fps.264 1920x1080 15 yuv420p 30 -- \
  --bluray-compat --profile high --level 4.1 --bitrate 400 --nal-hrd vbr \
  --keyint 15 --sar 1:1 "${BD_COMMON[@]}"
# A known rate that the disc does not pair with 1080p: accepted with a
# warning, not refused.
video warn_1080p25.264 1920x1080 25 yuv420p 25 -- \
  --bluray-compat --profile high --level 4.1 --bitrate 400 --nal-hrd vbr \
  --keyint 12 --sar 1:1 "${BD_COMMON[@]}"

# What ffmpeg's libx264 writes with its defaults (only the quality lowered to
# keep the file small): a constant rate, but fixed_frame_rate_flag 0 and no
# HRD. Taken, and written to the disc with the flag set.
ffdefault() {
  local name="$1" rate="$2" frames="$3"
  "${FF[@]}" -f lavfi -i "testsrc2=size=1920x1080:rate=$rate" -frames:v "$frames" \
    -pix_fmt yuv420p -c:v libx264 -threads 1 -crf 40 "$out/$name"
}
ffdefault ffmpeg_x264_1080p2398.264 24000/1001 12
# The same at 30 fps, a rate the disc does not have at 1080.
ffdefault fail_1080p30.264 30 6
# A variable rate: frames 40 and 80 ms apart by turns, with NAL HRD picture
# timing saying so (x264 leaves fixed_frame_rate_flag 0 on timecode input).
printf '# timecode format v2\n0\n40\n120\n160\n240\n280\n360\n400\n480\n520\n600\n640\n' >"$work/vfr.tc"
video fail_vfr.264 1920x1080 25 yuv420p 12 -- \
  --tcfile-in "$work/vfr.tc" --threads 1 --crf 40 --nal-hrd vbr --vbv-maxrate 20000 \
  --vbv-bufsize 15000 --level 4.1 --sar 1:1

echo "make-fixtures: audio" >&2
audio ac3_stereo.ac3 ac3_fixed ac3 48000 stereo 448k "$(tone 440)|$(tone 660)"
# 5.1 in channel order FL FR FC LFE BL BR.
audio ac3_51.ac3 ac3_fixed ac3 48000 5.1 640k \
  "$(tone 440)|$(tone 550)|$(tone 330)|$(tone 55)|$(tone 770)|$(tone 880)"
audio ac3_mono.ac3 ac3_fixed ac3 48000 mono 192k "$(tone 523.25)"
audio fail_44k.ac3 ac3_fixed ac3 44100 stereo 192k "$(tone 440)|$(tone 660)"
# E-AC-3 frames under the .ac3 extension.
audio fail_eac3.ac3 eac3 eac3 48000 stereo 192k "$(tone 440)|$(tone 660)"

# ---------------------------------------------------------------- checks
fail=0

# The value of one ffprobe stream field.
probe() { ffprobe -v error -select_streams 0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$out/$1" | head -n1; }

# The first value of a syntax element in the parameter sets and SEI, as read
# by ffmpeg's own bitstream reader (independent of what we asked x264 for).
traced() {
  "${FF[@]}" -loglevel trace -i "$out/$1" -c copy -bsf:v trace_headers -f null - 2>&1 |
    sed -n 's/^\[trace_headers[^]]*\] *[0-9]* *//p' > "$work/$1.trace"
}
syntax() { awk -v k="$2" '$1 == k { print $NF; exit }' "$work/$1.trace"; }
count_nal() { grep -c "^nal_unit_type: $2(" "$work/$1.trace" || true; }
count_sei() { awk -v t="$2" '$1 == "last_payload_type_byte" && $NF == t { n++ } END { print n + 0 }' "$work/$1.trace"; }

expect() {  # FILE WHAT ACTUAL EXPECTED
  if [ "$3" != "$4" ]; then
    echo "make-fixtures: $1: $2 is '$3', expected '$4'" >&2; fail=1
  else
    printf '  %-22s %-28s %s\n' "$1" "$2" "$3"
  fi
}

check_video() {  # FILE PROFILE LEVEL W H RATE FIELD SAR HRD FRAMES
  local f="$1"
  traced "$f"
  expect "$f" profile "$(probe "$f" profile)" "$2"
  expect "$f" level "$(probe "$f" level)" "$3"
  expect "$f" size "$(probe "$f" width)x$(probe "$f" height)" "$4x$5"
  expect "$f" frame_rate "$(probe "$f" r_frame_rate)" "$6"
  expect "$f" field_order "$(probe "$f" field_order)" "$7"
  expect "$f" sar "$(probe "$f" sample_aspect_ratio)" "$8"
  expect "$f" nal_hrd "$(syntax "$f" nal_hrd_parameters_present_flag)" "$9"
  expect "$f" frames "$(ffprobe -v error -count_frames -select_streams 0 \
    -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$out/$f")" "${10}"
  expect "$f" vui/timing/fixed "$(syntax "$f" vui_parameters_present_flag)/$(syntax "$f" timing_info_present_flag)/$(syntax "$f" fixed_frame_rate_flag)" "1/1/1"
  expect "$f" aud_per_frame "$(count_nal "$f" 9)" "${10}"
  if [ "$9" = 1 ]; then
    expect "$f" low_delay_hrd "$(syntax "$f" low_delay_hrd_flag)" 0
    # One buffering period per IDR, picture timing on every picture.
    expect "$f" buffering_period_sei "$(count_sei "$f" 0)" "$(count_nal "$f" 5)"
    expect "$f" pic_timing_sei "$(count_sei "$f" 1)" "${10}"
  fi
}

check_audio() {  # FILE CODEC RATE CHANNELS BITRATE
  local f="$1"
  expect "$f" codec "$(probe "$f" codec_name)" "$2"
  expect "$f" sample_rate "$(probe "$f" sample_rate)" "$3"
  expect "$f" channels "$(probe "$f" channels)" "$4"
  expect "$f" bit_rate "$(probe "$f" bit_rate)" "$5"
}

echo "make-fixtures: checking" >&2
check_video h264_1080p2398.264 High 41 1920 1080 24000/1001 progressive 1:1 1 48
check_video h264_720p5994.264 High 41 1280 720 60000/1001 progressive 1:1 1 120
check_video h264_576i25.264 High 41 720 576 25/1 tt 16:11 1 50
expect h264_576i25.264 frame_mbs_only "$(syntax h264_576i25.264 frame_mbs_only_flag)" 0
expect h264_576i25.264 aspect_ratio_idc "$(syntax h264_576i25.264 aspect_ratio_idc)" 4
check_video h264_nohrd.264 High 41 1920 1080 24000/1001 progressive 1:1 0 48
expect h264_1080p2398.264 hrd_bit_rate \
  "$(( ($(syntax h264_1080p2398.264 'bit_rate_value_minus1[0]') + 1) << (6 + $(syntax h264_1080p2398.264 bit_rate_scale)) ))" 20000000
expect h264_1080p2398.264 hrd_cpb_size \
  "$(( ($(syntax h264_1080p2398.264 'cpb_size_value_minus1[0]') + 1) << (4 + $(syntax h264_1080p2398.264 cpb_size_scale)) ))" 15000000
check_video fail_baseline.264 "Constrained Baseline" 41 1920 1080 24000/1001 progressive 1:1 1 48
check_video fail_level51.264 High 51 1920 1080 24000/1001 progressive 1:1 1 48
check_video fail_422.264 "High 4:2:2" 41 1920 1080 24000/1001 progressive 1:1 1 48
expect fail_422.264 chroma_format_idc "$(syntax fail_422.264 chroma_format_idc)" 2
check_video fail_15fps.264 High 41 1920 1080 15/1 progressive 1:1 1 30
check_video warn_1080p25.264 High 41 1920 1080 25/1 progressive 1:1 1 25

for f in ffmpeg_x264_1080p2398.264 fail_1080p30.264 fail_vfr.264; do
  traced "$f"
  expect "$f" fixed_frame_rate_flag "$(syntax "$f" fixed_frame_rate_flag)" 0
done
expect ffmpeg_x264_1080p2398.264 level "$(probe ffmpeg_x264_1080p2398.264 level)" 40
expect ffmpeg_x264_1080p2398.264 nal_hrd "$(syntax ffmpeg_x264_1080p2398.264 nal_hrd_parameters_present_flag)" 0
expect fail_vfr.264 nal_hrd "$(syntax fail_vfr.264 nal_hrd_parameters_present_flag)" 1

check_audio ac3_stereo.ac3 ac3 48000 2 448000
check_audio ac3_51.ac3 ac3 48000 6 640000
check_audio ac3_mono.ac3 ac3 48000 1 192000
check_audio fail_44k.ac3 ac3 44100 2 192000
check_audio fail_eac3.ac3 eac3 48000 2 192000

if [ "$fail" -ne 0 ]; then
  echo "make-fixtures: some fixtures are not what the tests expect" >&2
  exit 1
fi
du -ch "$out"/*.264 "$out"/*.ac3 | tail -n1 | sed 's/^/make-fixtures: total /' >&2
