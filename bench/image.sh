#!/bin/bash
# Disc image benchmark: `zelvane image` of a disc folder holding one clip
# over 4 GiB (several extents, 32-bit sizes overflowed), against `cat` of
# the folder's files into one file, both synced to disk. Reports the median
# of ZV_BENCH_RUNS runs (default 3) as a ratio (target: within 1.2x), the
# image's peak memory (target: flat, independent of the clip's size), and
# checks the clip read back through 7-Zip. The clip is made of random data
# in temporary space (ZV_BENCH_IMAGE_MB, default 4300) and removed after.
set -euo pipefail
build=${1:?usage: image.sh BUILD_DIR}
zelvane="$build/zelvane"
mb=${ZV_BENCH_IMAGE_MB:-4300}
runs=${ZV_BENCH_RUNS:-3}
out=$(mktemp -d "${TMPDIR:-/tmp}/zelvane-image-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT
need=$(( mb * 3 + 512 ))
avail=$(df -Pm "$out" | awk 'NR==2 {print $4}')
if [ "$avail" -lt "$need" ]; then
  echo "image: needs $need MiB free in $out, has $avail; skipped" >&2
  exit 0
fi

disc="$out/DISC"
mkdir -p "$disc/BDMV/STREAM" "$disc/BDMV/CLIPINF" "$disc/BDMV/PLAYLIST" "$disc/CERTIFICATE"
head -c 200 /dev/urandom > "$disc/BDMV/index.bdmv"
head -c 600 /dev/urandom > "$disc/BDMV/MovieObject.bdmv"
head -c 300 /dev/urandom > "$disc/BDMV/PLAYLIST/00000.mpls"
head -c 5000 /dev/urandom > "$disc/BDMV/CLIPINF/00000.clpi"
head -c 104 /dev/urandom > "$disc/CERTIFICATE/id.bdmv"
# 64 MiB of random data repeated, then an odd tail so the clip ends inside a block.
head -c $(( 64 << 20 )) /dev/urandom > "$out/chunk"
clip="$disc/BDMV/STREAM/00000.m2ts"
: > "$clip"
for _ in $(seq $(( mb / 64 ))); do cat "$out/chunk" >> "$clip"; done
head -c 6144 /dev/urandom >> "$clip"
rm "$out/chunk"
files=$(find "$disc" -type f | sort)
bytes=$(du -cb $files | tail -1 | cut -f1)

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s.%N; }

cat_times=() image_times=() rss=()
for _ in $(seq "$runs"); do
  sync
  t0=$(now)
  # shellcheck disable=SC2086
  cat $files > "$out/cat.bin"
  sync "$out/cat.bin"
  t1=$(now)
  cat_times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')")
  rm "$out/cat.bin"
  sync
  t0=$(now)
  /usr/bin/time -f %M -o "$out/rss" "$zelvane" image "$disc" "$out/disc.iso" --yes --time 0 > /dev/null 2> "$out/log" ||
    { cat "$out/log" >&2; exit 1; }
  t1=$(now)
  image_times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')")
  rss+=("$(cat "$out/rss")")
done

c=$(printf '%s\n' "${cat_times[@]}" | median)
i=$(printf '%s\n' "${image_times[@]}" | median)
r=$(printf '%s\n' "${rss[@]}" | sort -n | tail -1)
awk -v n="$bytes" -v c="$c" -v i="$i" -v r="$r" 'BEGIN {
  printf "image: %.0f bytes of files, cat+sync %.2f s (%.0f MB/s), zelvane image %.2f s (%.0f MB/s), ratio %.2f (target <= 1.20), peak memory %d KiB\n",
    n, c, n / c / 1e6, i, n / i / 1e6, i / c, r }'

# The clip over 4 GiB as 7-Zip lists and reads it.
size=$(stat -c %s "$clip")
listed=$(7z l -slt "$out/disc.iso" BDMV/STREAM/00000.m2ts | awk -F' = ' '$1 == "Size" {print $2}' | tail -1)
if [ "$listed" != "$size" ]; then
  echo "image: 7z lists the clip with $listed bytes, the folder has $size" >&2
  exit 1
fi
if ! 7z e -so "$out/disc.iso" BDMV/STREAM/00000.m2ts 2> /dev/null | cmp -s - "$clip"; then
  echo "image: the clip read back through 7z differs from the folder's" >&2
  exit 1
fi
udfinfo "$out/disc.iso" | grep -q '^udfrev=2.50$' || { echo "image: udfinfo does not read UDF 2.50" >&2; exit 1; }
echo "image: the ${size}-byte clip reads back identical through 7z; udfinfo reads UDF 2.50"
