#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The running panel at rest: CPU share of one core over a window of seconds and resident memory,
# with the window shown on a virtual X display (or offscreen when xvfb-run is missing).
# Usage: bench/rest_usage.sh BINARY [SECONDS] [extra program arguments...]
set -euo pipefail
binary=${1:?binary}
seconds=${2:-30}
shift $(( $# >= 2 ? 2 : 1 ))

run() {
  "$binary" "$@" &
  pid=$!
  trap 'kill $pid 2>/dev/null || true' EXIT
  sleep 3  # start-up and first cycles are not "at rest"
  ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
  hz=$(getconf CLK_TCK)
  t0=$(ticks); s0=$(date +%s.%N)
  sleep "$seconds"
  t1=$(ticks); s1=$(date +%s.%N)
  rss_kb=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
  hwm_kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
  awk -v t0="$t0" -v t1="$t1" -v s0="$s0" -v s1="$s1" -v hz="$hz" -v rss="$rss_kb" -v hwm="$hwm_kb" \
    'BEGIN { printf "at rest over %.1f s: CPU %.3f %% of one core, resident %.1f MB (peak %.1f MB)\n",
             s1 - s0, 100 * (t1 - t0) / hz / (s1 - s0), rss / 1024, hwm / 1024 }'
  kill "$pid"; wait "$pid" 2>/dev/null || true
  trap - EXIT
}

if [ "${REST_PLATFORM:-xvfb}" = xvfb ] && command -v xvfb-run >/dev/null; then
  export -f run
  export binary seconds
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c 'run "$@"' _ "$@"
else
  QT_QPA_PLATFORM=offscreen run "$@"
fi
