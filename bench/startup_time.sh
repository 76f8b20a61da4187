#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# From starting the program to its window on the screen. The window is shown only after the
# start-up has run its first update cycles, so at that moment the first reading is displayed.
# Usage: bench/startup_time.sh BINARY [RUNS]
set -euo pipefail
binary=${1:?binary}
runs=${2:-10}
measure() {
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$binary" &
    pid=$!
    xdotool search --sync --onlyvisible --name '^Vantel DMM$' >/dev/null
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
    kill "$pid"; wait "$pid" 2>/dev/null || true
  done | sort -n | awk '{ a[NR] = $1 } END { printf "start to first reading shown: median %d ms (min %d, max %d) over %d runs\n", a[int((NR + 1) / 2)], a[1], a[NR], NR }'
}
export -f measure
export binary runs
xvfb-run -a -s "-screen 0 1024x768x24" bash -c measure
