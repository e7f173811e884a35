#!/usr/bin/env bash
# ccover-maven-plugin in a real build: tests/maven/demo run with `mvn -o -q
# verify`, Surefire with forkCount=3 (each test class in a JVM of its own).
# Checks: the tests pass; no "Corrupted STDOUT" from Surefire; target/ holds
# one snapshot with every fork's classes and exact counts and no test class;
# the reports exist; check fails the build when a threshold is above the
# coverage (when the plugin's snp has a check command).
#
# Environment (set by ctest): CCOVER_ROOT (the source tree), CCOVER_PRESET.
# Sized: three one-method test classes; the whole script takes about 55 s on two
# shared cores (the plugin's build, one verify, two more for check).
set -euo pipefail

root=${CCOVER_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
preset=${CCOVER_PRESET:-linux-x64}
work=$root/build/$preset/maven-test
repo=$root/build/$preset/maven-repo
snp=$root/build/$preset/bin/snp
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

"$root/scripts/maven-plugin" --repo "$repo" --preset "$preset" > "$work.plugin.log" 2>&1 || {
  cat "$work.plugin.log"
  echo "0 passed, 1 failed"
  exit 1
}

rm -rf "$work"
cp -r "$root/tests/maven/demo" "$work"
cd "$work"
mvn_run() {
  mvn -o -q -B -Dstyle.color=never -Dmaven.repo.local="$repo" "$@"
}

if ! mvn_run verify > build.log 2>&1; then
  cat build.log
  fail "mvn -o -q verify failed"
fi
grep -q "Corrupted STDOUT" build.log && fail "Surefire saw a corrupted STDOUT"
ls target/surefire-reports/*.dumpstream > /dev/null 2>&1 && fail "Surefire wrote dump streams"

pids=$(for f in target/pids/*; do cat "$f"; echo; done | sort -u | grep -c .)
[[ $pids == 3 ]] || fail "expected 3 test JVMs, saw $pids"

snapshots=$(find target -maxdepth 1 -name '*.snp' | wc -l)
[[ $snapshots == 1 ]] || fail "expected one snapshot in target/, found $snapshots"
leftovers=$(find target -maxdepth 1 -name '*.tmp' | wc -l)
[[ $leftovers == 0 ]] || fail "temporary files left in target/"

# Every fork's class, with the count its test made, and no test class.
if ! "$snp" dump target/ccover.snp > dump.json; then
  fail "snp cannot read target/ccover.snp"
else
  python3 - dump.json <<'PY' || failures=$((failures + 1))
import json, sys
d = json.load(open(sys.argv[1]))
classes = {c["n"]: c for c in d["ClassRoot"].values()}
methods = {m["id"]: m for m in d["MethodRoot"].values()}
want = {("demo/Shapes", "square"): 7, ("demo/Words", "count"): 11, ("demo/Primes", "isPrime"): 13}
bad = []
for (cls, name), count in want.items():
    c = classes.get(cls)
    found = [methods[i] for i in (c["mid"] if c else []) if methods[i]["n"] == name]
    if not found or found[0]["i"] != count:
        bad.append("%s.%s: %s invocations, expected %d" % (cls, name, found[0]["i"] if found else "no", count))
tests = [n for n in classes if n.endswith("Test")]
if tests:
    bad.append("test classes instrumented: %s" % tests)
for b in bad:
    print("FAIL: " + b)
sys.exit(1 if bad else 0)
PY
fi

for report in html/index.html jacoco.xml cobertura.xml lcov.info; do
  [[ -s target/site/ccover/$report ]] || fail "no report target/site/ccover/$report"
done

# check: a threshold above the coverage fails the build, one below passes.
if "$snp" --help | grep -qE '^\s+check\s'; then
  if mvn_run verify -Dccover.lineMinimum=90 > check-fail.log 2>&1; then
    fail "check passed with lineMinimum=90"
  elif ! grep -q "coverage below the thresholds" check-fail.log; then
    cat check-fail.log
    fail "check failed the build for another reason"
  fi
  mvn_run verify -Dccover.lineMinimum=10 > check-pass.log 2>&1 ||
    { cat check-pass.log; fail "check failed with lineMinimum=10"; }
else
  echo "SKIP: check (this snp has no check command)"
fi

if [[ $failures == 0 ]]; then
  echo "1 passed, 0 failed"
else
  echo "0 passed, 1 failed"
  exit 1
fi
