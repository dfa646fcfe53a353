#!/usr/bin/env bash
# A run's outputs change together or not at all, on the real program: a
# commit refused half-way (faults injected with strace), two runs that
# commit into one directory, protected outputs, the modes and owners of
# replaced ones, a file-size limit, a FIFO as an output, long paths and the
# standard output.
#   commit_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
name=commit_check
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
. "$source/tests/outputs_kit.sh"
out="$work/out"
# The unprivileged user of the suite.
user=${users[-1]}

# Runs form $1 of the big job as user $2 into $out, with the words after
# them before the program (a wrapper such as strace); sets $status, and the
# run's standard output and error in $work/stdout and $work/stderr.
convert() {
  local form=$1 who=$2
  shift 2
  status=0
  (cd "$work/big" && TXPERM="$out" as "$who" "$@" "$work/bin/tx2$form" \
    >"$work/stdout" 2>"$work/stderr") || status=$?
}

# 1. A commit refused half-way: strace fails the n-th link (naming a
# temporary file, keeping an earlier file aside) or rename. The earlier set
# stays byte for byte and nothing is added; the message names the file.
for who in "${users[@]}"; do
  for fault in linkat:{1..4} renameat:{1..2}; do
    call=${fault%:*} n=${fault#*:}
    [ "$call" = renameat ] && call='/^renameat2?$'
    earlier_set "$who" "$out"
    convert xml "$who" strace -o /dev/null -e inject="$call:error=EPERM:when=$n"
    [ "$status" -eq 1 ] || fail "$who, $fault refused: exit status $status"
    grep -Eq '^ERROR: cannot write "survey\.(xml|asc)": Operation not permitted$' "$work/stderr" ||
      fail "$who, $fault refused: $(cat "$work/stderr")"
    is_earlier "$out" || fail "$who, $fault refused: the directory holds $(listing "$out")"
    ! grep -q "Produced" "$work/stdout" || fail "$who, $fault refused: \"Produced files\""
  done
  # A new set refused half-way leaves nothing at all.
  rm -rf "$out"
  mkdir "$out"
  if [ "$who" = nobody ]; then chown 65534:65534 "$out"; fi
  convert xml "$who" strace -o /dev/null -e inject='/^renameat2?$:error=EPERM:when=2'
  [ "$status" -eq 1 ] && [ -z "$(listing "$out")" ] ||
    fail "$who, a new set refused half-way: status $status, $(listing "$out")"
done
# The earlier file cannot be put back either (every rename from the second
# on fails): it keeps its second name, and the message says so.
earlier_set "$user" "$out"
convert xml "$user" strace -o /dev/null -e inject='/^renameat2?$:error=EPERM:when=2+'
grep -q '^ERROR: the earlier "survey.xml" could not be put back: it is "\.survey\.xml\......." beside it' \
  "$work/stderr" || fail "a failed put-back: $(cat "$work/stderr")"
[ "$(cat "$out"/.survey.xml.*)" = "earlier survey.xml" ] || fail "a failed put-back lost the file"

# 2. Runs that commit into one directory take turns. Run A (the big job)
# stops between its two renames (strace stops it with SIGSTOP), holding
# the directory's lock; run B (the small job) then waits for that lock, and
# commits its whole set after A has finished.
earlier_set "$user" "$out"
(cd "$work/big" && TXPERM="$out" as "$user" strace -o /dev/null \
  -e inject='/^renameat2?$:signal=SIGSTOP:when=1' "$work/bin/tx2xml" >/dev/null 2>&1) &
a=$!
# Its first rename done, the stop comes before its second.
renamed() { cmp -s "$out/survey.xml" "$work/ref-big/survey.xml"; }
await renamed || fail "run A never reached its commit"
! flock -n "$out" true || fail "run A commits without the directory's lock"
(cd "$work/small" && TXPERM="$out" as "$user" "$work/bin/tx2xml" >/dev/null 2>&1) &
b=$!
waiting() { grep -Eq "^[0-9]+: -> FLOCK +ADVISORY +WRITE +$b " /proc/locks; }
await waiting || fail "run B does not wait for the lock"
cmp -s "$out/survey.xml" "$work/ref-big/survey.xml" && [ "$(cat "$out/survey.asc")" = "earlier survey.asc" ] ||
  fail "run A is not half-way through its commit"
# Resumed until it has ended: a SIGCONT that came before the stop would
# leave it stopped.
a_pid=$(converters | grep -v "^$b\$")
while kill -s CONT "$a_pid" 2>/dev/null; do sleep 0.05; done
wait "$a" && wait "$b" || fail "runs A and B did not both succeed"
is_new "$out" small || fail "two runs left a mixed set: $(listing "$out")"

# 3. Protected outputs stay protected: an output the user could not write in
# place is refused before anything is written, with the message of a failed
# open; the earlier set stays.
for protected in "survey.xml survey.asc" survey.asc; do
  earlier_set "$user" "$out"
  (cd "$out" && chmod 444 $protected)
  convert xml "$user"
  first=${protected%% *}
  [ "$status" -eq 1 ] && [ "$(tail -n 2 "$work/stderr")" = "$first: Permission denied
FATAL ERROR: Cannot open \"$first\" mode \"wt\"" ] || fail "protected $protected: $status, $(cat "$work/stderr")"
  is_earlier "$out" || fail "protected $protected: the directory holds $(listing "$out")"
done
# The immutable and append-only flags stop root too (where this system lets
# us set them).
if [ "$(id -u)" -eq 0 ] && earlier_set root "$out" && chattr +a "$out/survey.asc" 2>/dev/null; then
  chattr +i "$out/survey.xml"
  convert xml root
  [ "$status" -eq 1 ] && grep -q '^survey.xml: Operation not permitted$' "$work/stderr" ||
    fail "an immutable output: $status, $(cat "$work/stderr")"
  chattr -i "$out/survey.xml"
  convert xml root
  [ "$status" -eq 1 ] && grep -q '^survey.asc: Operation not permitted$' "$work/stderr" ||
    fail "an append-only output: $status, $(cat "$work/stderr")"
  chattr -a "$out/survey.asc"
  is_earlier "$out" || fail "flagged outputs: the directory holds $(listing "$out")"
fi

# 4. A replaced output keeps its permission bits, and under root its owner
# and group.
for who in "${users[@]}"; do
  earlier_set "$who" "$out"
  chmod 640 "$out/survey.xml"
  chmod 604 "$out/survey.asc"
  if [ "$who" = root ]; then
    chown 65534:65534 "$out/survey.xml"
    chown 1234:5678 "$out/survey.asc"
  fi
  owners=$(stat -c '%u:%g' "$out/survey.xml" "$out/survey.asc" | tr '\n' ' ')
  convert xml "$who"
  [ "$status" -eq 0 ] && is_new "$out" big || fail "$who, modes: $status, $(cat "$work/stderr")"
  [ "$(stat -c %a "$out/survey.xml" "$out/survey.asc" | tr '\n' ' ')" = "640 604 " ] ||
    fail "$who: the modes became $(stat -c %a "$out/survey.xml" "$out/survey.asc")"
  [ "$(stat -c '%u:%g' "$out/survey.xml" "$out/survey.asc" | tr '\n' ' ')" = "$owners" ] ||
    fail "$who: the owners became $(stat -c '%u:%g' "$out/survey.xml" "$out/survey.asc")"
done

# 5. A file-size limit (64 KiB: survey.xml fits, survey.asc does not) is a
# write error with its message, not a death by SIGXFSZ.
earlier_set "$user" "$out"
convert xml "$user" bash -c 'ulimit -f 64 && exec "$0" "$@"'
[ "$status" -eq 1 ] && grep -q '^ERROR: cannot write "survey.asc": File too large$' "$work/stderr" ||
  fail "a file-size limit: $status, $(cat "$work/stderr")"
is_earlier "$out" || fail "a file-size limit: the directory holds $(listing "$out")"

# 6. A FIFO as the data file is opened once, by the pass that writes its
# bytes: its reader receives the whole file, and the run ends.
mkdir "$work/ref-csv"
(cd "$work/big" && TXPERM="$work/ref-csv" "$work/bin/tx2csv" >/dev/null 2>&1)
for form in xml:survey.asc:ref-big ts:survey.asc:ref-big csv:survey.csv:ref-csv; do
  IFS=: read -r program data ref <<<"$form"
  rm -rf "$out"
  mkdir "$out"
  mkfifo -m 666 "$out/$data"
  if [ "$user" = nobody ]; then chown 65534:65534 "$out"; fi
  cat "$out/$data" >"$work/received" &
  reader=$!
  convert "$program" "$user" timeout 60
  # A run that never opened the FIFO leaves its reader waiting: a writer
  # that opens and closes it at once ends the reader.
  dd if=/dev/null of="$out/$data" oflag=nonblock status=none 2>/dev/null || true
  wait "$reader"
  [ "$status" -eq 0 ] && cmp -s "$work/received" "$work/$ref/$data" ||
    fail "tx2$program into a FIFO: $status, $(cat "$work/stderr"), $(wc -c <"$work/received") bytes"
done

# 7. Long paths. An output whose path just fits PATH_MAX is written (a
# temporary path beside it would not fit). A failed run in a job directory
# beyond PATH_MAX, with named temporary files (strace refuses the unnamed
# ones), leaves none of them.
path_max=$(getconf PATH_MAX /)
long="$work/long"
while [ $((${#long} + 201)) -lt $((path_max - 11)) ]; do long+=/$(printf 'l%.0s' {1..200}); done
long+=/$(printf 'm%.0s' $(seq $((path_max - 13 - ${#long}))))
mkdir -p "$long" && chmod -R a+rwx "$work/long"
[ $((${#long} + 11)) -eq $((path_max - 1)) ] || fail "the long path is ${#long} characters"
status=0
(cd "$work/big" && TXPERM="$long" as "$user" "$work/bin/tx2xml" >/dev/null 2>"$work/stderr") || status=$?
[ "$status" -eq 0 ] && is_new "$long" big || fail "an output path of PATH_MAX: $status, $(cat "$work/stderr")"
(
  cd "$work/long"
  deep=$(printf 'd%.0s' {1..200})
  for ((depth = 0; depth <= path_max / 200; depth++)); do mkdir "$deep" && cd "$deep"; done
  "$build/txjob" "$source/tests/cases/jobs/short-weights.json" job >/dev/null
  mkdir job/out
  chmod -R a+rwX .
  : >"$work/trace" && chmod 666 "$work/trace"
  status=0
  (TXPERM=out as "$user" strace -o "$work/trace" -P . -e inject=openat:error=EOPNOTSUPP \
    "$work/bin/tx2spss" job >/dev/null 2>"$work/stderr") || status=$?
  [ "$status" -eq 1 ] && grep -q 'wmvals1.x" is damaged' "$work/stderr" ||
    fail "a failed run beyond PATH_MAX: $status, $(cat "$work/stderr")"
  grep -q 'O_TMPFILE.*INJECTED' "$work/trace" || fail "beyond PATH_MAX: no named temporary file"
  [ -z "$(listing job/out)" ] || fail "a failed run beyond PATH_MAX left $(listing job/out)"
)

# 8. The standard output cannot take "Produced files": a message and
# status 1, although the outputs were replaced.
earlier_set "$user" "$out"
status=0
(cd "$work/big" && TXPERM="$out" as "$user" "$work/bin/tx2xml" >/dev/full 2>"$work/stderr") || status=$?
[ "$status" -eq 1 ] &&
  [ "$(tail -n 1 "$work/stderr")" = "cannot write the standard output: No space left on device" ] ||
  fail "a full standard output: $status, $(cat "$work/stderr")"
is_new "$out" big || fail "a full standard output: the directory holds $(listing "$out")"
# The usage text, too.
status=0
"$work/bin/tx2xml" -x >/dev/full 2>"$work/stderr" || status=$?
[ "$status" -eq 1 ] && grep -q "^cannot write the standard output: No space left" "$work/stderr" ||
  fail "the usage text into a full standard output: $status, $(cat "$work/stderr")"
