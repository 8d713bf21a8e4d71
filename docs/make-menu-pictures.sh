#!/usr/bin/env bash
# Draws docs/menu-TEMPLATE-main.png and docs/menu-TEMPLATE-chapters.png for
# the README: the sample movie with its chapters, two audio languages and
# two subtitle languages, menus made by `zelvane menu generate` with each
# template, each page drawn by `zelvane menu render` over the generated
# background and scaled to 640 pixels wide.
# Usage: docs/make-menu-pictures.sh build/zelvane
set -euo pipefail
zv=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
media="$here/../demo/media"
subs="$here/../tests/data/subtitles"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$media/movie.264" "$tmp/movie.264"
cp "$media/movie_audio_eng.ac3" "$tmp/movie_eng.ac3"
cp "$media/movie_audio_fra.ac3" "$tmp/movie_fra.ac3"
cp "$subs/subs_eng.sup" "$tmp/subs_eng.sup"
cp "$subs/subs_fra.sup" "$tmp/subs_fra.sup"
p="$tmp/disc.zvpj"
"$zv" new "$p" >/dev/null
"$zv" source add "$p" Movie#1/Clip#1 "$tmp/movie.264" "$tmp/movie_eng.ac3" "$tmp/movie_fra.ac3" \
  "$tmp/subs_eng.sup" "$tmp/subs_fra.sup" --yes >/dev/null 2>&1
"$zv" chapters "$p" Movie#1/Title#1/PI#1 import "$media/chapters.csv" >/dev/null
"$zv" set "$p" Movie#1 name="The Journey" >/dev/null
for t in classic modern cinema; do
  "$zv" menu generate "$p" "Top Menu/IG#1" --template "$t" --yes >/dev/null 2>"$tmp/generate.log" || { cat "$tmp/generate.log" >&2; exit 1; }
  grep -v "%\|Drawing" "$tmp/generate.log" >&2 || true
  for page in Main Chapters; do
    lower=$(echo "$page" | tr 'A-Z' 'a-z')
    "$zv" menu render "$p" "Top Menu/IG#1" "$page" "$tmp/page.png" --transparent >/dev/null
    convert "$tmp/disc-menus/background.png" "$tmp/page.png" -composite -resize 640x -strip \
      -define png:compression-level=9 "$here/menu-$t-$lower.png"
  done
done
