#!/bin/bash
# Runs inside a device root (bench/run copies it to /bench): the supervisor
# with 1,000 programs that all exit at once, then left idle.
#   restart.sh IDLE_SECONDS
# Prints "key value" lines: restarts, release_to_first_ms, first_to_last_ms,
# idle_seconds, idle_cpu_ms, idle_wakeups.
set -euo pipefail
idle=$1
programs=1000

wait_for() {  # SECONDS COMMAND...: polls until COMMAND succeeds
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || { echo "restart.sh: timed out: $*" >&2; exit 1; }
        sleep 0.05
    done
}
all_started() { [ "$(stat -c %s /tmp/started 2>/dev/null || echo 0)" -ge $programs ]; }
all_restarted() { [ "$(grep -c 'exited(0), restarting' /tmp/supervisor.log)" -ge $programs ]; }

for ((i = 0; i < programs; i++)); do echo "exiter$i /bench/exiter"; done > /app/share/tavix/watchdog.conf
rm -f /tmp/started /tmp/released /tmp/hold
mkfifo /tmp/hold

# The programs read the supervisor's standard input, a FIFO whose only writer
# is this script: closing it ends all of them at the same moment.
exec 4> >(exec /bench/stamp > /tmp/supervisor.log)
/app/bin/app < /tmp/hold 2>&4 &
supervisor=$!
exec 3> /tmp/hold 4>&-
wait_for 120 all_started

# The supervisor now sleeps out its poll interval; all programs exit now.
touch /tmp/released
clock_release=$(/bench/stamp <<< x | cut -d' ' -f1)
exec 3>&-
wait_for 60 all_restarted

stamps=$(grep 'exited(0), restarting' /tmp/supervisor.log | cut -d' ' -f1)
echo "restarts $(grep -c 'exited(0), restarting' /tmp/supervisor.log)"
awk -v r="$clock_release" 'NR == 1 {first = $1} {last = $1}
    END {printf "release_to_first_ms %.1f\nfirst_to_last_ms %.1f\n", (first - r) * 1000, (last - first) * 1000}' <<< "$stamps"

# Idle: every program runs, none exits; only the supervisor's polls remain.
cpu_ns() { cut -d' ' -f1 "/proc/$supervisor/schedstat"; }
switches() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$supervisor/status"; }
cpu0=$(cpu_ns) sw0=$(switches)
sleep "$idle"
cpu1=$(cpu_ns) sw1=$(switches)
echo "idle_seconds $idle"
awk -v a="$cpu0" -v b="$cpu1" 'BEGIN {printf "idle_cpu_ms %.3f\n", (b - a) / 1e6}'
echo "idle_wakeups $((sw1 - sw0))"
kill "$supervisor"
