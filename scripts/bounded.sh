#!/bin/sh
# bounded.sh SECONDS COMMAND [ARG...]: runs COMMAND (a Wine call, usually) with a time limit. When the
# limit passes, COMMAND and everything it started in its process group are stopped, a line on standard
# error says which call hung, and the exit code is 124. A TERM, INT or HUP sent to this script is
# passed on to COMMAND, so that stopping the script stops the call.
limit=$1
shift
# Standard input goes through descriptor 3: a command started with & would otherwise read /dev/null.
exec 3<&0
timeout -k 10 "$limit" "$@" <&3 3<&- &
child=$!
exec 3<&-
trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP
while :; do
    wait "$child"
    rc=$?
    # wait returns early (above 128) when a trapped signal arrives; the call is still ending.
    kill -0 "$child" 2>/dev/null || break
done
if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    echo "hung: '$*' did not finish within $limit s and was stopped" >&2
    rc=124
fi
exit "$rc"
