#!/usr/bin/env bash
# Runs the browser tests when Debian's chromium and the npm packages are
# there (scripts/install-deps.sh installs both); exit 77 tells CTest that
# they were skipped, with the reason on the line before.
set -euo pipefail
cd "$(dirname "$0")"
chromium=${ZEL_CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$chromium" ]; then
  echo "browser tests skipped: no chromium at $chromium (apt-get install chromium, or scripts/install-deps.sh)"
  exit 77
fi
if ! command -v node >/dev/null || [ ! -d node_modules/playwright-core ]; then
  echo "browser tests skipped: run 'npm ci' in tests/browser (scripts/install-deps.sh does)"
  exit 77
fi
exec node --test --test-concurrency=1 gui.test.mjs
