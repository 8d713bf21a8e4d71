#!/bin/bash
# Runs every benchmark script of this folder against the given build.
set -euo pipefail
build=${1:-build-bench}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  bash "$script" "$build" || status=1
done
exit $status
