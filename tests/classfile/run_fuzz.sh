#!/bin/bash
# Runs the class-file fuzz target for a bounded time from a seed corpus of
# real classes (a small jar's and the bundled samples'). Fails on any crash,
# sanitizer report, leak, or output that doesn't parse again.
# usage: run_fuzz.sh FUZZER SECONDS WORK SAMPLES_JAR
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../harness/fuzz.sh"
fuzzer=$1
seconds=$2
work=$3
samples=$4
corpus="$work/corpus"
seeds="$work/seeds"
rm -rf "$seeds"
mkdir -p "$corpus" "$seeds"
unzip -q -o -j /usr/share/java/jsoup.jar 'org/jsoup/nodes/*.class' -d "$seeds"
[[ -f "$samples" ]] && unzip -q -o -j "$samples" '*.class' -d "$seeds"
cd "$work"
run_fuzzer "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=1024 -malloc_limit_mb=256 -max_len=65536 \
  -timeout=20 -print_final_stats=1 "$corpus" "$seeds"
