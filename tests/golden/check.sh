#!/bin/bash
# Builds the demo disc, a disc with two movies, trailers and chapters, and a
# `zelvane mux` clip of every usable fixture, and compares the md5 of every
# written file with tests/golden/hashes.txt. A change that should not alter
# any output must leave the list as it is.
#
#   tests/golden/check.sh ZELVANE            compare (exit 1 on a difference)
#   tests/golden/check.sh ZELVANE --update   rewrite hashes.txt from ZELVANE
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
zv=$(realpath "${1:?usage: check.sh ZELVANE [--update]}")
update=${2:-}
list=$here/hashes.txt
media=$src/demo/media
data=$src/tests/data

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Settings and the remembered output folder stay inside the scratch folder.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"

run() { "$zv" "$@" >/dev/null 2>"$work/err" || { echo "failed: zelvane $*" >&2; cat "$work/err" >&2; exit 2; }; }

# 1. The bundled demo disc.
run demo "$work/demo" --media "$media" --yes

# 2. Two movies with chapters, trailers, two audio languages.
p=$work/two/two.zvpj
mkdir -p "$work/two/m"
cp "$media"/*.264 "$media"/*.ac3 "$media"/*.csv "$work/two/m/"
m=$work/two/m
run new "$p"
run source add "$p" Movie#1/Clip#1 "$m/movie.264" "$m/movie_audio_eng.ac3" "$m/movie_audio_fra.ac3"
run set "$p" Movie#1/Clip#1/Track#3 language=fra
run chapters "$p" Movie#1/Title#1/PI#1 import "$m/chapters.csv"
run movie add "$p"
run source add "$p" Movie#2/Clip#1 "$m/trailer.264" "$m/trailer_audio.ac3"
run chapters "$p" Movie#2/Title#1/PI#1 add 00:00:01:00 Second
run clip add "$p" Trailers
run source add "$p" Trailers/Clip#1 "$m/trailer.264" "$m/trailer_audio.ac3"
run item add "$p" Trailers/Title#1 Clip#1
run build "$p" "$work/two/out"

# 3. One clip per fixture stream that the multiplexer takes, with audio
# where the video has some to go with it.
mkdir -p "$work/mux"
cp "$data"/*.264 "$data"/*.ac3 "$work/mux/"
cd "$work/mux"
for v in h264_*.264; do run mux "${v%.264}.m2ts" "$v"; done
run mux h264_ac3.m2ts h264_1080p2398.264 ac3_51.ac3 --lang fra ac3_stereo.ac3 ac3_mono.ac3

hashes() {
  cd "$work"
  find demo/Zelvane two/out mux -type f \( -path '*/Zelvane/*' -o -name '*.m2ts' -o -name '*.clpi' \) -print0 |
    LC_ALL=C sort -z | xargs -0 md5sum
}

if [ "$update" = --update ]; then
  hashes >"$list"
  echo "wrote $(wc -l <"$list") hashes to $list"
  exit 0
fi
if diff -u "$list" <(hashes) >"$work/diff"; then
  echo "golden outputs: $(wc -l <"$list") files identical"
else
  echo "golden outputs differ from $list:" >&2
  cat "$work/diff" >&2
  exit 1
fi
