#!/bin/sh
# Plays the agent in vlpolicyd's browser test with the real module: vltestagent's three commands,
# done by vlagt.exe under Wine against http://127.0.0.1:PORT/agent, answered in vltestagent's words.
#
#   module_agent.sh PORT login USER PASSWORD           -> the five status digits (exit 0 on 40000)
#   module_agent.sh PORT takeout USER START END REASON -> the new take-out key (else the status, exit 1)
#   module_agent.sh PORT status KEY                    -> requested | approved from YYYY-MM-DD to
#                                                         YYYY-MM-DD | refused | none | cancelled
#
# The server goes into the registry value "VLDrmAgtSvr" (`vlagt server`), once per port. A take-out
# is requested as the module does it: the user logs in (the demonstration passwords, or
# MODULE_AGENT_PASSWORD for any user), `vlagt takeout request`, and logs out again. Each user has a
# CCF of their own, so that `vlagt takeout status` of a key records the decision in its owner's CCF.
#
# Environment: MODULE_AGENT_WINE_RUN (the build's wine-run.sh, which bounds every call),
# MODULE_AGENT_BINDIR (the folder of vlagt.exe), MODULE_AGENT_STATE (a folder kept between calls:
# the port set, the CCFs, the owner of each key).
set -u
wine_run="$MODULE_AGENT_WINE_RUN"
vlagt="$MODULE_AGENT_BINDIR/vlagt.exe"
state="$MODULE_AGENT_STATE"
port="${1:-}"
command="${2:-}"
mkdir -p "$state/keys" || exit 2
out="$state/vlagt.out"

usage() {
    echo "usage: module_agent.sh PORT login USER PASSWORD | takeout USER START END REASON | status KEY" >&2
    exit 2
}
case "$port" in '' | *[!0-9]*) usage ;; esac

# vlagt ARGS...: one call of the tool, its JSON in $out, Wine's own lines kept in $state/wine.err.
vlagt() {
    : >"$out"
    "$wine_run" "$vlagt" "$@" --json >"$out" 2>>"$state/wine.err"
}
# field NAME: a value of the JSON object in $out, empty when absent.
field() {
    node -e 'let o = {}; try { o = JSON.parse(require("fs").readFileSync(0, "utf8")); } catch (e) {}
             const v = o[process.argv[1]]; process.stdout.write(v === undefined ? "" : String(v));' "$1" <"$out"
}
# use_ccf_of USER: the module's CCF for that user (a Windows path; drive Z: is the root).
use_ccf_of() {
    CORVANE_CCF_PATH="Z:$(printf '%s' "$state/ccf-$1.ccf" | tr / '\\')"
    export CORVANE_CCF_PATH
}
# login USER PASSWORD: the login's status in $status; exit 0 when the user is logged in. One left
# logged in by an earlier call that ended early is logged out first.
login() {
    use_ccf_of "$1"
    printf '%s\n' "$2" | vlagt login "$1"
    case "$(field error)" in *"logged in already"*)
        vlagt logout </dev/null
        printf '%s\n' "$2" | vlagt login "$1" ;;
    esac
    status=$(field status)
    status=${status:-00000}
    [ "$status" = 40000 ]
}
password_of() {
    case "$1" in
        demo01) echo demo-pass-01 ;;
        demo02) echo demo-pass-02 ;;
        *) echo "${MODULE_AGENT_PASSWORD:-}" ;;
    esac
}

url="http://127.0.0.1:$port/agent"
if [ "$(cat "$state/server" 2>/dev/null)" != "$url" ]; then
    vlagt server "$url" </dev/null || { echo "vlagt server: $(cat "$out")" >&2; exit 1; }
    printf '%s\n' "$url" >"$state/server"
fi

case "$command" in
login)
    [ $# -eq 4 ] || usage
    if login "$3" "$4"; then
        vlagt logout </dev/null
        echo "$status"
        exit 0
    fi
    echo "$status"
    exit 1
    ;;
takeout)
    [ $# -eq 6 ] || usage
    login "$3" "$(password_of "$3")" || { echo "$status"; exit 1; }
    vlagt takeout request --start "$4" --end "$5" --reason "$6" </dev/null
    key=$(field key)
    status=$(field status)
    vlagt logout </dev/null
    case "$key" in '' | *[!0-9a-zA-Z]*) echo "${status:-00000}"; exit 1 ;; esac
    printf '%s\n' "$3" >"$state/keys/$key"
    echo "$key"
    ;;
status)
    [ $# -eq 3 ] || usage
    case "$3" in '' | *[!0-9a-zA-Z]*) usage ;; esac
    owner=$(cat "$state/keys/$3" 2>/dev/null) || { echo "no CCF for the key $3: not requested here" >&2; exit 1; }
    use_ccf_of "$owner"
    vlagt takeout status "$3" </dev/null
    status=$(field status)
    [ "$status" = 40000 ] || { echo "${status:-00000}"; exit 1; }
    case "$(field state_code)" in
        0) echo requested ;;
        1) start=$(field start) end=$(field end)
           echo "approved from $(echo "$start" | sed 's/^\(....\)\(..\)/\1-\2-/') to $(echo "$end" | sed 's/^\(....\)\(..\)/\1-\2-/')" ;;
        2) echo none ;;
        3) echo refused ;;
        4) echo cancelled ;;
        *) echo "unknown state" ;;
    esac
    ;;
*) usage ;;
esac
