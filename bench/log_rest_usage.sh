#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the log costs at rest: the panel on the built-in analyser with its window shown on a
# virtual X display, run once without --log and once with --log to a file, side by side over the
# same window of seconds. CPU time comes from the scheduler's nanosecond counters of every
# thread (/proc/PID/task/*/schedstat), as the clock-tick counters are too coarse for 0.05 %.
# Usage: bench/log_rest_usage.sh BINARY [SECONDS]
set -euo pipefail
if [ -z "${VANTEL_ON_XVFB:-}" ]; then
  VANTEL_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
binary=${1:?binary}
seconds=${2:-60}
log=$(mktemp --suffix=.csv)
# Our analyser keeps its settings between runs: each run here starts from the defaults, in a
# home of its own, and leaves the user's settings alone.
home=$(mktemp -d)
export HOME="$home" XDG_CONFIG_HOME="$home/.config"

"$binary" --analyser sim 2>/dev/null &
plain=$!
"$binary" --analyser sim --log "$log" 2>/dev/null &
logging=$!
trap 'kill $plain $logging 2>/dev/null || true; rm -f "$log"; rm -rf "$home"' EXIT
sleep 3  # start-up and the first cycles are not "at rest"
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { print s }'; }
p0=$(cpu_ns $plain); l0=$(cpu_ns $logging); s0=$(date +%s.%N); r0=$(wc -l < "$log")
sleep "$seconds"
p1=$(cpu_ns $plain); l1=$(cpu_ns $logging); s1=$(date +%s.%N); r1=$(wc -l < "$log")
awk -v p="$((p1 - p0))" -v l="$((l1 - l0))" -v s0="$s0" -v s1="$s1" -v rows="$((r1 - r0))" \
  'BEGIN { t = (s1 - s0) * 1e9; printf "at rest over %.1f s, %% of one core: without --log %.3f, " \
           "with --log %.3f (%d rows), the log adds %.3f\n", t / 1e9, 100 * p / t, 100 * l / t, \
           rows, 100 * (l - p) / t }'
