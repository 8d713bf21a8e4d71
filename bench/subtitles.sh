#!/bin/bash
# Text subtitle benchmark: a two-hour SRT rendered into a PG stream.
set -euo pipefail
build=${1:?usage: subtitles.sh BUILD_DIR}
"$build/bench/bench_subtitles" 2
