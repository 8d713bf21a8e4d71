#!/usr/bin/env bash
# Makes the container fixtures out of the committed elementary fixtures, as
# users' files are made: mkvmerge stores the H.264 length-prefixed with two
# AC-3 tracks, a PGS track and chapters (and an MKV with zlib-compressed
# audio); ffmpeg writes an MP4 with AAC, a
# camera-like .mts (192-byte packets), a DVD .vob and an MKV with HEVC.
#
#   tests/data/make-container-fixtures.sh [OUTFOLDER]   (default: tests/data/containers)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/containers}"
mkdir -p "$out"
for tool in ffmpeg mkvmerge; do
  command -v "$tool" >/dev/null || { echo "make-container-fixtures: $tool not found (run scripts/install-deps)" >&2; exit 2; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)

printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Opening\nCHAPTER02=00:00:00.500\nCHAPTER02NAME=The Storm, again\n' >"$work/chapters.txt"
mkvmerge -q -o "$out/movie.mkv" --chapters "$work/chapters.txt" \
  --language 0:und "$here/h264_1080p2398.264" \
  --language 0:eng --track-name "0:English 5.1" "$here/ac3_51.ac3" \
  --language 0:fre --track-name "0:Français" --default-track-flag 0:no "$here/ac3_stereo.ac3" \
  --language 0:ger --forced-display-flag 0:yes "$here/subtitles/subs_eng.sup"

# Raw H.264 has no time stamps; mkvmerge gives them from the rate.
mkvmerge -q -o "$work/v1080.mkv" --default-duration 0:24000/1001p "$here/h264_1080p2398.264"
# Audio whose blocks are compressed: its bytes are not the file's as stored.
mkvmerge -q -o "$out/compressed.mkv" --default-duration 0:24000/1001p "$here/h264_1080p2398.264" \
  --compression 0:zlib "$here/ac3_stereo.ac3"
mkvmerge -q -o "$work/v720.mkv" --default-duration 0:60000/1001p "$here/h264_720p5994.264"

# A phone's file: H.264 and AAC.
"${FF[@]}" -i "$work/v1080.mkv" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=1" \
  -map 0:v -map 1:a -c:v copy -c:a aac -b:a 64k -metadata:s:a:0 language=eng -shortest "$out/phone.mp4"

# A camera's AVCHD file: H.264 and AC-3 in 192-byte packets.
"${FF[@]}" -i "$work/v720.mkv" -i "$here/ac3_stereo.ac3" -map 0:v -map 1:a -c copy \
  -f mpegts -mpegts_m2ts_mode 1 "$out/camera.mts"

# A DVD's program stream: MPEG-2 and AC-3.
"${FF[@]}" -fflags +genpts -i "$here/m2v_480i2997.m2v" -i "$here/ac3_stereo.ac3" -map 0:v -map 1:a -c copy -f vob "$out/dvd.vob"

# Video a disc cannot carry.
"${FF[@]}" -f lavfi -i testsrc2=size=320x240:rate=24 -t 0.5 -c:v libx265 -x265-params log-level=none \
  -threads 1 "$out/hevc.mkv"

du -ch "$out"/* | tail -n1 | sed 's/^/make-container-fixtures: total /' >&2
