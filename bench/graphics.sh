#!/bin/bash
# Menu graphics benchmark: quantizing and coding a full-screen background.
set -euo pipefail
build=${1:?usage: graphics.sh BUILD_DIR}
"$build/bench/bench_graphics" 5
