#!/usr/bin/env bash
# Runs every benchmark script in bench/ against the given build directory.
# Usage: bench/run.sh [build directory]
set -euo pipefail
build=${1:-build}
here=$(dirname "$0")
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  bash "$script" "$build"
done
