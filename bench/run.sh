#!/usr/bin/env bash
# Conversion benchmark: how close each output form runs to the speed at which
# the machine merely reads the job's case file and writes the output's bytes,
# and to data.table's fwrite writing a table of the same shape.
#
#   bash bench/run.sh BUILD_DIR      (make bench builds BUILD_DIR in release first)
#
# For each job of `jobs` and each size (100,000 and 10,000 cases) it writes a
# synthetic job with txjob, then times, as the median of BENCH_RUNS runs after
# one warm-up run:
#   - the I/O floor of each form: cat "intermed.x" three times (the converter
#     reads it in three passes: reading the masks, measuring, writing) and dd
#     as many bytes as the form's two output files hold;
#   - the conversion itself, started in the job directory with TXPERM set to
#     a scratch output directory.
# It prints seconds, input MB/s, output fields per second, peak resident
# memory and the ratio to the floor (for the system file also the ratio of
# the fastest conversion to the fastest floor). Then, for each job at the first size,
# R's data.table writes a table of as many rows as cases and one integer
# column per output field (each as wide as the field in the first CSV record)
# with fwrite(nThread = 1); it prints both rates and their ratio. Last, one
# form converts a job of BENCH_BIG cases once, for memory and linearity. It
# checks the targets (the codebook's page size among them), and the other
# benchmark scripts of bench/ (codec.sh, copy.sh) run afterwards.
#
# Environment: BENCH_RUNS (5), BENCH_SIZES ("100000 10000"), BENCH_BIG
# (1000000; 0 leaves the run out), BENCH_DIR (BUILD_DIR/bench-work; the jobs
# are kept there and rewritten only when the parameters or txjob change),
# BENCH_KEEP=1 keeps the output files.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
runs=${BENCH_RUNS:-5}
sizes=${BENCH_SIZES:-"100000 10000"}
big=${BENCH_BIG:-1000000}
work=${BENCH_DIR:-$build/bench-work}
timer=/usr/bin/time

# Targets: the ratio to the floor, peak resident memory, the growth of the
# time per case from the first size to BENCH_BIG cases.
max_ratio=3
max_rss_kib=$((16 * 1024))
max_growth=1.1
# The codebook of a job of 400 axes of 12 elements stays under about 2 MB.
max_page_bytes=2000000

# job name and txjob's parameters besides the number of cases: 300
# single-coded and 100 multi-coded axes of 12 elements (every fifth with a
# no-data element), with 20 incs (whole and real values, 5% missing) and 2
# weights, or without any.
jobs=(
  "bench single=300,multi=100,elements=12,incs=20,weights=2,seed=1"
  "noincs single=300,multi=100,elements=12,incs=0,weights=0,seed=1"
)
# The form and job of the BENCH_BIG run.
big_form=xml
big_job=bench

# form  program  output files (the metadata file, then the data file if any)
forms=(
  "xml tx2xml survey.xml survey.asc"
  "classic tx2ts survey.sss survey.asc"
  "spss tx2spss commands.xsp data.xsp"
  "csv tx2csv survey.txt survey.csv"
  "sav tx2sav survey.sav"
  "html tx2html codebook.html"
)
# Forms with a target of their own: the system file within 2.5 times its
# floor, taken as the fastest of the runs of each (the minimum shows the
# work a conversion needs, the least disturbed by a shared machine), and no
# slower than the SPSS syntax form, compared the same way; the codebook (one
# pass that counts the cases) no slower than Triple-S XML.
declare -A max_ratio_of=([sav]=2.5)
declare -A by_minimum=([sav]=1)
declare -A no_slower_than=([sav]=spss [html]=xml)
# The codebook writes a page of a few hundred KB, so its floor is little
# more than reading the case file: its one target of speed is the XML form.
declare -A no_floor=([html]=1)

for tool in "$build/txjob" "$build/tx2fmt"; do
  [ -x "$tool" ] || { echo "bench: $tool is missing; run make bench" >&2; exit 1; }
done
[ -x "$timer" ] || { echo "bench: $timer is missing (apt-get install time)" >&2; exit 1; }
command -v Rscript >/dev/null || { echo "bench: Rscript is missing (scripts/install-deps bench)" >&2; exit 1; }
mkdir -p "$work"

now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
minimum() { printf '%s\n' "$@" | sort -g | head -n 1; }
maximum() { printf '%s\n' "$@" | sort -g | tail -n 1; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
file_bytes() { stat -c %s "$1"; }

job_params() {
  local name=$1 cases=$2 spec
  for spec in "${jobs[@]}"; do
    [ "${spec%% *}" = "$name" ] && { echo "cases=$cases,${spec#* }"; return; }
  done
}

# Writes job $1 of $2 cases into $3 unless the same parameters and the same
# txjob wrote it already.
make_job() {
  local name=$1 cases=$2 dir=$3 params
  params=$(job_params "$name" "$cases")
  if [ -f "$dir/.params" ] && [ "$(cat "$dir/.params")" = "$params" ] &&
     [ "$dir/.params" -nt "$build/txjob" ]; then
    return
  fi
  rm -rf "$dir"
  "$build/txjob" --synthetic "$params" "$dir"
  echo "$params" >"$dir/.params"
}

# One timed conversion; sets run_seconds, run_rss_kib and run_status.
convert_once() {
  local dir=$1 program=$2 out=$3 t0 t1
  t0=$(now)
  set +e
  (cd "$dir" && TXTEMP=. TXPERM="$out" "$timer" -f '%M' -o "$out/.rusage" \
     "$build/$program" >"$out/.stdout" 2>"$out/.stderr")
  run_status=$?
  set -e
  t1=$(now)
  run_seconds=$(elapsed "$t0" "$t1")
  run_rss_kib=$(tail -n 1 "$out/.rusage")
}

# One timed I/O floor: the case file read three times, $2 bytes written.
floor_once() {
  local dir=$1 bytes=$2 out=$3 t0 t1
  t0=$(now)
  cat "$dir/intermed.x" >/dev/null
  cat "$dir/intermed.x" >/dev/null
  cat "$dir/intermed.x" >/dev/null
  dd if=/dev/zero of="$out/floor.out" bs=1M count="$bytes" iflag=count_bytes status=none
  t1=$(now)
  run_seconds=$(elapsed "$t0" "$t1")
}

# Output fields: one per tab and one per line of the CSV data file, else one
# per blank of the SPSS data file (every SPSS field starts with one blank).
count_fields() {
  local out=$1
  if [ -s "$out/csv/survey.csv" ]; then
    tr -cd '\t\n' <"$out/csv/survey.csv" | wc -c
  elif [ -s "$out/spss/data.xsp" ]; then
    tr -cd ' ' <"$out/spss/data.xsp" | wc -c
  else
    echo 0
  fi
}

failures=0
declare -A seconds_of rss_of ratio_of fields_of min_seconds_of min_ratio_of page_of
missed=()

report_header() {
  printf '\n%-8s %-7s %9s %8s %9s %9s %12s %9s %9s %7s\n' form job cases seconds "in MB/s" \
    "out MB" "fields/s" "RSS MiB" "floor s" ratio
}

bench_size() {
  local job=$1 cases=$2 dir="$work/$1-$2" out="$work/out-$1-$2"
  echo "bench: job $job of $cases cases in $dir"
  make_job "$job" "$cases" "$dir"
  mkdir -p "$out"
  local input_bytes f inputs=("$dir/intermed.x")
  for f in "$dir"/wmvals*.x; do [ -e "$f" ] && inputs+=("$f"); done
  input_bytes=$(cat "${inputs[@]}" | wc -c)

  # Warm-up runs: fill the page cache, learn the output sizes and the fields.
  local spec form program meta data
  declare -A out_bytes status_of
  for spec in "${forms[@]}"; do
    read -r form program meta data <<<"$spec"
    mkdir -p "$out/$form"
    convert_once "$dir" "$program" "$out/$form"
    for file in $meta $data; do
      if [ "$run_status" -eq 0 ] && ! [ -f "$out/$form/$file" ]; then
        echo "the program did not write $file" >>"$out/$form/.stderr"
        run_status=99
      fi
    done
    status_of[$form]=$run_status
    if [ "$run_status" -ne 0 ]; then
      echo "bench: $form failed at $cases cases (status $run_status): $(tail -c 300 "$out/$form/.stderr")" >&2
      failures=$((failures + 1))
      out_bytes[$form]=0
    else
      out_bytes[$form]=0
      for file in $meta $data; do
        out_bytes[$form]=$((out_bytes[$form] + $(file_bytes "$out/$form/$file")))
      done
    fi
  done
  local fields
  fields=$(count_fields "$out")
  fields_of[$job,$cases]=$fields
  page_of[$job,$cases]=${out_bytes[html]:-0}
  [ -s "$out/csv/survey.csv" ] && head -n 1 "$out/csv/survey.csv" >"$out/first-record"

  report_header
  local i times rss floors t_conv t_floor rss_max
  for spec in "${forms[@]}"; do
    read -r form program meta data <<<"$spec"
    if [ "${status_of[$form]}" -ne 0 ]; then
      printf '%-8s %-7s %9d %8s\n' "$form" "$job" "$cases" failed
      continue
    fi
    floor_once "$dir" "${out_bytes[$form]}" "$out"  # warm-up
    times=() rss=() floors=()
    for ((i = 0; i < runs; i++)); do
      floor_once "$dir" "${out_bytes[$form]}" "$out"
      floors+=("$run_seconds")
      convert_once "$dir" "$program" "$out/$form"
      times+=("$run_seconds")
      rss+=("$run_rss_kib")
    done
    t_conv=$(median "${times[@]}")
    t_floor=$(median "${floors[@]}")
    rss_max=$(maximum "${rss[@]}")
    seconds_of[$job,$form,$cases]=$t_conv
    rss_of[$job,$form,$cases]=$rss_max
    ratio_of[$job,$form,$cases]=$(calc '%.2f' "$t_conv / $t_floor")
    min_seconds_of[$job,$form,$cases]=$(minimum "${times[@]}")
    min_ratio_of[$job,$form,$cases]=$(calc '%.2f' "$(minimum "${times[@]}") / $(minimum "${floors[@]}")")
    printf '%-8s %-7s %9d %8.3f %9.1f %9.1f %12.3g %9.1f %9.3f %7.2f\n' "$form" "$job" "$cases" \
      "$t_conv" "$(calc '%.3f' "$input_bytes / 1048576 / $t_conv")" \
      "$(calc '%.3f' "${out_bytes[$form]} / 1048576")" \
      "$(calc '%.6g' "$fields / $t_conv")" \
      "$(calc '%.3f' "$rss_max / 1024")" "$t_floor" "${ratio_of[$job,$form,$cases]}"
  done
  for spec in "${forms[@]}"; do
    read -r form _ <<<"$spec"
    [ -n "${by_minimum[$form]:-}" ] && [ -n "${min_ratio_of[$job,$form,$cases]:-}" ] &&
      echo "$form: fastest run ${min_seconds_of[$job,$form,$cases]} s, ratio ${min_ratio_of[$job,$form,$cases]} to the fastest floor"
  done
  echo "($fields output fields per conversion; input is intermed.x and the weight values," \
    "$(calc '%.1f' "$input_bytes / 1048576") MB)"
  [ "${BENCH_KEEP:-0}" = 1 ] ||
    rm -f "$out"/*/survey.* "$out"/*/*.xsp "$out"/*/codebook.html "$out/floor.out"
}

# data.table's fwrite on a table of the shape of job $1 at $2 cases, beside
# each form's conversion.
fwrite_beside() {
  local job=$1 cases=$2 out="$work/out-$1-$2" spec form result
  [ -s "$out/first-record" ] || { echo "bench: no CSV record of $job to shape fwrite's table" >&2; failures=$((failures + 1)); return; }
  result=$(Rscript "$here/fwrite.R" "$out/first-record" "$cases" "$out/fwrite.csv" "$runs")
  local fw_seconds fw_fields fw_rate
  read -r fw_seconds fw_fields <<<"$result"
  fw_rate=$(calc '%.6g' "$fw_fields / $fw_seconds")
  echo
  echo "fwrite(nThread = 1), job $job, $cases rows of $((fw_fields / cases)) integer columns:" \
    "$fw_seconds s, $fw_rate fields/s"
  printf '%-8s %-7s %12s %12s %7s\n' form job "fields/s" "fwrite's" ratio
  for spec in "${forms[@]}"; do
    read -r form _ <<<"$spec"
    [ -n "${seconds_of[$job,$form,$cases]:-}" ] || continue
    local ours ratio
    ours=$(calc '%.6g' "${fields_of[$job,$cases]} / ${seconds_of[$job,$form,$cases]}")
    ratio=$(calc '%.2f' "$ours / $fw_rate")
    printf '%-8s %-7s %12.3g %12.3g %7s\n' "$form" "$job" "$ours" "$fw_rate" "$ratio"
    if [ -z "${no_slower_than[$form]:-}" ] && above 1 "$ratio"; then
      missed+=("$form $job: $ours fields/s below fwrite's $fw_rate")
    fi
  done
  return 0
}

# One conversion of BENCH_BIG cases, timed once.
big_run() {
  local cases=$1 first=$2 dir="$work/$big_job-$1" out="$work/out-$big_job-$1"
  local spec form program
  for spec in "${forms[@]}"; do
    read -r form program _ <<<"$spec"
    [ "$form" = "$big_form" ] && break
  done
  echo
  echo "bench: job $big_job of $cases cases in $dir, form $big_form, timed once"
  make_job "$big_job" "$cases" "$dir"
  mkdir -p "$out"
  convert_once "$dir" "$program" "$out"
  rm -f "$out"/survey.* "$out"/*.xsp "$out"/codebook.html
  if [ "$run_status" -ne 0 ]; then
    echo "bench: $big_form failed at $cases cases (status $run_status)" >&2
    failures=$((failures + 1))
    return
  fi
  seconds_of[$big_job,$big_form,$cases]=$run_seconds
  rss_of[$big_job,$big_form,$cases]=$run_rss_kib
  local growth
  growth=$(calc '%.3f' "($run_seconds / $cases) / (${seconds_of[$big_job,$big_form,$first]} / $first)")
  printf '%-8s %-7s %9d %8.3f s, RSS %.1f MiB; time per case x%s of that at %d cases\n' \
    "$big_form" "$big_job" "$cases" "$run_seconds" "$(calc '%.3f' "$run_rss_kib / 1024")" \
    "$growth" "$first"
  above "$growth" "$max_growth" && missed+=("$big_form $big_job: time per case x$growth from $first to $cases cases")
  return 0
}

check_targets() {
  local first=$1 job spec form key rss
  echo
  echo "targets:"
  for spec in "${jobs[@]}"; do
    job=${spec%% *}
    for spec in "${forms[@]}"; do
      read -r form _ <<<"$spec"
      key="$job,$form,$first"
      [ -n "${ratio_of[$key]:-}" ] || { missed+=("$form $job: no figures"); continue; }
      # The median, or for a form with by_minimum the fastest run.
      local seconds=${seconds_of[$key]} ratio=${ratio_of[$key]} limit=${max_ratio_of[$form]:-$max_ratio}
      if [ -n "${by_minimum[$form]:-}" ]; then
        seconds=${min_seconds_of[$key]} ratio=${min_ratio_of[$key]}
      fi
      if [ -n "${no_slower_than[$form]:-}" ]; then
        local other="$job,${no_slower_than[$form]},$first" other_seconds
        other_seconds=${seconds_of[$other]:-0}
        [ -n "${by_minimum[$form]:-}" ] && other_seconds=${min_seconds_of[$other]:-0}
        above "$seconds" "$other_seconds" &&
          missed+=("$form $job: $seconds s, slower than ${no_slower_than[$form]} ($other_seconds s)")
      fi
      [ -z "${no_floor[$form]:-}" ] && above "$ratio" "$limit" &&
        missed+=("$form $job: ratio $ratio to the floor > $limit")
    done
  done
  for key in "${!page_of[@]}"; do
    [ "${page_of[$key]}" -le "$max_page_bytes" ] ||
      missed+=("html ${key//,/ } cases: codebook.html of ${page_of[$key]} bytes > $max_page_bytes")
  done
  # Peak memory: under the limit everywhere, and the same within 10% at
  # every size of the same form and job.
  local low high
  for key in "${!rss_of[@]}"; do
    rss=${rss_of[$key]}
    [ "$rss" -le "$max_rss_kib" ] || missed+=("${key//,/ } cases: RSS $((rss / 1024)) MiB > $((max_rss_kib / 1024))")
    job=${key%%,*}
    form=${key#*,}
    form=${form%%,*}
    low=$rss high=$rss
    for other in "${!rss_of[@]}"; do
      [[ $other == "$job,$form,"* ]] || continue
      [ "${rss_of[$other]}" -lt "$low" ] && low=${rss_of[$other]}
      [ "${rss_of[$other]}" -gt "$high" ] && high=${rss_of[$other]}
    done
    above "$high" "$(calc '%.0f' "1.1 * $low")" && missed+=("${key//,/ } cases: RSS not flat ($low to $high KiB)")
  done
  if [ "${#missed[@]}" -eq 0 ]; then
    echo "  all met: ratio to the floor <= $max_ratio (sav: fastest runs <= ${max_ratio_of[sav]}, no slower than spss; html: no slower than xml), fields/s >= fwrite's, RSS <= $((max_rss_kib / 1024)) MiB and flat, time per case x$max_growth at most, codebook <= $max_page_bytes bytes"
  else
    printf '  MISSED: %s\n' "${missed[@]}" | sort -u
  fi
}

read -r first _ <<<"$sizes"
for spec in "${jobs[@]}"; do
  for cases in $sizes; do bench_size "${spec%% *}" "$cases"; done
done
for spec in "${jobs[@]}"; do fwrite_beside "${spec%% *}" "$first"; done
[ "$big" -gt 0 ] && big_run "$big" "$first"
check_targets "$first"

# The other benchmarks of bench/ (the codec, codec.sh; the ready-text copy, copy.sh).
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  echo
  echo "$(basename "$script" .sh) benchmark:"
  bash "$script" "$build" || failures=$((failures + 1))
done

[ "$failures" -eq 0 ] || { echo "bench: $failures failure(s)" >&2; exit 1; }
[ "${#missed[@]}" -eq 0 ] || { echo "bench: ${#missed[@]} target(s) missed" >&2; exit 1; }
