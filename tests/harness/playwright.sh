# Sourced by the browser tests: prepare_playwright NAME NODE_DIR PACKAGE_JSON
# exits 77 (a skip for ctest) with one line naming what is missing when node,
# npm or chromium is absent (scripts/setup installs them), and otherwise
# installs playwright-core, pinned by PACKAGE_JSON, into NODE_DIR. The browser
# tests share NODE_DIR and ctest runs them side by side, so the install holds
# a lock.
prepare_playwright() {
  local name=$1 dir=$2 package=$3 tool
  for tool in node npm; do
    if ! command -v "$tool" > /dev/null; then
      echo "$name skipped: $tool is not installed (scripts/setup installs it)"
      exit 77
    fi
  done
  if [[ ! -x /usr/bin/chromium ]]; then
    echo "$name skipped: /usr/bin/chromium is not installed (scripts/setup installs it)"
    exit 77
  fi
  mkdir -p "$dir"
  (
    flock 9
    if ! cmp -s "$package" "$dir/package.json" ||
       [[ ! -f "$dir/node_modules/playwright-core/package.json" ]]; then
      cp "$package" "$dir/package.json"
      npm install --prefix "$dir" --no-audit --no-fund --loglevel=error
    fi
  ) 9> "$dir.lock"
}
