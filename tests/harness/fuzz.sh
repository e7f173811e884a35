# Sourced by the fuzz tests: run_fuzzer FUZZER [LIBFUZZER FLAGS...] CORPUS...
# runs a libFuzzer target in the current folder from a fixed seed, so that a
# failure on one machine is the same failure on another (CCOVER_FUZZ_SEED
# explores further), and on failure prints the failing input in base64, so it
# can be replayed from a log alone: base64 -d > input && FUZZER input.
run_fuzzer() {
  local status=0 artifact
  rm -f crash-* leak-* timeout-* oom-* slow-unit-*  # earlier runs' inputs
  "$1" -seed="${CCOVER_FUZZ_SEED:-1}" "${@:2}" || status=$?
  if ((status != 0)); then
    for artifact in crash-* leak-* timeout-* oom-* slow-unit-*; do
      [[ -f $artifact ]] || continue
      echo "failing input $artifact, base64:"
      base64 -w 0 "$artifact" | head -c 30000
      echo
    done
  fi
  return "$status"
}
