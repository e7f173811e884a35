#!/bin/bash
# Headless Chromium loads the HTML report's index, a package page and a source
# file page without a console message (the pages' Content-Security-Policy
# turns any external load, and a script it does not know, into one), and the
# rendered DOM holds the rows and the coloured source. The sorting and the
# tooltips are driven in html_browser.mjs; here only plain chromium is needed.
source "$(dirname "$0")/common.sh"

"$SNP_FIXTURE" small small.snp
"$SNP" html small.snp -o report --source-root "$SNP_DATA/src"

render() {
  local page=$1 name=$2
  local profile
  profile=$(mktemp -d)
  timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$profile" \
    --enable-logging=stderr --v=0 --dump-dom "file://$work/report/$page" > "$name.dom" 2> "$name.log" \
    || fail "chromium failed on $page: $(tail -5 "$name.log")"
  rm -rf "$profile"
  if grep -E ':CONSOLE\(|:CONSOLE:|Refused to|net::ERR' "$name.log"; then fail "console messages on $page"; fi
}

# The script is admitted by its hash: the one in the policy is the script's.
script=$(sed -n 's/.*<script>\(.*\)<\/script>.*/\1/p' report/index.html)
hash=$(printf '%s' "$script" | openssl dgst -sha256 -binary | base64)
grep -q "script-src 'sha256-$hash'" report/index.html || fail "the policy does not admit the script (sha256-$hash)"

render index.html index
for package in app app.tools app.util; do
  grep -q "<a href=\"$package/index.html\">$package</a>" index.dom || fail "no row for $package"
done
[ "$(grep -o '<tr class="package">' index.dom | wc -l)" = 3 ] || fail "not 3 package rows"

render app.tools/index.html package
grep -q '<a href="Main.java.html#class-1">Main$Helper</a>' package.dom || fail "no row for Main\$Helper"
grep -q '<a href="../index.html">Coverage report</a>' package.dom || fail "no breadcrumb"

render app.tools/Main.java.html main
grep -q '<tr id="L6" class="part"><td class="n">6</td><td class="n" title="2 slots: 4, 0 hits">4</td>' main.dom \
  || fail "line 6 not partly hit, or without its tooltip"
grep -q '<tr id="L7" class="hit"><td class="n">7</td>' main.dom || fail "line 7 not hit"
grep -q '<tr id="L12" class="miss"><td class="n">12</td>' main.dom || fail "line 12 not missed"
grep -q '<tr id="L16" class="hit"><td class="n">16</td>' main.dom || fail "the nested class's line 16 not hit"
grep -q '<span class="kw">public</span> <span class="kw">static</span>' main.dom || fail "no keyword colours"
# The script ran: sortable headers are focusable.
grep -q '<th tabindex="0">' main.dom || fail "the sorting script did not run"

# A page that loads something from outside is caught by the same check.
sed 's#</head>#<link rel="stylesheet" href="https://example.invalid/x.css"></head>#' report/index.html > report/bad.html
if (render bad.html bad) 2> /dev/null; then fail "an external load went unnoticed"; fi
echo "html: rendered without console messages"
