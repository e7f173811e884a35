#!/bin/bash
# Rebuilds ../kotlin.jar from app/ with the JVM compiler that npm's
# kotlin-compiler package carries (Debian has no kotlinc). The jar is
# committed: the tests read its class files and never need the compiler.
#   tests/data/snp/kotlin-src/build.sh [JAVA_HOME]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
java_home="${1:-/usr/lib/jvm/java-17-openjdk-amd64}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
npm install --prefix "$work/npm" --no-save --no-audit --no-fund kotlin-compiler@2.4.20 >/dev/null
JAVA_HOME="$java_home" bash "$work/npm/node_modules/kotlin-compiler/bin/kotlinc-jvm" \
  "$here"/app/kt/*.kt -d "$work/classes"
rm -f "$here/../kotlin.jar"
(cd "$work/classes" && "$java_home/bin/jar" cf "$here/../kotlin.jar" app)
