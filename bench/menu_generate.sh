#!/bin/bash
# Generated menus for a large project: 30 movies with 40 chapters each
# (every title's chapter pages, audio and subtitle pages, a pop-up menu per
# movie). Prints the time of `menu generate` the first time (which also
# encodes the background picture into the top menu's clip) and again with
# the clip in place, with and without chapter pictures. Goal: under 10 s.
set -euo pipefail
build=${1:?usage: menu_generate.sh BUILD_DIR}
z="$build/zelvane"
data="$(cd "$(dirname "$0")/../tests/data" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

{
  echo "FrameRate 23.976"
  echo "NonDrop"
  for i in $(seq 0 39); do printf '00:00:%02d:%02d Chapter %d\n' $((i / 24)) $((i % 24)) $((i + 1)); done
} >"$work/chapters.csv"
p="$work/p.zvpj"
"$z" new "$p" >/dev/null
for n in $(seq 2 30); do "$z" movie add "$p" >/dev/null; done
for n in $(seq 1 30); do
  cp "$data/h264_1080p2398.264" "$work/m$n.264"
  cp "$data/ac3_stereo.ac3" "$work/m${n}_eng.ac3"
  cp "$data/ac3_stereo.ac3" "$work/m${n}_deu.ac3"
  "$z" source add "$p" "Movie#$n/Clip#1" "$work/m$n.264" "$work/m${n}_eng.ac3" "$work/m${n}_deu.ac3" --yes >/dev/null 2>&1
  "$z" chapters "$p" "Movie#$n/Title#1/PI#1" import "$work/chapters.csv" >/dev/null
done

seconds() { local s e; s=$(date +%s.%N); "$@" >"$work/out.txt" 2>"$work/err.txt"; e=$(date +%s.%N); echo "$e - $s" | bc; }
first=$(seconds "$z" menu generate "$p" "Top Menu/IG#1" --yes)
again=$(seconds "$z" menu generate "$p" "Top Menu/IG#1" --yes)
summary=$(head -1 "$work/out.txt")
plain=$(seconds "$z" menu generate "$p" "Top Menu/IG#1" --yes --no-thumbnails)
echo "menu generate, 30 titles x 40 chapters: $summary"
grep -c "no chapter page\|show no picture" "$work/err.txt" | sed 's/^/  notes on what the top menu left out: /' || true
echo "  first run (with the background clip encoded): ${first} s"
echo "  again, with chapter pictures: ${again} s (goal < 10 s)"
echo "  again, without chapter pictures: ${plain} s"
