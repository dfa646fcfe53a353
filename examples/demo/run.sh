#!/usr/bin/env bash
# The demo: writes the demo job with the job builder into demo/job, converts it
# into all six forms (demo/out/xml, classic, spss, csv, sav, html), takes a
# picture of the codebook's first screen with headless chromium
# (demo/out/html/codebook.png) and lists what each conversion produced.
# Builds nothing itself: `make demo` builds first and installs chromium.
# Usage: bash examples/demo/run.sh [build directory, default build]
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac

for tool in txjob tx2xml tx2classic tx2spss tx2csv tx2sav tx2html; do
  if [ ! -x "$build/$tool" ]; then
    echo "demo: $build/$tool is missing; run make first" >&2
    exit 1
  fi
done

command -v chromium >/dev/null ||
  { echo "demo: chromium is missing; run scripts/install-deps demo" >&2; exit 1; }

rm -rf demo
mkdir -p demo/job
"$build/txjob" examples/demo/job.json demo/job

job=$root/demo/job
# The job's work files are read from TXTEMP; its axis files from the current
# directory, so every conversion runs inside the job directory.
declare -A files=([xml]="survey.xml survey.asc" [classic]="survey.sss survey.asc"
                  [spss]="commands.xsp data.xsp" [csv]="survey.txt survey.csv"
                  [sav]="survey.sav" [html]="codebook.html")
for form in xml classic spss csv sav html; do
  out=$root/demo/out/$form
  mkdir -p "$out"
  echo "== tx2$form"
  (cd "$job" && env -u TXSPSSRC -u TXSUFF TXTEMP="$job" TXPERM="$out" "$build/tx2$form")
  for name in ${files[$form]}; do
    if [ ! -s "$out/$name" ]; then
      echo "demo: tx2$form did not produce $out/$name" >&2
      exit 1
    fi
  done
done

# The codebook's first screen as a browser shows it, beside the page.
html=$root/demo/out/html
profile=$(mktemp -d)
chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
  --disable-component-update --disable-sync --no-first-run --disable-dev-shm-usage \
  --user-data-dir="$profile" \
  --hide-scrollbars --window-size=1280,900 --screenshot="$html/codebook.png" \
  "file://$html/codebook.html" >/dev/null 2>&1 || true
rm -rf "$profile"
if [ ! -s "$html/codebook.png" ]; then
  echo "demo: chromium did not take the picture $html/codebook.png" >&2
  exit 1
fi

echo "== produced files"
(cd demo/out && find . -type f | sort | while read -r f; do
  printf '%8d  demo/out/%s\n' "$(wc -c <"$f")" "${f#./}"
done)
