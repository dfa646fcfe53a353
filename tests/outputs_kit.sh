# Shared by interrupt_check.sh and commit_check.sh (sourced, after $build,
# $source and $name are set): a scratch directory any user reaches, the
# program and its links in it, two jobs and their outputs from plain runs,
# and the checks of an output directory.
work=$(mktemp -d)
# Files a test made immutable or append-only must lose the flag before they go.
trap 'chattr -R -ia "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
chmod 755 "$work"
fail() {
  echo "$name: $*" >&2
  exit 1
}

# Every run writes the same bytes: the date and time are pinned.
export SOURCE_DATE_EPOCH=1773480360 TZ=UTC
# In the sanitizer build: LeakSanitizer cannot work in a process that strace
# traces (it fails the run), so these runs leave leaks to tx_tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
unset TXSPSSRC TXTEMP TXPERM TXSUFF TXHOME

mkdir "$work/bin"
cp "$build/tx2fmt" "$work/bin/tx2fmt"
for form in xml ts csv spss; do ln -s tx2fmt "$work/bin/tx2$form"; done
# A job whose data pass takes many writes (1.7 MB of survey.asc), and a
# small one whose outputs differ from it.
"$build/txjob" --synthetic cases=20000,single=8,multi=4,elements=12,incs=2,weights=1,seed=5 \
  "$work/big" >/dev/null
"$build/txjob" "$source/tests/cases/jobs/small.json" "$work/small" >/dev/null
chmod -R a+rX "$work"
for job in big small; do
  mkdir "$work/ref-$job"
  (cd "$work/$job" && TXPERM="$work/ref-$job" "$work/bin/tx2xml" >/dev/null 2>&1) ||
    fail "the $job job does not convert"
done

# The users runs are made as: root and nobody when the suite runs as root
# (permission bits are no obstacle to root), else the user running it.
if [ "$(id -u)" -eq 0 ]; then users=(root nobody); else users=(self); fi
# Becomes command "$@" run as user $1 (exec: call it in a subshell, whose
# process then is the command's).
as() {
  local who=$1
  shift
  if [ "$who" = nobody ]; then
    exec setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"
  else
    exec "$@"
  fi
}

# A fresh output directory $2 of user $1 holding the earlier set.
earlier_set() {
  rm -rf "$2"
  mkdir "$2"
  echo "earlier survey.xml" >"$2/survey.xml"
  echo "earlier survey.asc" >"$2/survey.asc"
  if [ "$1" = nobody ]; then chown -R 65534:65534 "$2"; fi
}
# The files of directory $1, hidden ones included, on one line.
listing() { (cd "$1" && ls -A | tr '\n' ' '); }
# Directory $1 holds the earlier set and nothing else.
is_earlier() {
  [ "$(listing "$1")" = "survey.asc survey.xml " ] &&
    [ "$(cat "$1/survey.xml")" = "earlier survey.xml" ] &&
    [ "$(cat "$1/survey.asc")" = "earlier survey.asc" ]
}
# Directory $1 holds job $2's new set and nothing else.
is_new() {
  [ "$(listing "$1")" = "survey.asc survey.xml " ] &&
    cmp -s "$1/survey.xml" "$work/ref-$2/survey.xml" &&
    cmp -s "$1/survey.asc" "$work/ref-$2/survey.asc"
}

# The processes running the converter (wrappers such as strace name it too,
# but not first), by number.
converters() {
  local p first
  for p in /proc/[0-9]*; do
    first=
    { IFS= read -r -d '' first <"$p/cmdline"; } 2>/dev/null || true
    if [ "$first" = "$work/bin/tx2xml" ]; then echo "${p#/proc/}"; fi
  done
}

# Waits until command "$@" succeeds: the program has reached a point the
# test controls (a FIFO no one opens), so this is no race with a window.
await() {
  local i
  for ((i = 0; i < 600; i++)); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}
