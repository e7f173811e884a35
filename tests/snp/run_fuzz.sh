#!/bin/bash
# Runs the reader fuzz target for a bounded time from a seed corpus of real
# snapshots (the committed fixtures and fresh ones from the agent's writer).
# Fails on any crash, leak, sanitizer report or allocation over 64 MiB.
set -euo pipefail
fuzzer=$1
seconds=$2
corpus="$SNP_WORK/fuzz-corpus"
seeds="$SNP_WORK/fuzz-seeds"
rm -rf "$seeds"
mkdir -p "$corpus" "$seeds"
# Snapshots, and for the class-file path a jar and one class file.
cp "$SNP_DATA"/*.snp "$SNP_DATA"/*.jar "$SNP_DATA"/*.class "$seeds"/
for kind in small half-a half-b whole; do
  "$SNP_FIXTURE" "$kind" "$seeds/$kind.snp"
done
"$SNP_FIXTURE" large "$seeds/large.snp" 40
cd "$SNP_WORK"
# A fixed seed, so that a failure on one machine is the same failure on
# another; CCOVER_FUZZ_SEED explores further.
rm -f crash-* leak-* timeout-* oom-* slow-unit-*  # earlier runs' inputs
status=0
"$fuzzer" -seed="${CCOVER_FUZZ_SEED:-1}" -max_total_time="$seconds" -rss_limit_mb=1024 -malloc_limit_mb=64 -max_len=65536 \
  -timeout=20 -print_final_stats=1 "$corpus" "$seeds" || status=$?
if ((status != 0)); then
  # The failing input, so it can be replayed from a log alone:
  # base64 -d > crash && FUZZER crash
  for artifact in crash-* leak-* timeout-* oom-* slow-unit-*; do
    [[ -f $artifact ]] || continue
    echo "failing input $artifact, base64:"
    base64 -w 0 "$artifact" | head -c 30000
    echo
  done
fi
exit "$status"
