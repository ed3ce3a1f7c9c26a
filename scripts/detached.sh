#!/usr/bin/env bash
# Runs a command with its output going through a file that is shown as it grows.
# A Wine program may start its session's long-lived processes (services, the desktop)
# and they keep the descriptors they inherit: given CTest's pipe, they would make it
# wait for them until the test's time runs out. Given a file, they hold only that.
set -u
log=$(mktemp)
"$@" >"$log" 2>&1 &
pid=$!
tail -n +1 -f --pid="$pid" "$log"
wait "$pid"
rc=$?
rm -f "$log"
exit "$rc"
