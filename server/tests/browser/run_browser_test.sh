#!/bin/sh
# Runs the console's browser test (console_test.mjs) in the system's headless Chromium. Skipped
# (exit 77) with the reason when Chromium or Node.js is missing; the driver library comes from
# package-lock.json here, installed by scripts/install-deps.sh (npm ci).
# Usage: run_browser_test.sh VLPOLICYD VLTESTAGENT OUTDIR
here=$(dirname "$0")
if [ ! -x /usr/bin/chromium ]; then
    echo "skipped: /usr/bin/chromium is missing (scripts/install-deps.sh installs Debian's chromium)"
    exit 77
fi
if ! command -v node >/dev/null 2>&1; then
    echo "skipped: node is missing (scripts/install-deps.sh installs nodejs)"
    exit 77
fi
if [ ! -f "$here/node_modules/playwright-core/package.json" ]; then
    echo "FAIL: $here/node_modules lacks playwright-core: run scripts/install-deps.sh (npm ci there)"
    exit 1
fi
exec node "$here/console_test.mjs" "$@"
