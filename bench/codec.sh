#!/usr/bin/env bash
# Codec benchmark: ~50 MB of survey-like text compressed and decompressed by
# compio and by the standard compress program on the same data.
# Usage: bench/codec.sh [build directory]
set -euo pipefail
build=${1:-build}
bench="$build/bench/codec_bench"
compress=$(command -v compress || true)
if [ -z "$compress" ]; then
  echo "codec: compress is not installed; skipped"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" generate "$work/survey.txt" "${CODEC_MB:-50}"
"$bench" run "$work/survey.txt" "$work" "$compress"
