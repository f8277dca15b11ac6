#!/bin/bash
# Runs inside a device root (bench/run copies it to /bench): the supervisor
# with 1,000 programs that all exit at once, then left idle.
#   restart.sh IDLE_SECONDS
# Leaves the supervisor's time-stamped lines in /tmp/supervisor.log and prints
# "release TIME" (when the programs were let go), "burst_start/burst_end
# CPU_NS" (the supervisor's CPU time around the restarts), "idle_start/idle_end
# CPU_NS SWITCHES" (the supervisor's CPU time and voluntary context switches
# around the idle period) and "idle_seconds N". The root has no awk: bench/run
# does the arithmetic.
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
rm -f /tmp/started /tmp/released /tmp/hold /tmp/log
mkfifo /tmp/hold /tmp/log

# The programs read the supervisor's standard input, a FIFO whose only writer
# is this script: closing it ends all of them at the same moment.
/bench/stamp < /tmp/log > /tmp/supervisor.log &
/app/bin/app < /tmp/hold 2> /tmp/log &
supervisor=$!
exec 3> /tmp/hold
wait_for 120 all_started

cpu_ns() { cut -d' ' -f1 "/proc/$supervisor/schedstat"; }
switches() { grep '^voluntary_ctxt_switches' "/proc/$supervisor/status" | cut -f2; }

# The supervisor now sleeps out its poll interval; all programs exit now.
echo "burst_start $(cpu_ns)"
touch /tmp/released
clock_release=$(/bench/stamp <<< x | cut -d' ' -f1)
exec 3>&-
wait_for 60 all_restarted
echo "burst_end $(cpu_ns)"

echo "release $clock_release"

# Idle: every program runs, none exits; only the supervisor's polls remain.
echo "idle_start $(cpu_ns) $(switches)"
sleep "$idle"
echo "idle_end $(cpu_ns) $(switches)"
echo "idle_seconds $idle"
kill "$supervisor"
