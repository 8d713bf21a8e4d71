#!/bin/bash
# Analysis benchmark on the shared 60-second 35 Mbit/s 1080p H.264 stream
# and its 640 kbit/s AC-3 track, each against a plain read of the file.
set -euo pipefail
build=${1:?usage: analyse.sh BUILD_DIR}
source "$(dirname "$0")/input.bash"
"$build/bench/bench_analyse" "$video" 3
"$build/bench/bench_analyse" "$audio" 3
