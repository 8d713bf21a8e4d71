#!/bin/bash
# Container benchmark: the shared 60-second H.264 stream and a 640 kbit/s
# AC-3 track multiplexed into a clip from a Matroska file (mkvmerge, H.264
# stored length-prefixed) against the same streams as elementary files.
# Both are analysed first (timed too); the multiplexing runs from the page
# cache into a new output file each time (overwriting a clip costs the
# freeing of its pages, which would dilute the ratio). Reports the medians of ZV_BENCH_RUNS runs (default 3) as a ratio
# (target: at most 1.30) and the peak memory of each (target: flat, under
# 64 MB, for a container of any length). The CPU time (user + system) is
# reported beside the wall time: on a shared machine it varies less.
set -euo pipefail
build=${1:?usage: container.sh BUILD_DIR}
source "$(dirname "$0")/input.bash"
runs=${ZV_BENCH_RUNS:-3}
out=$(mktemp -d "${TMPDIR:-/tmp}/zelvane-container-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT
cp "$video" "$out/v.264"
cp "$audio" "$out/a.ac3"
mkvmerge -q -o "$out/m.mkv" --default-duration 0:24000/1001p "$out/v.264" "$out/a.ac3"

# mux OUT INPUT... : wall seconds, peak KiB and CPU seconds.
timed() {
  local t0 t1
  rm -f "$1"  # every run writes a new file, as the mux benchmark does
  t0=$(now)
  /usr/bin/time -f "%M %U %S" -o "$out/rss" "$build/zelvane" mux "$@" --yes > /dev/null 2> "$out/log" || { cat "$out/log" >&2; exit 1; }
  t1=$(now)
  read -r rss user sys < "$out/rss"
  awk -v a="$t0" -v b="$t1" -v r="$rss" -v u="$user" -v s="$sys" 'BEGIN {print b - a, r, u + s}'
}

# The first run analyses (and indexes the container); later ones reuse it.
read -r ea er _ < <(timed "$out/e.m2ts" "$out/v.264" "$out/a.ac3")
read -r ca cr _ < <(timed "$out/c.m2ts" "$out/m.mkv#0.264" "$out/m.mkv#1.ac3")
cat "$out/m.mkv" "$out/v.264" "$out/a.ac3" > /dev/null
load0=$(cut -d' ' -f1 /proc/loadavg)
e_times=() c_times=() e_rss=() c_rss=() e_cpu=() c_cpu=()
for _ in $(seq "$runs"); do
  read -r t r u < <(timed "$out/e.m2ts" "$out/v.264" "$out/a.ac3"); e_times+=("$t"); e_rss+=("$r"); e_cpu+=("$u")
  read -r t r u < <(timed "$out/c.m2ts" "$out/m.mkv#0.264" "$out/m.mkv#1.ac3"); c_times+=("$t"); c_rss+=("$r"); c_cpu+=("$u")
done
# Memory does not grow with the length: the same streams twice over.
mkvmerge -q -o "$out/m2.mkv" --default-duration 0:24000/1001p "$out/v.264" + "$out/v.264" "$out/a.ac3" + "$out/a.ac3"
timed "$out/c2.m2ts" "$out/m2.mkv#0.264" "$out/m2.mkv#1.ac3" > /dev/null
read -r _ c2r _ < <(timed "$out/c2.m2ts" "$out/m2.mkv#0.264" "$out/m2.mkv#1.ac3")
rm -f "$out/c2.m2ts" "$out/m2.mkv"
e=$(printf '%s\n' "${e_times[@]}" | median)
c=$(printf '%s\n' "${c_times[@]}" | median)
eu=$(printf '%s\n' "${e_cpu[@]}" | median)
cu=$(printf '%s\n' "${c_cpu[@]}" | median)
awk -v n="$(stat -c %s "$out/m.mkv")" -v e="$e" -v c="$c" -v ea="$ea" -v ca="$ca" -v eu="$eu" -v cu="$cu" -v c2r="$c2r" \
    -v l0="$load0" -v l1="$(cut -d' ' -f1 /proc/loadavg)" -v runs="$runs" \
    -v er="$(printf '%s\n' "${e_rss[@]}" | sort -n | tail -1)" -v cr="$(printf '%s\n' "${c_rss[@]}" | sort -n | tail -1)" 'BEGIN {
  printf "container: %.0f bytes of MKV; first run with analysis: elementary %.2f s, MKV %.2f s (ratio %.2f)\n", n, ea, ca, ca / ea
  printf "container: mux elementary %.3f s, MKV %.3f s, ratio %.2f (target <= 1.30); peak memory elementary %d KiB, MKV %d KiB (target < 65536)\n",
    e, c, c / e, er, cr
  printf "container: peak memory of an MKV twice as long %d KiB\n", c2r
  printf "container: CPU (user + system) elementary %.3f s, MKV %.3f s, ratio %.2f; medians of %d runs, load %s before, %s after\n",
    eu, cu, cu / eu, runs, l0, l1 }'
