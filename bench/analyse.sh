#!/bin/bash
# Analysis benchmark on the shared 60-second 35 Mbit/s 1080p H.264 stream.
set -euo pipefail
build=${1:?usage: analyse.sh BUILD_DIR}
source "$(dirname "$0")/input.bash"
"$build/bench/bench_analyse" "$video" 3
