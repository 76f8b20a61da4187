#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The running panel at rest: CPU share of one core over a window of seconds and resident memory,
# with the window shown on a virtual X display.
# Usage: bench/rest_usage.sh BINARY [SECONDS] [program arguments...]
set -euo pipefail
if [ -z "${VANTEL_ON_XVFB:-}" ]; then
  VANTEL_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
binary=${1:?binary}
seconds=${2:-30}
shift $(( $# >= 2 ? 2 : 1 ))
# Our analyser keeps its settings between runs: each run here starts from the defaults, in a
# home of its own, and leaves the user's settings alone.
home=$(mktemp -d)
export HOME="$home" XDG_CONFIG_HOME="$home/.config"

"$binary" "$@" &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -rf "$home"' EXIT
sleep 3  # start-up and the first cycles are not "at rest"
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
t0=$(ticks); s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks); s1=$(date +%s.%N)
awk -v t0="$t0" -v t1="$t1" -v s0="$s0" -v s1="$s1" -v hz="$(getconf CLK_TCK)" \
    -v rss="$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status")" \
    -v hwm="$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status")" \
  'BEGIN { printf "at rest over %.1f s: CPU %.3f %% of one core, resident %.1f MB (peak %.1f MB)\n",
           s1 - s0, 100 * (t1 - t0) / hz / (s1 - s0), rss / 1024, hwm / 1024 }'
