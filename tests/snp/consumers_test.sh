#!/bin/bash
# The reports are accepted by their real consumers: genhtml renders the LCOV
# tracefile without a warning, xmllint validates the JaCoCo XML against
# JaCoCo's own report.dtd, and the Cobertura XML parses with rates that agree
# with its counts.
source "$(dirname "$0")/common.sh"

"$SNP_FIXTURE" small small.snp
"$SNP_FIXTURE" large large.snp 2000
"$SNP_FIXTURE" empty empty.snp

# LCOV: with the sources (genhtml reads every SF file) and without.
"$SNP" lcov small.snp -o small.info --source-root "$SNP_DATA/src" 2> lcov.err
grep -q "1 class without a source file name left out" lcov.err || fail "lcov: no note for app/Gen"
genhtml --output-directory html-src small.info > genhtml.out 2> genhtml.err || fail "genhtml: $(cat genhtml.err)"
if grep -qi -e warning -e error genhtml.err genhtml.out; then fail "genhtml complained: $(cat genhtml.err)"; fi
# Main.java 10 lines (7 hit), Strings.java 3 (2), Café.java 2 (1).
grep -q "lines......: 66.7% (10 of 15 lines)" genhtml.out || fail "genhtml's line figures: $(cat genhtml.out)"
grep -q "functions..: 85.7% (6 of 7 functions)" genhtml.out || fail "genhtml's function figures: $(cat genhtml.out)"
page=html-src/tools/Main.java.gcov.html  # genhtml drops the common prefix
[ -f $page ] || fail "genhtml wrote no page for Main.java"
grep -q "public static void main" $page || fail "no source on the page"
"$SNP" lcov large.snp -o large.info
genhtml --no-source --output-directory html-large large.info > genhtml-large.out 2> genhtml-large.err \
  || fail "genhtml: $(cat genhtml-large.err)"
if grep -qi -e warning -e error genhtml-large.err; then fail "genhtml complained: $(cat genhtml-large.err)"; fi

# JaCoCo: valid against report.dtd, with the DTD beside the file as its
# DOCTYPE names it, so that xmllint has nothing to warn about.
jacoco_dtd .
for snapshot in small large empty; do
  "$SNP" jacoco $snapshot.snp -o $snapshot-jacoco.xml
  xmllint --noout --dtdvalid report.dtd $snapshot-jacoco.xml > xmllint.out 2>&1 || fail "xmllint: $(cat xmllint.out)"
  [ ! -s xmllint.out ] || fail "xmllint said: $(cat xmllint.out)"
done
# An invalid report is refused: the check can fail.
sed 's/<counter type="LINE"/<counter type="LINES"/' small-jacoco.xml > broken.xml
if xmllint --noout --dtdvalid report.dtd broken.xml 2> /dev/null; then fail "xmllint accepted a broken report"; fi

# Cobertura: well-formed, and every line-rate is lines covered / lines.
"$SNP" cobertura small.snp -o cobertura.xml --source-root "$SNP_DATA/src"
xmllint --noout cobertura.xml || fail "Cobertura XML does not parse"
valid=$(xmllint --xpath 'string(/coverage/@lines-valid)' cobertura.xml)
covered=$(xmllint --xpath 'string(/coverage/@lines-covered)' cobertura.xml)
rate=$(xmllint --xpath 'string(/coverage/@line-rate)' cobertura.xml)
[ "$valid" = "$(xmllint --xpath 'count(//class/lines/line)' cobertura.xml)" ] || fail "lines-valid $valid"
[ "$covered" = "$(xmllint --xpath 'count(//class/lines/line[@hits!="0"])' cobertura.xml)" ] || fail "lines-covered $covered"
awk -v r="$rate" -v c="$covered" -v v="$valid" 'BEGIN { d = r - c / v; exit (d < 1e-6 && d > -1e-6) ? 0 : 1 }' \
  || fail "line-rate $rate is not $covered/$valid"
classes=$(xmllint --xpath 'count(//class)' cobertura.xml)
for i in $(seq 1 "$classes"); do
  c="(//class)[$i]"
  r=$(xmllint --xpath "string($c/@line-rate)" cobertura.xml)
  n=$(xmllint --xpath "count($c/lines/line)" cobertura.xml)
  h=$(xmllint --xpath "count($c/lines/line[@hits!=\"0\"])" cobertura.xml)
  awk -v r="$r" -v h="$h" -v n="$n" 'BEGIN { e = n == 0 ? 1 : h / n; d = r - e; exit (d < 1e-6 && d > -1e-6) ? 0 : 1 }' \
    || fail "class $i: line-rate $r, $h of $n lines hit"
done

# One headline: small.snp with the class files of classes.jar (a class and an
# interface the run never loaded) through every format gives the same covered
# and total source lines. LCOV can't hold app.Gen, which has no source file
# name: its 2 lines (none covered) are added back.
jar="$SNP_DATA/classes.jar"
"$SNP" summary small.snp --classes "$jar" --color never > all-summary.txt
"$SNP" jacoco small.snp --classes "$jar" -o all-jacoco.xml
"$SNP" cobertura small.snp --classes "$jar" -o all-cobertura.xml
"$SNP" csv small.snp --classes "$jar" -o all.csv
"$SNP" lcov small.snp --classes "$jar" -o all.info 2> /dev/null
"$SNP" html small.snp --classes "$jar" -o all-html
xmllint --noout --dtdvalid report.dtd all-jacoco.xml > xmllint.out 2>&1 || fail "xmllint: $(cat xmllint.out)"
genhtml --no-source --output-directory all-genhtml all.info > all-genhtml.out 2>&1 || fail "genhtml: $(cat all-genhtml.out)"
summary=$(sed -n 's/^Total ([0-9]* classes) *[0-9.%-]* *\([0-9]*\/[0-9]*\).*/\1/p' all-summary.txt)
jacoco=$(xmllint --xpath 'concat(/report/counter[@type="LINE"]/@covered, "/", /report/counter[@type="LINE"]/@covered + /report/counter[@type="LINE"]/@missed)' all-jacoco.xml)
cobertura=$(xmllint --xpath 'concat(/coverage/@lines-covered, "/", /coverage/@lines-valid)' all-cobertura.xml)
csv=$(awk -F, 'NR > 1 { m += $8; c += $9 } END { print c "/" m + c }' all.csv)
lcov=$(awk -F: '/^LF:/ { f += $2 } /^LH:/ { h += $2 } END { print h "/" f + 2 }' all.info)
genhtml=$(sed -n 's/.*lines......: .* (\([0-9]*\) of \([0-9]*\) lines).*/\1 \2/p' all-genhtml.out | awk '{ print $1 "/" $2 + 2 }')
# The HTML's totals: the index, and its package pages and source file pages
# added up.
html_total() { sed -n 's/^<tr class="total">.*<td class="n lines" data-v="[0-9]*">\([0-9]*\/[0-9]*\)<\/td>.*/\1/p' "$@"; }
add_up() { awk -F/ '{ c += $1; t += $2 } END { print c "/" t }'; }
html=$(html_total all-html/index.html)
html_packages=$(html_total all-html/*/index.html | add_up)
html_files=$(html_total $(find all-html -mindepth 2 -name '*.html' ! -name index.html) | add_up)
for pair in "summary:$summary" "jacoco:$jacoco" "cobertura:$cobertura" "csv:$csv" "lcov:$lcov" "genhtml:$genhtml" \
  "html:$html" "html-packages:$html_packages" "html-files:$html_files"; do
  [ "${pair#*:}" = "10/21" ] || fail "${pair%%:*} gives ${pair#*:} covered/total lines, not 10/21"
done
echo "consumers: all accepted"
