#!/bin/bash
# Headless Chromium loads the HTML index and a class page without a console
# message (the pages' Content-Security-Policy turns any external load into
# one), and the rendered DOM holds the class rows and the coloured source.
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

render index.html index
for class in app.tools.Main app.tools.Main\$Helper app.util.Strings app.Gen app.NoLines; do
  grep -q "<a href=\"classes/$class.html\">" index.dom || fail "no row for $class"
done
[ "$(grep -o '<tr class="class">' index.dom | wc -l)" = 6 ] || fail "not 6 class rows"
grep -q '<tr class="package"><td>app.tools</td>' index.dom || fail "no package row"

render 'classes/app.tools.Main.html' main
grep -q '<tr class="part"><td class="n">6</td>' main.dom || fail "line 6 not partly hit"
grep -q '<tr class="hit"><td class="n">7</td>' main.dom || fail "line 7 not hit"
grep -q '<tr class="miss"><td class="n">12</td>' main.dom || fail "line 12 not missed"

# A page that loads something from outside is caught by the same check.
sed 's#</head>#<link rel="stylesheet" href="https://example.invalid/x.css"></head>#' report/index.html > report/bad.html
if (render bad.html bad) 2> /dev/null; then fail "an external load went unnoticed"; fi
echo "html: rendered without console messages"
