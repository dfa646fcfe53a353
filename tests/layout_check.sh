#!/usr/bin/env bash
# Dependencies point one way: the driver (run/convert, options, ptf) may use
# every stage; a writer the model, the readers and the run's shared services
# (run_state, misc, showmsg, nstore, readahead, writebehind); the model the
# readers and those services; a reader only those services; txlib nothing of
# the converter.
# Prints every include that breaks this and fails.
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2
base='run/(run_state|misc|showmsg|nstore|readahead|writebehind)\.h|txlib/'
declare -A allowed=(
  [fmtlib/write]="write/|model/|read/|$base"
  [fmtlib/model]="model/|read/|$base"
  [fmtlib/read]="read/|$base"
  [fmtlib/run/run_state.h]="$base"
  [fmtlib/run/misc]="$base"
  [fmtlib/run/showmsg]="$base"
  [fmtlib/run/nstore]="$base"
  [fmtlib/run/readahead]="$base"
  [fmtlib/run/writebehind]="$base"
  [txlib]='^[a-z_]+\.h$'
)
bad=0
for scope in "${!allowed[@]}"; do
  for file in $(ls -d "$scope"* 2>/dev/null | xargs -r find 2>/dev/null | grep -E '\.(h|cpp)$'); do
    while IFS= read -r target; do
      if ! [[ $target =~ ^(${allowed[$scope]}) ]]; then
        echo "$file includes \"$target\""
        bad=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
  done
done
exit $bad
