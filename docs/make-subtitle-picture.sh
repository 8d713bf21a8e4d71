#!/usr/bin/env bash
# Draws docs/subtitle-frame.png for the README: the test SRT rendered by
# `zelvane subtitles render`, decoded again by ffmpeg's PGS decoder and laid
# over a test picture at 4.5 s, where a bottom and a top event overlap.
# Usage: docs/make-subtitle-picture.sh build/zelvane
set -euo pipefail
zv=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$zv" subtitles render "$here/../tests/data/subtitles/film_eng.srt" "$tmp/s.sup" --video 1280x720@23.976 --yes >/dev/null
ffmpeg -v error -copyts -f lavfi -i "smptehdbars=s=1280x720:r=24000/1001:d=6" -i "$tmp/s.sup" \
  -filter_complex "[0:v]eq=brightness=-0.25[v];[v][1:s]overlay" -copyts -ss 4.5 -frames:v 1 -y "$here/subtitle-frame.png"
