#!/bin/sh
# vlpolicyd's browser test with the real module as the agent: module_agent.sh does the agent's logins,
# take-out requests and references with vlagt.exe under Wine, so the administrator in headless
# Chromium approves a take-out that the module requested and the module reads the decision.
# Usage: module_browser_test.sh VLPOLICYD WINE_RUN BINDIR WORKFOLDER
# Exit code 77 (skipped) with the reason when vlpolicyd, Chromium or Node.js is missing.
set -u
vlpolicyd="$1"
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "$vlpolicyd" ] || [ ! -x "$vlpolicyd" ]; then
    echo "skipped: no native vlpolicyd (configure with -DVLPOLICYD_EXECUTABLE=..., as scripts/test.sh does)"
    exit 77
fi
browser="$here/../../server/tests/browser"
if [ -x /usr/bin/chromium ] && [ ! -f "$browser/node_modules/playwright-core/package.json" ]; then
    echo "skipped: $browser/node_modules lacks playwright-core (scripts/install-deps.sh runs npm ci there)"
    exit 77
fi
work="$4"
rm -rf "$work" && mkdir -p "$work" || exit 1
export MODULE_AGENT_WINE_RUN="$2" MODULE_AGENT_BINDIR="$3" MODULE_AGENT_STATE="$work/agent"
# Each Wine call is bounded (wine-run.sh); one agent command makes at most five of them. Under
# qemu-user emulation one call takes a second or more, so the browser test's limits are raised.
export VLAGT_WINE_TIMEOUT=30
export VLPOLICYD_BROWSER_AGENT_LIMIT="${VLPOLICYD_BROWSER_AGENT_LIMIT:-160}"
export VLPOLICYD_BROWSER_TEST_LIMIT="${VLPOLICYD_BROWSER_TEST_LIMIT:-540}"

cleanup() {
    [ -f "$MODULE_AGENT_STATE/server" ] || return
    "$MODULE_AGENT_WINE_RUN" "$MODULE_AGENT_BINDIR/vlagt.exe" logout >/dev/null 2>&1 </dev/null
    "$MODULE_AGENT_WINE_RUN" reg delete 'HKLM\Software\Velmora\Tessaline' /v VLDrmAgtSvr /f /reg:32 \
        >/dev/null 2>&1 </dev/null
}
trap cleanup EXIT

sh "$browser/run_browser_test.sh" "$vlpolicyd" "$here/module_agent.sh" "$work/screenshots"
result=$?
# The approval reached the module itself: its reference wrote the dates into demo01's CCF.
recorded=$(tr -d '\r' <"$MODULE_AGENT_STATE/ccf-demo01.ccf" 2>/dev/null | grep -a '^TakeOut' | sort | tr '\n' ' ')
if [ "$result" = 0 ] &&
    [ "$recorded" != "TakeOutEndDate=20270105 TakeOutStartDate=20270101 TakeOutStatus=1 " ]; then
    echo "FAIL: demo01's CCF does not record the approved take-out: $recorded"
    result=1
fi
hung=$(grep '^hung:' "$MODULE_AGENT_STATE/wine.err" 2>/dev/null)
if [ -n "$hung" ]; then
    echo "FAIL: $hung"
    result=1
fi
exit "$result"
