#!/bin/bash
# Runs the reader fuzz target for a bounded time from a seed corpus of real
# snapshots (the committed fixtures and fresh ones from the agent's writer).
# Fails on any crash, leak, sanitizer report or allocation over 64 MiB.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../harness/fuzz.sh"
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
run_fuzzer "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=1024 -malloc_limit_mb=64 -max_len=65536 \
  -timeout=20 -print_final_stats=1 "$corpus" "$seeds"
