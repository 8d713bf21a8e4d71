#!/usr/bin/env bash
# Makes the WAV fixtures of the button-sound tests with ffmpeg's sine source,
# then checks each with ffprobe, so a changed encoder that no longer gives the
# intended file is caught here, not in a test.
#
#   tests/data/make-sound-fixtures.sh [OUTFOLDER]   (default: ./sounds beside this script)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/sounds}"
mkdir -p "$out"
for tool in ffmpeg ffprobe; do
  command -v "$tool" >/dev/null || { echo "make-sound-fixtures: $tool not found (run scripts/install-deps)" >&2; exit 2; }
done
FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)

# wav NAME RATE CHANNELS CODEC SECONDS: a sine per channel at its own pitch.
wav() {
  local name="$1" rate="$2" ch="$3" codec="$4" secs="$5"
  "${FF[@]}" -f lavfi -i "sine=frequency=440:sample_rate=$rate:duration=$secs" \
    -f lavfi -i "sine=frequency=660:sample_rate=$rate:duration=$secs" \
    -filter_complex "[0][1]amerge=inputs=2,pan=$( [ "$ch" = 1 ] && echo 'mono|c0=c0' || echo 'stereo|c0=c0|c1=c1')" \
    -c:a "$codec" -bitexact -map_metadata -1 "$out/$name"
}

wav stereo_48k.wav 48000 2 pcm_s16le 0.2     # 9600 frames: 38400 bytes of samples
wav mono_48k.wav   48000 1 pcm_s16le 0.1     # 4800 frames: 9600 bytes
wav click_48k.wav  48000 2 pcm_s16le 0.05    # 2400 frames
wav stereo_44k.wav 44100 2 pcm_s16le 0.05    # refused: 44.1 kHz
wav stereo_24.wav  48000 2 pcm_s24le 0.05    # refused: 24 bits
wav stereo_f32.wav 48000 2 pcm_f32le 0.05    # refused: float samples (tag 3)

# check NAME RATE CHANNELS FORMAT FRAMES
check() {
  local got
  got="$(ffprobe -v error -select_streams a:0 -count_packets -show_entries stream=sample_rate,channels,sample_fmt,duration_ts \
         -of csv=p=0 "$out/$1")"
  [ "$got" = "$4,$2,$3,$5" ] || { echo "make-sound-fixtures: $1 is \"$got\", expected \"$4,$2,$3,$5\"" >&2; exit 1; }
}
check stereo_48k.wav 48000 2 s16 9600
check mono_48k.wav   48000 1 s16 4800
check click_48k.wav  48000 2 s16 2400
check stereo_44k.wav 44100 2 s16 2205
check stereo_24.wav  48000 2 s32 2400
check stereo_f32.wav 48000 2 flt 2400
echo "make-sound-fixtures: made and checked $(ls "$out" | wc -l) files in $out"
