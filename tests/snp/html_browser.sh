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
source "$here/../harness/playwright.sh"
prepare_playwright "html browser test" "$SNP_NODE_DIR" "$package"

"$SNP_FIXTURE" small small.snp
"$SNP" html small.snp --classes "$SNP_DATA/classes.jar" -o report --source-root "$SNP_DATA/src"
REPORT="$work/report" exec node "$here/html_browser.mjs"
