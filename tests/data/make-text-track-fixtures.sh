#!/usr/bin/env bash
# Makes the containers with text-subtitle tracks out of committed fixtures,
# as users' files are made:
#   text_tracks.mkv  mkvmerge: the 2 s 1080p H.264, subtitles/track_eng.srt
#                    (S_TEXT/UTF8, eng) and subtitles/track_fra.ass
#                    (S_TEXT/ASS, fre, forced)
#   text_track.mp4   ffmpeg: the same video with track_eng.srt as mov_text
#
#   tests/data/make-text-track-fixtures.sh [OUTFOLDER]   (default: tests/data/containers)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/containers}"
mkdir -p "$out"
for tool in ffmpeg mkvmerge; do
  command -v "$tool" >/dev/null || { echo "make-text-track-fixtures: $tool not found (run scripts/install-deps)" >&2; exit 2; }
done
subs="$here/subtitles"

mkvmerge -q -o "$out/text_tracks.mkv" \
  --default-duration 0:24000/1001p "$here/h264_1080p2398.264" \
  --language 0:eng "$subs/track_eng.srt" \
  --language 0:fre --forced-display-flag 0:yes "$subs/track_fra.ass"

ffmpeg -nostdin -hide_banner -loglevel error -y -r 24000/1001 -i "$here/h264_1080p2398.264" -i "$subs/track_eng.srt" \
  -map 0:v -map 1:s -c:v copy -c:s mov_text -metadata:s:s:0 language=eng -bitexact "$out/text_track.mp4"
echo "make-text-track-fixtures: wrote text_tracks.mkv text_track.mp4" >&2
