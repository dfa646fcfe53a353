#!/usr/bin/env bash
# Dependencies point one way, folder by folder:
#   driver -> read, model, write -> base -> txlib
# and among the stages writers -> model -> readers. The driver (convert,
# options, ptf) may include every stage; no stage includes the driver; the
# readers and the model include no writer; the base knows no stage; txlib
# knows nothing of the converter.
# Prints every include that breaks this and fails.
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2
declare -A allowed=(
  [fmtlib/driver]='driver/|write/|model/|read/|base/|txlib/'
  [fmtlib/write]='write/|model/|read/|base/|txlib/'
  [fmtlib/model]='model/|read/|base/|txlib/'
  [fmtlib/read]='read/|base/|txlib/'
  [fmtlib/base]='base/|txlib/'
  [txlib]='^[a-z_]+\.h$'
)
bad=0
for scope in "${!allowed[@]}"; do
  [ -d "$scope" ] || { echo "no folder $scope"; bad=1; continue; }
  while IFS= read -r file; do
    while IFS= read -r target; do
      if ! [[ $target =~ ^(${allowed[$scope]}) ]]; then
        echo "$file includes \"$target\""
        bad=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
  done < <(find "$scope" -name '*.h' -o -name '*.cpp')
done
# Every source of the converter lies in one of the folders above.
for file in $(find fmtlib -name '*.h' -o -name '*.cpp'); do
  [[ $file =~ ^fmtlib/(driver|write|model|read|base)/ ]] || { echo "$file lies outside the stage folders"; bad=1; }
done
exit $bad
