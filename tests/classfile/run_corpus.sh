#!/bin/bash
# The class-file corpus test: classes of a JDK's runtime image and of a few
# Debian jars, instrumented by classfile/ and then loaded and linked by that
# JDK with -Xverify:all. Fails on any verification error or any output that
# doesn't parse again. Runs on JDK 17 and, where it is installed, on JDK 25.
#
# usage: run_corpus.sh TOOL WORK JDK17 JDK25 EVERY
#   TOOL   classfile_instrument_tree
#   EVERY  sample of the runtime image: every EVERY-th class in name order
#          (the jars are taken whole)
set -euo pipefail
tool=$1
work=$2
jdk17=$3
jdk25=$4
every=$5
here=$(cd "$(dirname "$0")" && pwd)

jars=(guava jackson-databind jsoup commons-lang3 commons-collections4 junit4 asm)
# What the jars' classes refer to, for the verifier's assignability checks.
deps=(failureaccess jackson-core jackson-annotations hamcrest-core jsr305)

rm -rf "$work"
mkdir -p "$work/verifier"
"$jdk17/bin/javac" --release 11 -d "$work/verifier" "$here/CorpusVerifier.java"
classpath="$work/verifier"
for d in "${deps[@]}"; do
  [[ -f /usr/share/java/$d.jar ]] && classpath+=":/usr/share/java/$d.jar"
done

mkdir -p "$work/jars"
for j in "${jars[@]}"; do
  if [[ ! -f /usr/share/java/$j.jar ]]; then
    echo "corpus: /usr/share/java/$j.jar is missing: run scripts/setup" >&2
    exit 1
  fi
  # Versioned copies under META-INF are for newer JDKs' own loading: left out.
  unzip -qq -o "/usr/share/java/$j.jar" '*.class' -x 'META-INF/*' -d "$work/jars"
done

run() {
  local jdk=$1 label=$2
  local dir="$work/$label"
  mkdir -p "$dir"
  echo "== $label: $("$jdk/bin/java" -version 2>&1 | head -1)"
  "$jdk/bin/jimage" extract --dir "$dir/image" "$jdk/lib/modules"
  echo "runtime image, every $every-th class:"
  "$tool" "$dir/image" "$dir/image-out" --every "$every" --strip-first --originals "$dir/image-in"
  rm -rf "$dir/image"
  "$jdk/bin/java" -Xverify:all -Xshare:off -cp "$classpath" CorpusVerifier "$dir/image-in" \
    "$dir/image-out"
  echo "jars (${jars[*]}):"
  "$tool" "$work/jars" "$dir/jars-out"
  "$jdk/bin/java" -Xverify:all -Xshare:off -cp "$classpath" CorpusVerifier "$work/jars" \
    "$dir/jars-out"
  rm -rf "$dir"
}

run "$jdk17" jdk17
if [[ -x "$jdk25/bin/java" ]]; then
  run "$jdk25" jdk25
else
  echo "corpus: JDK 25 not found at $jdk25; its run is skipped"
fi
