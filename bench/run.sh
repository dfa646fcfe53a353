#!/usr/bin/env bash
# Conversion benchmark: how close each output form runs to the speed at which
# the machine merely reads the job's case file and writes the output's bytes.
#
#   bash bench/run.sh BUILD_DIR      (make bench builds BUILD_DIR in release first)
#
# For each job size (100,000 and 10,000 cases) it writes a synthetic job with
# txjob, then times, as the median of BENCH_RUNS runs after one warm-up run:
#   - the I/O floor of each form: cat "intermed.x" three times (the converter
#     reads it in three passes: reading the masks, measuring, writing) and dd
#     as many bytes as the form's two output files hold;
#   - the conversion itself, started in the job directory with TXPERM set to
#     a scratch output directory.
# It prints seconds, input MB/s, output fields per second, peak resident
# memory and the ratio to the floor, then checks the targets. The other
# benchmark scripts of bench/ (codec.sh) run afterwards.
#
# Environment: BENCH_RUNS (5), BENCH_SIZES ("100000 10000"), BENCH_DIR
# (BUILD_DIR/bench-work; the jobs are kept there and rewritten only when the
# parameters or txjob change), BENCH_KEEP=1 keeps the output files.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
runs=${BENCH_RUNS:-5}
sizes=${BENCH_SIZES:-"100000 10000"}
work=${BENCH_DIR:-$build/bench-work}
timer=/usr/bin/time

# 300 single-coded and 100 multi-coded axes of 12 elements (every fifth with a
# no-data element), 20 incs (whole and real values, 5% missing), 2 weights.
job_params() { echo "cases=$1,single=300,multi=100,elements=12,incs=20,weights=2,seed=1"; }

# form  program  metadata file  data file
forms=(
  "xml tx2xml survey.xml survey.asc"
  "classic tx2ts survey.sss survey.asc"
  "spss tx2spss commands.xsp data.xsp"
  "csv tx2csv survey.txt survey.csv"
)

for tool in "$build/txjob" "$build/tx2fmt"; do
  [ -x "$tool" ] || { echo "bench: $tool is missing; run make bench" >&2; exit 1; }
done
[ -x "$timer" ] || { echo "bench: $timer is missing (apt-get install time)" >&2; exit 1; }
mkdir -p "$work"

now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
maximum() { printf '%s\n' "$@" | sort -g | tail -n 1; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
file_bytes() { stat -c %s "$1"; }

# Writes the job of $1 cases into $2 unless the same parameters and the same
# txjob wrote it already.
make_job() {
  local cases=$1 dir=$2 params
  params=$(job_params "$cases")
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
declare -A seconds_of rss_of ratio_of

report_header() {
  printf '\n%-8s %9s %8s %9s %9s %12s %9s %9s %7s\n' form cases seconds "in MB/s" "out MB" \
    "fields/s" "RSS MiB" "floor s" ratio
}

bench_size() {
  local cases=$1 dir="$work/job-$1" out="$work/out-$1"
  echo "bench: job of $cases cases in $dir"
  make_job "$cases" "$dir"
  mkdir -p "$out"
  local input_bytes
  input_bytes=$(cat "$dir/intermed.x" "$dir"/wmvals*.x 2>/dev/null | wc -c)

  # Warm-up runs: fill the page cache, learn the output sizes and the fields.
  local spec form program meta data
  declare -A out_bytes status_of
  for spec in "${forms[@]}"; do
    read -r form program meta data <<<"$spec"
    mkdir -p "$out/$form"
    convert_once "$dir" "$program" "$out/$form"
    if [ "$run_status" -eq 0 ] && ! [ -f "$out/$form/$meta" -a -f "$out/$form/$data" ]; then
      echo "the program did not write $meta and $data" >>"$out/$form/.stderr"
      run_status=99
    fi
    status_of[$form]=$run_status
    if [ "$run_status" -ne 0 ]; then
      echo "bench: $form failed at $cases cases (status $run_status): $(tail -c 300 "$out/$form/.stderr")" >&2
      failures=$((failures + 1))
      out_bytes[$form]=0
    else
      out_bytes[$form]=$(($(file_bytes "$out/$form/$meta") + $(file_bytes "$out/$form/$data")))
    fi
  done
  local fields
  fields=$(count_fields "$out")

  report_header
  local i times rss floors t_conv t_floor rss_max
  for spec in "${forms[@]}"; do
    read -r form program meta data <<<"$spec"
    if [ "${status_of[$form]}" -ne 0 ]; then
      printf '%-8s %9d %8s\n' "$form" "$cases" failed
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
    seconds_of[$form,$cases]=$t_conv
    rss_of[$form,$cases]=$rss_max
    ratio_of[$form,$cases]=$(calc '%.2f' "$t_conv / $t_floor")
    printf '%-8s %9d %8.3f %9.1f %9.1f %12.3g %9.1f %9.3f %7.2f\n' "$form" "$cases" "$t_conv" \
      "$(calc '%.3f' "$input_bytes / 1048576 / $t_conv")" \
      "$(calc '%.3f' "${out_bytes[$form]} / 1048576")" \
      "$(calc '%.6g' "$fields / $t_conv")" \
      "$(calc '%.3f' "$rss_max / 1024")" "$t_floor" "${ratio_of[$form,$cases]}"
  done
  echo "($fields output fields per conversion; input is intermed.x and the weight values," \
    "$(calc '%.1f' "$input_bytes / 1048576") MB)"
  [ "${BENCH_KEEP:-0}" = 1 ] || rm -f "$out"/*/survey.* "$out"/*/*.xsp "$out/floor.out"
}

check_targets() {
  local big small form
  read -r big small _ <<<"$sizes"
  [ -n "$big" ] || return 0
  echo
  echo "targets:"
  for spec in "${forms[@]}"; do
    read -r form _ <<<"$spec"
    [ -n "${seconds_of[$form,$big]:-}" ] || { echo "  $form: no figures"; continue; }
    local verdict="met" notes=()
    if awk -v r="${ratio_of[$form,$big]}" 'BEGIN { exit !(r > 3) }'; then
      verdict="MISSED"; notes+=("ratio ${ratio_of[$form,$big]} > 3")
    fi
    if [ "${rss_of[$form,$big]}" -ge $((64 * 1024)) ]; then
      verdict="MISSED"; notes+=("RSS $((rss_of[$form,$big] / 1024)) MiB >= 64")
    fi
    if [ -n "$small" ] && [ -n "${seconds_of[$form,$small]:-}" ]; then
      # Memory the same within 10%; time per case no more than 25% above the
      # small job's (its fixed start-up cost only makes the big job look better).
      if awk -v a="${rss_of[$form,$big]}" -v b="${rss_of[$form,$small]}" \
           'BEGIN { exit !(a > 1.1 * b || b > 1.1 * a) }'; then
        verdict="MISSED"; notes+=("RSS not flat: ${rss_of[$form,$small]} KiB -> ${rss_of[$form,$big]} KiB")
      fi
      local growth
      growth=$(calc '%.2f' "(${seconds_of[$form,$big]} / $big) / (${seconds_of[$form,$small]} / $small)")
      notes+=("time per case x$growth from $small to $big cases")
      if awk -v g="$growth" 'BEGIN { exit !(g > 1.25) }'; then verdict="MISSED"; fi
    fi
    echo "  $form: $verdict (${notes[*]})"
  done
}

for cases in $sizes; do bench_size "$cases"; done
check_targets

# The other benchmarks of bench/ (the codec's, codec.sh).
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  echo
  echo "$(basename "$script" .sh) benchmark:"
  bash "$script" "$build" || failures=$((failures + 1))
done

[ "$failures" -eq 0 ] || { echo "bench: $failures failure(s)" >&2; exit 1; }
