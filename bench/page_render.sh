#!/bin/bash
# Drawing a 1080p menu page of 20 buttons as the player draws it: compiled
# and drawn, and drawn again from the decoded objects.
set -euo pipefail
build=${1:?usage: page_render.sh BUILD_DIR}
"$build/bench/bench_page_render" "${ZV_BENCH_RUNS:-5}"
