# Shared by the snp consumer tests: a fresh work folder per test, fixtures
# written by the agent's writer, and a check that fails the test with a text.
set -euo pipefail
: "${SNP:?}" "${SNP_FIXTURE:?}" "${SNP_DATA:?}" "${SNP_WORK:?}"
work="$SNP_WORK/$(basename "$0" .sh)"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The JaCoCo DTD, from Debian's libjacoco-java.
jacoco_dtd() {
  local jar=/usr/share/java/org.jacoco.report.jar
  [ -f "$jar" ] || fail "$jar missing: run scripts/setup"
  unzip -o -q -j "$jar" org/jacoco/report/xml/report.dtd -d "$1"
}
