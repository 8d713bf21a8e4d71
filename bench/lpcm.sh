#!/bin/bash
# LPCM benchmark: a 2-hour 5.1 WAV track made in the benchmark's data folder
# (about 4.1 GB, removed afterwards).
set -euo pipefail
build=${1:?usage: lpcm.sh BUILD_DIR}
data=${ZV_BENCH_DATA:-${TMPDIR:-/tmp}/zelvane-bench}
mkdir -p "$data"
"$build/bench/bench_lpcm" "$data" 7200
