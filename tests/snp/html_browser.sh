#!/bin/bash
# snp html's report driven in headless Chromium through playwright-core
# (html_browser.mjs): the pages' DOM, their console, and sorting by a click.
# playwright-core is installed with npm, pinned by the live viewer test's
# package.json, into the folder that test uses (SNP_NODE_DIR); exit code 77
# (a skip for ctest) with one line when node, npm or chromium is missing:
# scripts/setup installs them.
source "$(dirname "$0")/common.sh"
: "${SNP_NODE_DIR:?}"
here=$(cd "$(dirname "$0")" && pwd)
package="$here/../e2e/live/package.json"
for tool in node npm; do
  if ! command -v "$tool" > /dev/null; then
    echo "html browser test skipped: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done
if [[ ! -x /usr/bin/chromium ]]; then
  echo "html browser test skipped: /usr/bin/chromium is not installed (scripts/setup installs it)"
  exit 77
fi
mkdir -p "$SNP_NODE_DIR"
# The live viewer's test may be installing into the same folder.
(
  flock 9
  if ! cmp -s "$package" "$SNP_NODE_DIR/package.json" ||
     [[ ! -f "$SNP_NODE_DIR/node_modules/playwright-core/package.json" ]]; then
    cp "$package" "$SNP_NODE_DIR/package.json"
    npm install --prefix "$SNP_NODE_DIR" --no-audit --no-fund --loglevel=error
  fi
) 9> "$SNP_NODE_DIR.lock"

"$SNP_FIXTURE" small small.snp
"$SNP" html small.snp --classes "$SNP_DATA/classes.jar" -o report --source-root "$SNP_DATA/src"
REPORT="$work/report" exec node "$here/html_browser.mjs"
