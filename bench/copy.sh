#!/usr/bin/env bash
# Ready-text copy benchmark: the data writer's 16-byte copies against memcpy
# of the exact size, on texts of the sizes a plan holds. The wide copy stays
# only while memcpy takes clearly longer.
# Usage: bench/copy.sh [build directory]
set -euo pipefail
build=${1:-build}
"$build/bench/copy_bench" "${COPY_MILLIONS:-20}"
