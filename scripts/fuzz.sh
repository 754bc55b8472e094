#!/bin/sh
# Builds the parsers' fuzz targets natively (clang-14, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer; build/fuzz) and runs each for SECONDS (default 10), niced, from its
# seed corpus. Prints per target the executions and the findings; exits 1 when anything was found.
#     scripts/fuzz.sh [SECONDS]
# Findings are kept in build/fuzz/findings/<target>/ (FUZZ_OUT names another folder), the corpus
# grown by the run in build/fuzz/corpus/<target>/ (the seeds in fuzz/corpus/ stay as they are).
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-10}"
out="${FUZZ_OUT:-build/fuzz}"

cmake -S fuzz -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$out" -j2 >/dev/null

targets="fuzz_binary_reply fuzz_login_reply fuzz_tagged_reply fuzz_app_list fuzz_ccf_file fuzz_level_search
    fuzz_command_text fuzz_offline_decision fuzz_server_request fuzz_server_form"
found=0
printf '%-20s %12s %9s\n' target executions findings
for t in $targets; do
    rm -rf "$out/findings/$t"
    mkdir -p "$out/corpus/$t" "$out/findings/$t"
    log="$out/$t.log"
    status=0
    nice -n 10 "$out/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
        -artifact_prefix="$out/findings/$t/" "$out/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1 </dev/null || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    findings=$(find "$out/findings/$t" -type f | wc -l)
    if [ "$status" -ne 0 ] && [ "$findings" -eq 0 ]; then
        findings=1 # the run ended with an error but wrote nothing: see the log
    fi
    printf '%-20s %12s %9s\n' "$t" "${runs:-?}" "$findings"
    if [ "$findings" -ne 0 ]; then
        found=1
        echo "  see $log and $out/findings/$t/" >&2
    fi
done
exit "$found"
