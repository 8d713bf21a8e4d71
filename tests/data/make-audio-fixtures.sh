#!/usr/bin/env bash
# Makes the LPCM (WAV) and Dolby TrueHD fixtures (1 s each) with ffmpeg's
# lavfi sources, then checks each with ffprobe.
#
#   tests/data/make-audio-fixtures.sh [OUTFOLDER]     (default: this script's folder)
#
# Every channel carries a tone of its own, so a channel that lands in the
# wrong place is caught by a per-channel comparison. A TrueHD file and its
# AC-3 core share a name (thd_51.thd, thd_51.ac3): that is how a source
# pairs them.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here}"
mkdir -p "$out"
command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null ||
  { echo "make-audio-fixtures: ffmpeg not found (run scripts/install-deps)" >&2; exit 2; }

FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)

tone() { echo "0.3*sin(2*PI*$1*t)"; }
# One tone per channel: 220 Hz, 330 Hz, ... so each channel differs.
tones() {
  local n="$1" e="" i
  for ((i = 0; i < n; i++)); do e+="${e:+|}$(tone $((220 + 110 * i)))"; done
  echo "$e"
}
src() {  # RATE LAYOUT CHANNELS
  echo "aevalsrc=exprs=$(tones "$3"):sample_rate=$1:channel_layout=$2:duration=1"
}

# wav NAME RATE LAYOUT CHANNELS CODEC
wav() {
  "${FF[@]}" -f lavfi -i "$(src "$2" "$3" "$4")" -fflags +bitexact -flags:a +bitexact \
    -c:a "$5" -f wav "$out/$1"
}
wav lpcm_20_16_48.wav 48000 stereo 2 pcm_s16le
# 5.1 and 7.1 are written in the extensible form with their channel masks
# (FL FR FC LFE BL BR, and FL FR FC LFE BL BR SL SR), as is 24-bit stereo.
wav lpcm_51_24_48.wav 48000 5.1 6 pcm_s24le
wav lpcm_71_24_96.wav 96000 7.1 8 pcm_s24le
wav lpcm_20_24_192.wav 192000 stereo 2 pcm_s24le

# TrueHD 5.1 and its AC-3 core from the same tones.
"${FF[@]}" -f lavfi -i "$(src 48000 5.1 6)" -fflags +bitexact -flags:a +bitexact \
  -c:a truehd -strict -2 -f truehd "$out/thd_51.thd"
"${FF[@]}" -f lavfi -i "$(src 48000 5.1 6)" -fflags +bitexact -flags:a +bitexact \
  -c:a ac3_fixed -b:a 448k -f ac3 "$out/thd_51.ac3"

fail=0
probe() { ffprobe -v error -select_streams 0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$out/$1" | head -n1; }
check() {  # FILE CODEC RATE CHANNELS LAYOUT
  local got
  got="$(probe "$1" codec_name) $(probe "$1" sample_rate) $(probe "$1" channels) $(probe "$1" channel_layout)"
  if [ "$got" != "$2 $3 $4 $5" ]; then
    echo "make-audio-fixtures: $1 is '$got', expected '$2 $3 $4 $5'" >&2; fail=1
  else
    printf '  %-22s %s\n' "$1" "$got"
  fi
}
# 16-bit stereo is the plain form (no channel mask); the others are extensible.
check lpcm_20_16_48.wav pcm_s16le 48000 2 unknown
check lpcm_51_24_48.wav pcm_s24le 48000 6 5.1
check lpcm_71_24_96.wav pcm_s24le 96000 8 7.1
check lpcm_20_24_192.wav pcm_s24le 192000 2 stereo
check thd_51.thd truehd 48000 6 "5.1(side)"
check thd_51.ac3 ac3 48000 6 "5.1(side)"
[ "$fail" -eq 0 ] || { echo "make-audio-fixtures: some fixtures are not what the tests expect" >&2; exit 1; }
