#!/usr/bin/env bash
# Termination signals, on the real program: whenever one arrives, the run
# ends with the earlier set of outputs, or, when it came during the commit,
# as a success with the new set; no temporary file is ever left.
#   interrupt_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
name=interrupt_check
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
. "$source/tests/outputs_kit.sh"
out="$work/out"

# 1. SIGTERM at many moments, sent by strace as the run's main thread enters
# a system call: the opens of the job files, of the outputs' directories and
# of their temporary files; the lock, the links and the renames of the
# commit. Up to the lock the run ends by the signal with the earlier set;
# from the first link on the signal waits, and the commit it waited for
# makes the run a success.
for who in "${users[@]}"; do
  for moment in openat:{1..43..3} flock:1 linkat:{1..4} renameat:{1..2}; do
    call=${moment%:*} n=${moment#*:}
    [ "$call" = renameat ] && call='/^renameat2?$'
    earlier_set "$who" "$out"
    status=0
    (cd "$work/big" && TXPERM="$out" as "$who" strace -o /dev/null \
      -e inject="$call:signal=SIGTERM:when=$n" "$work/bin/tx2xml" >"$work/stdout" 2>/dev/null) ||
      status=$?
    what="$who, SIGTERM at $moment"
    case $moment:$status in
      openat:*:143 | flock:*:143)
        is_earlier "$out" || fail "$what: ended by it, but the directory holds $(listing "$out")" ;;
      openat:*:0 | linkat:*:0 | renameat:*:0)
        is_new "$out" big || fail "$what: a success, but the directory holds $(listing "$out")"
        grep -q "^Produced files survey.xml and survey.asc" "$work/stdout" ||
          fail "$what: a success without \"Produced files\"" ;;
      *) fail "$what: exit status $status" ;;
    esac
  done
done

# 2. Every catchable termination signal, with temporary files that have
# names: strace refuses the unnamed ones, as a file system without them
# would (they are opened as "." of their directory). survey.asc is a FIFO
# that nobody reads, so the run waits there with survey.xml staged until the
# signal comes; it ends by the signal, its temporary file removed.
for who in "${users[@]}"; do
  for sig in HUP INT QUIT TERM PIPE ALRM USR1 USR2 XCPU VTALRM PROF; do
    earlier_set "$who" "$out"
    rm "$out/survey.asc"
    mkfifo -m 666 "$out/survey.asc"
    # env: an asynchronous command starts with SIGINT and SIGQUIT ignored.
    (cd "$work/big" && ulimit -c 0 && TXPERM="$out" as "$who" env --default-signal \
      strace -o /dev/null -P . -e inject=openat:error=EOPNOTSUPP "$work/bin/tx2xml" \
      >/dev/null 2>&1) &
    await compgen -G "$out/.survey.xml.*" >/dev/null || fail "$who, $sig: survey.xml never staged"
    kill -s "$sig" "$(converters)"
    status=0
    wait $! || status=$?
    [ "$status" -eq $((128 + $(kill -l "$sig"))) ] || fail "$who, $sig: exit status $status"
    [ "$(listing "$out")" = "survey.asc survey.xml " ] && [ -p "$out/survey.asc" ] &&
      [ "$(cat "$out/survey.xml")" = "earlier survey.xml" ] ||
      fail "$who, $sig: the directory holds $(listing "$out")"
  done
done

# 3. SIGKILL cannot be caught, but an unnamed temporary file goes with the
# process: the run waits at the FIFO as above, holding survey.xml's.
for who in "${users[@]}"; do
  earlier_set "$who" "$out"
  rm "$out/survey.asc"
  mkfifo -m 666 "$out/survey.asc"
  (cd "$work/big" && TXPERM="$out" as "$who" "$work/bin/tx2xml" >/dev/null 2>&1) &
  # The descriptor of an unnamed file reads "<directory>/#<inode> (deleted)".
  held() { ls -l "/proc/$(converters)/fd" 2>/dev/null | grep -q "$out/#"; }
  await held || fail "$who, SIGKILL: survey.xml never staged"
  kill -s KILL "$(converters)"
  status=0
  wait $! || status=$?
  [ "$status" -eq 137 ] || fail "$who, SIGKILL: exit status $status"
  [ "$(listing "$out")" = "survey.asc survey.xml " ] &&
    [ "$(cat "$out/survey.xml")" = "earlier survey.xml" ] ||
    fail "$who, SIGKILL: the directory holds $(listing "$out")"
done
