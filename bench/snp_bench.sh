#!/bin/bash
# Times snp summary, lcov, jacoco, cobertura, csv, html, check, dump and merge on a
# snapshot of 50,000 methods (5,000 classes of 10 methods, 8 line slots each)
# written by the agent's own document writer.
#
#   bench/snp_bench.sh [BUILD_DIR] [METHODS]     (default build/linux-x64, 50000)
#   SNP_BASELINE=OLD/bin/snp bench/snp_bench.sh ...
#
# Each command runs three times; the best wall time and the peak resident
# memory of that run are printed. With SNP_BASELINE, the report formats are
# also timed with that other snp, each run beside this one's in turn, and the
# ratio of the best times printed: on a shared machine only runs taken side by
# side compare. The work folder is made under $TMPDIR: html writes a file per
# source file, and on a disk whose file creation is slow (ext4 mounted with
# discard: each removed report slows the next one's creates) TMPDIR=/dev/shm
# times the tool rather than the file system.
set -euo pipefail
build=${1:-build/linux-x64}
methods=${2:-50000}
snp="$build/bin/snp"
fixture="$build/bin/snp_fixture"
[ -x "$snp" ] && [ -x "$fixture" ] || { echo "build snp and snp_fixture in $build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$fixture" large "$work/large.snp" "$methods"
echo "snapshot: $methods methods, $(stat -c %s "$work/large.snp") bytes"
# The same program's class files, for --classes (every class matches the run).
python3 "$(dirname "$0")/snp_bench_classes.py" "$work/classes" "$methods"
echo "class files: $(find "$work/classes" -name '*.class' | wc -l) in $work/classes"
printf '%-10s %10s %12s %14s\n' command "best ms" "peak RSS KiB" "output bytes"

run() {
  local name=$1 output=$2
  shift 2
  local best="" rss=""
  for _ in 1 2 3; do
    rm -rf "$output"
    local start end ms
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$work/rss" "$@" > "$work/stdout" 2> /dev/null
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; rss=$(cat "$work/rss"); fi
  done
  local size
  size=$(du -sb "$output" 2> /dev/null | cut -f1)
  printf '%-10s %10s %12s %14s\n' "$name" "$best" "$rss" "${size:-0}"
}

run summary "$work/stdout" "$snp" summary "$work/large.snp"
run lcov "$work/large.info" "$snp" lcov "$work/large.snp" -o "$work/large.info"
run jacoco "$work/jacoco.xml" "$snp" jacoco "$work/large.snp" -o "$work/jacoco.xml"
run cobertura "$work/cobertura.xml" "$snp" cobertura "$work/large.snp" -o "$work/cobertura.xml"
run html "$work/html" "$snp" html "$work/large.snp" -o "$work/html"
run dump "$work/dump.json" "$snp" dump "$work/large.snp" -o "$work/dump.json"
# Each report format with the class files (the issue's budget: 2 s each).
run summary+cl "$work/stdout" "$snp" summary "$work/large.snp" --classes "$work/classes"
run lcov+cl "$work/large.info" "$snp" lcov "$work/large.snp" --classes "$work/classes" -o "$work/large.info"
run jacoco+cl "$work/jacoco.xml" "$snp" jacoco "$work/large.snp" --classes "$work/classes" -o "$work/jacoco.xml"
run cobert+cl "$work/cobertura.xml" "$snp" cobertura "$work/large.snp" --classes "$work/classes" -o "$work/cobertura.xml"
run csv+cl "$work/large.csv" "$snp" csv "$work/large.snp" --classes "$work/classes" -o "$work/large.csv"
run html+cl "$work/html" "$snp" html "$work/large.snp" --classes "$work/classes" -o "$work/html"
run check+cl "$work/stdout" "$snp" check "$work/large.snp" --classes "$work/classes" --line 1
run merge "$work/merged.snp" "$snp" merge "$work/large.snp" "$work/large.snp" -o "$work/merged.snp"

# A baseline snp against this one, run for run.
if [ -n "${SNP_BASELINE:-}" ]; then
  elapsed_ms() {
    local output=$1
    shift
    rm -rf "$output"
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
  }
  printf '\n%-10s %12s %12s %8s\n' command "baseline ms" "this ms" ratio
  for format in jacoco html; do
    for classes in "" "--classes $work/classes"; do
      out="$work/out-$format"
      old="" new=""
      for _ in 1 2 3; do
        o=$(elapsed_ms "$out" "$SNP_BASELINE" $format "$work/large.snp" $classes -o "$out")
        n=$(elapsed_ms "$out" "$snp" $format "$work/large.snp" $classes -o "$out")
        if [ -z "$old" ] || [ "$o" -lt "$old" ]; then old=$o; fi
        if [ -z "$new" ] || [ "$n" -lt "$new" ]; then new=$n; fi
      done
      printf '%-10s %12s %12s %8s\n' "$format${classes:++cl}" "$old" "$new" \
        "$(awk -v a="$new" -v b="$old" 'BEGIN { printf "%.2f", a / b }')"
    done
  done
fi
