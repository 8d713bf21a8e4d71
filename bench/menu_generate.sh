#!/bin/bash
# Generated menus for a large project: 30 movies with 40 chapters each
# (every title's chapter pages, audio and subtitle pages, a pop-up menu per
# movie). Prints the time of `menu generate` the first time (which also
# encodes the background picture into the top menu's clip) and again with
# the clip in place, with and without chapter pictures, each with the time
# of its steps (--times). Goal: under 10 s.
# TITLES=5 makes a smaller project while trying things out.
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
titles=${TITLES:-30}
for n in $(seq 2 "$titles"); do "$z" movie add "$p" >/dev/null; done
for n in $(seq 1 "$titles"); do
  cp "$data/h264_1080p2398.264" "$work/m$n.264"
  cp "$data/ac3_stereo.ac3" "$work/m${n}_eng.ac3"
  cp "$data/ac3_stereo.ac3" "$work/m${n}_deu.ac3"
  "$z" source add "$p" "Movie#$n/Clip#1" "$work/m$n.264" "$work/m${n}_eng.ac3" "$work/m${n}_deu.ac3" --yes >/dev/null 2>&1
  "$z" chapters "$p" "Movie#$n/Title#1/PI#1" import "$work/chapters.csv" >/dev/null
done

# Wall time of one run; its steps go to $work/NAME.times.
seconds() {
  local name=$1 s e
  shift
  s=$(date +%s.%N)
  "$@" --times >"$work/out.txt" 2>"$work/err.txt"
  e=$(date +%s.%N)
  grep '^time: ' "$work/out.txt" | sed 's/^time: /    /' >"$work/$name.times"
  echo "$e - $s" | bc
}
first=$(seconds first "$z" menu generate "$p" "Top Menu/IG#1" --yes)
again=$(seconds again "$z" menu generate "$p" "Top Menu/IG#1" --yes)
summary=$(grep -v "^time: " "$work/out.txt" | head -1)
plain=$(seconds plain "$z" menu generate "$p" "Top Menu/IG#1" --yes --no-thumbnails)
echo "menu generate, $titles titles x 40 chapters: $summary"
grep -c "no chapter page\|show no picture" "$work/err.txt" | sed 's/^/  notes on what the top menu left out: /' || true
echo "  first run (with the background clip encoded): ${first} s"
cat "$work/first.times"
echo "  again, with chapter pictures: ${again} s (goal < 10 s)"
cat "$work/again.times"
echo "  again, without chapter pictures: ${plain} s"
cat "$work/plain.times"
echo "  load average: $(cut -d' ' -f1-3 /proc/loadavg)"
