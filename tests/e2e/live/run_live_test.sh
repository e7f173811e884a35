#!/usr/bin/env bash
# The live viewer's browser test, as ctest runs it: installs playwright-core
# (npm, pinned by package.json) into LIVE_NODE_DIR when it is not there yet,
# then runs live_test.mjs. Exit code 77 (a skip for ctest) with one line when
# node, npm or chromium is missing; scripts/setup installs them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for tool in node npm; do
  if ! command -v "$tool" >/dev/null; then
    echo "live viewer test skipped: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done
if [[ ! -x /usr/bin/chromium ]]; then
  echo "live viewer test skipped: /usr/bin/chromium is not installed (scripts/setup installs it)"
  exit 77
fi
if ! cmp -s "$here/package.json" "$LIVE_NODE_DIR/package.json" ||
   [[ ! -f "$LIVE_NODE_DIR/node_modules/playwright-core/package.json" ]]; then
  mkdir -p "$LIVE_NODE_DIR"
  cp "$here/package.json" "$LIVE_NODE_DIR/package.json"
  npm install --prefix "$LIVE_NODE_DIR" --no-audit --no-fund --loglevel=error
fi
exec node "$here/live_test.mjs"
