#!/usr/bin/env bash
# Runs every fuzz target for N seconds from its seed corpus.
#   fuzz/run.sh <build directory> [seconds per target] [target ...]
# New inputs go to fuzz/out/<target>/corpus (not committed); a crash leaves
# its input in fuzz/out/<target>/ and ends the script with status 1. Copy such
# an input, made as small as it goes (-minimize_crash=1), into
# tests/regressions/<target>/ so that make test replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: fuzz/run.sh <build directory> [seconds] [target ...]}
seconds=${2:-60}
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(header compio descrips axes intermed incs title options job bytecode)
fi

# -malloc_limit_mb: no reader may take more memory than its input justifies,
# so a single large allocation counts as a finding.
# -close_fd_mask=3: the readers' warnings would drown the fuzzer's report.
status=0
for t in "${targets[@]}"; do
  out=fuzz/out/$t
  mkdir -p "$out/corpus"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  echo "== $t: ${seconds}s"
  if ! "$build/fuzz/fuzz_$t" "$out/corpus" "fuzz/corpus/$t" "${dict[@]}" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
      -max_len=16384 -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$out/" ${FUZZ_FLAGS:-} 2> "$out/log"; then
    status=1
    echo "   FOUND a fault: see $out/log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$out/log" | sed 's/^/   /' || true
done
exit $status
