#!/bin/bash
# Menu compilation in megapixels a second: a page of full-width pictures and
# a 1080p page of 20 buttons in three states.
set -euo pipefail
build=${1:?usage: menu.sh BUILD_DIR}
"$build/bench/bench_menu" "${ZV_BENCH_RUNS:-5}"
