#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# From starting the program to its window on the screen. The window is shown only after the
# start-up has run its first update cycles, so at that moment the first reading is displayed.
# Usage: bench/startup_time.sh BINARY [RUNS]   (runs itself on a virtual X display)
# A program that ends before its window shows, or shows none within 10 s, ends the measurement
# with exit code 1 and says which.
set -euo pipefail
if [ -z "${VANTEL_ON_XVFB:-}" ]; then
  VANTEL_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
binary=${1:?binary}
runs=${2:-10}
give_up_ns=$((10 * 1000000000))
# Our analyser keeps its settings between runs: each run here starts from the defaults, in a
# home of its own, and leaves the user's settings alone.
home=$(mktemp -d)
export HOME="$home" XDG_CONFIG_HOME="$home/.config"
trap 'rm -rf "$home"' EXIT
for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  "$binary" &
  pid=$!
  # Poll briskly: xdotool's own --sync waits half a second between looks.
  until xdotool search --onlyvisible --name '^Vantel DMM' >/dev/null 2>&1; do
    if ! kill -0 "$pid" 2>/dev/null; then
      status=0; wait "$pid" || status=$?
      echo "startup_time: $binary ended (exit code $status) before its window showed" >&2
      exit 1
    fi
    if [ $(($(date +%s%N) - start)) -gt "$give_up_ns" ]; then
      kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true
      echo "startup_time: $binary showed no window within 10 s" >&2
      exit 1
    fi
    sleep 0.005
  done
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
  kill "$pid"; wait "$pid" 2>/dev/null || true
done | sort -n | awk '{ a[NR] = $1 } END {
  if (NR == 0) exit 1
  printf "start to first reading shown: median %d ms (min %d, max %d) over %d runs\n",
         a[int((NR + 1) / 2)], a[1], a[NR], NR }'
