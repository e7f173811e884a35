#!/bin/bash
# The built tool on bad input: one line on standard error, exit code 1, no
# crash (a signal would give 128 and more), nothing written; and the merge of
# two half runs through the command line equals the whole run.
source "$(dirname "$0")/common.sh"

"$SNP_FIXTURE" small small.snp
size=$(stat -c %s small.snp)
head -c $((size / 2)) small.snp > truncated.snp
head -c 4 small.snp > tiny.snp
cp small.snp corrupt.snp
printf '\xff\xff\xff\xff' | dd of=corrupt.snp bs=1 seek=44 conv=notrunc status=none
: > empty.snp
for input in missing.snp truncated.snp tiny.snp corrupt.snp empty.snp; do
  for command in "dump" "summary" "lcov -o out.info" "jacoco -o out.xml" "cobertura -o out.xml" "html -o out" \
      "merge small.snp -o out.snp"; do
    read -r -a words <<< "$command"
    code=0
    "$SNP" "${words[0]}" "$input" "${words[@]:1}" > out.txt 2> err.txt || code=$?
    [ "$code" = 1 ] || fail "$command $input: exit $code"
    [ "$(wc -l < err.txt)" = 1 ] || fail "$command $input: $(cat err.txt)"
    grep -q "^snp: $input: " err.txt || fail "$command $input: $(cat err.txt)"
    [ ! -s out.txt ] || fail "$command $input: printed $(cat out.txt)"
    for out in out.info out.xml out out.snp; do
      [ ! -e $out ] || fail "$command $input wrote $out"
    done
  done
done

"$SNP_FIXTURE" half-a a.snp
"$SNP_FIXTURE" half-b b.snp
"$SNP_FIXTURE" whole whole.snp
"$SNP" merge a.snp b.snp -o merged.snp
"$SNP" dump merged.snp | sed '/"Signature"/,/^  },/d' > merged.json
"$SNP" dump whole.snp | sed '/"Signature"/,/^  },/d' > whole.json
diff -u whole.json merged.json || fail "the halves do not merge to the whole"
"$SNP" merge small.snp small.snp -o double.snp
# Outputs go through files: grep -q ending a pipe early would fail the writer.
"$SNP" dump double.snp > double.json
grep -q '"lc": \[2, 8, 0, 6, 2\]' double.json || fail "merge with itself did not double main()"
"$SNP" summary --color always small.snp > coloured.txt
grep -q $'\x1b\[' coloured.txt || fail "no colour with --color always"
"$SNP" summary small.snp > plain.txt
if grep -q $'\x1b' plain.txt; then fail "colour when not on a terminal"; fi
echo "cli: errors and merge as expected"
