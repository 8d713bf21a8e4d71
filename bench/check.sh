#!/bin/bash
# Verifier benchmark: `zelvane check` of a disc folder holding the shared
# 60-second H.264 stream and a 640 kbit/s AC-3 track multiplexed into one
# clip (every packet read, the buffer models replayed), against `cat` of
# the clip, both from the page cache. The replay's own time is the check's
# less that of the same check of the folder without the clip (the program's
# start: loading its libraries alone takes tens of milliseconds). Reports
# the medians of ZV_BENCH_RUNS runs (default 5) as ratios to `cat` (target
# for the replay: at most 1.0), the machine's load, and the check's peak
# memory (target: flat, the same for a clip of any length).
set -euo pipefail
build=${1:?usage: check.sh BUILD_DIR}
source "$(dirname "$0")/input.bash"
runs=${ZV_BENCH_RUNS:-5}
out=$(mktemp -d "${TMPDIR:-/tmp}/zelvane-check-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT
cp "$video" "$audio" "$out/"
disc="$out/DISC"
mkdir -p "$disc/BDMV/STREAM" "$disc/BDMV/CLIPINF"
"$build/zelvane" mux "$disc/BDMV/STREAM/00000.m2ts" "$out/$(basename "$video")" "$out/$(basename "$audio")" --yes \
  > /dev/null 2> "$out/log" || { cat "$out/log" >&2; exit 1; }
mv "$disc/BDMV/STREAM/00000.clpi" "$disc/BDMV/CLIPINF/00000.clpi"
clip="$disc/BDMV/STREAM/00000.m2ts"
bytes=$(stat -c %s "$clip")
bare="$out/BARE"
mkdir -p "$bare/BDMV/STREAM" "$bare/BDMV/CLIPINF"
cp "$disc/BDMV/CLIPINF/00000.clpi" "$bare/BDMV/CLIPINF/"


cat "$clip" > /dev/null  # into the page cache for both
cat_times=() check_times=() bare_times=() rss=()
for _ in $(seq "$runs"); do
  t0=$(now)
  cat "$clip" > /dev/null
  t1=$(now)
  cat_times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')")
  t0=$(now)
  # The folder lacks the navigation files: check exits 2 with their findings.
  /usr/bin/time -f %M -o "$out/rss" "$build/zelvane" check "$disc" > "$out/report" 2> /dev/null || true
  t1=$(now)
  check_times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')")
  rss+=("$(cat "$out/rss")")
  t0=$(now)
  "$build/zelvane" check "$bare" > /dev/null 2>&1 || true
  t1=$(now)
  bare_times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')")
done
# The clip itself must have checked clean.
if grep -q 'STREAM/00000.m2ts' "$out/report"; then
  echo "check: findings on the benchmark clip:" >&2
  grep 'STREAM/00000.m2ts' "$out/report" >&2
  exit 1
fi

c=$(printf '%s\n' "${cat_times[@]}" | median)
k=$(printf '%s\n' "${check_times[@]}" | median)
s=$(printf '%s\n' "${bare_times[@]}" | median)
r=$(printf '%s\n' "${rss[@]}" | sort -n | tail -1)
awk -v n="$bytes" -v c="$c" -v k="$k" -v s="$s" -v r="$r" -v l="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
  printf "check: %.0f bytes of clip, cat %.3f s (%.0f MB/s), zelvane check %.3f s (ratio %.2f), of which start %.3f s and replay %.3f s (%.0f MB/s, ratio %.2f, target <= 1.00), peak memory %d KiB, load %s\n",
    n, c, n / c / 1e6, k, k / c, s, k - s, n / (k - s) / 1e6, (k - s) / c, r, l }'
