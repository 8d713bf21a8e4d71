#!/usr/bin/env bash
# Makes the chapter-file fixtures as the tools users have write them: a
# simple chapter list is muxed into a Matroska file by mkvmerge, then taken
# out again by mkvextract (XML and the simple CHAPTER01= form) and by ffmpeg
# (an ffmetadata file). The names hold a blank, a comma, '&' and non-ASCII
# letters; the times are 0, 0.5 and 1.25 s.
#
#   tests/data/make-chapter-fixtures.sh [OUTFOLDER]   (default: tests/data/chapters)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/chapters}"
mkdir -p "$out"
for tool in ffmpeg mkvmerge mkvextract; do
  command -v "$tool" >/dev/null || { echo "make-chapter-fixtures: $tool not found (run scripts/install-deps)" >&2; exit 2; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Opening\nCHAPTER02=00:00:00.500\nCHAPTER02NAME=The Storm, again\nCHAPTER03=00:00:01.250\nCHAPTER03NAME=Return & \xc3\xa9t\xc3\xa9\n' >"$work/list.txt"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=64x64:rate=24 -t 2 -c:v libx264 -f matroska "$work/plain.mkv"
mkvmerge -q -o "$work/chapters.mkv" --chapters "$work/list.txt" "$work/plain.mkv"
mkvextract "$work/chapters.mkv" chapters "$out/mkvextract.xml"
mkvextract "$work/chapters.mkv" chapters -s "$out/mkvextract_simple.txt"
ffmpeg -nostdin -v error -y -i "$work/chapters.mkv" -f ffmetadata "$out/ffmetadata.txt"
# The encoder line names the ffmpeg version; the chapters are what count.
sed -i '/^encoder=/d' "$out/ffmetadata.txt"
