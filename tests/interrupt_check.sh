#!/usr/bin/env bash
# An interrupted run leaves no temporary file and every earlier output as it
# was. The weight values come through a FIFO that never delivers them, so the
# run waits in its measuring pass with survey.xml staged until
# SIGTERM arrives.
#   interrupt_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'exec 3>&- 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "interrupt_check: $*" >&2; exit 1; }

"$build/txjob" "$source/tests/cases/jobs/small.json" "$work/job" >/dev/null
mkdir "$work/out"
echo "earlier survey.xml" >"$work/out/survey.xml"
head -c 64 "$work/job/wmvals1.x" >"$work/header"  # the file header only
rm "$work/job/wmvals1.x"
mkfifo "$work/job/wmvals1.x"
exec 3<>"$work/job/wmvals1.x"
cat "$work/header" >&3

(cd "$work/job" && exec env TXPERM="$work/out" "$build/tx2xml" >/dev/null 2>&1) &
pid=$!
for ((i = 0; i < 200; i++)); do
  compgen -G "$work/out/.survey.xml.*" >/dev/null && break
  sleep 0.05
done
compgen -G "$work/out/.survey.xml.*" >/dev/null || fail "the run never staged survey.xml"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 143 ] || fail "exit status $status, not 143 (ended by SIGTERM)"
left=$(cd "$work/out" && ls -A)
[ "$left" = "survey.xml" ] || fail "the output directory holds: $left"
[ "$(cat "$work/out/survey.xml")" = "earlier survey.xml" ] || fail "survey.xml was changed"
