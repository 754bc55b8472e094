#!/bin/sh
# listening.sh OUTFILE PID [SECONDS]: waits until the server started as PID (vlpolicyd, or the TLS
# listener) writes its "listening on ADDRESS" line to OUTFILE, and prints ADDRESS. Exits 1, printing
# nothing, when the server ends first or SECONDS (30) pass: a busy machine makes a server's start,
# key generation above all, take seconds.
out=$1
pid=$2
tenths=$((${3:-30} * 10))
while [ "$tenths" -gt 0 ]; do
    address=$(sed -n 's/^listening on //p' "$out" 2>/dev/null)
    if [ -n "$address" ]; then
        printf '%s\n' "$address"
        exit 0
    fi
    kill -0 "$pid" 2>/dev/null || exit 1
    sleep 0.1
    tenths=$((tenths - 1))
done
exit 1
