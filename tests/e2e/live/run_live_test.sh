#!/usr/bin/env bash
# The live viewer's browser test, as ctest runs it: installs playwright-core
# (npm, pinned by package.json) into LIVE_NODE_DIR when it is not there yet,
# then runs live_test.mjs. Exit code 77 (a skip for ctest) with one line when
# node, npm or chromium is missing; scripts/setup installs them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../harness/playwright.sh"
prepare_playwright "live viewer test" "$LIVE_NODE_DIR" "$here/package.json"
exec node "$here/live_test.mjs"
