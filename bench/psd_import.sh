#!/bin/bash
# Menu import benchmark: a 1920x1080 layered design of 20 buttons in three states.
set -euo pipefail
build=${1:?usage: psd_import.sh BUILD_DIR}
"$build/bench/bench_psd_import" 3
