#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The panel and the analyser at rest, attached over D-Bus: CPU share of one core of each process
# and of both together over a window of seconds, on a private session bus, with the window shown
# on a virtual X display (or offscreen when xvfb-run is missing). The bus daemon, which relays
# every call, is reported beside them.
# Usage: bench/dbus_rest_usage.sh ANALYSER_BINARY DMM_BINARY [SECONDS]
set -euo pipefail
inside=no
if [ "${1:-}" = --inside ]; then inside=yes; shift; fi
analyser=$(realpath "${1:?analyser binary}")
dmm=$(realpath "${2:?panel binary}")
seconds=${3:-30}

measure() {
  "$analyser" 2>/dev/null &
  analyser_pid=$!
  trap 'kill $analyser_pid ${dmm_pid:-} 2>/dev/null || true' EXIT
  gdbus wait --session --timeout 10 Vantel.Application
  "$dmm" --analyser dbus &
  dmm_pid=$!
  bus_pid=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.DBus |
    tr -dc '0-9 ' | awk '{print $NF}')
  sleep 3  # start-up and first cycles are not "at rest"
  ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
  hz=$(getconf CLK_TCK)
  a0=$(ticks "$analyser_pid"); d0=$(ticks "$dmm_pid"); b0=$(ticks "$bus_pid"); s0=$(date +%s.%N)
  sleep "$seconds"
  a1=$(ticks "$analyser_pid"); d1=$(ticks "$dmm_pid"); b1=$(ticks "$bus_pid"); s1=$(date +%s.%N)
  awk -v a="$((a1 - a0))" -v d="$((d1 - d0))" -v b="$((b1 - b0))" -v s0="$s0" -v s1="$s1" \
    -v hz="$hz" 'BEGIN {
      t = s1 - s0; pc = 100 / hz / t
      printf "at rest over D-Bus over %.1f s (%% of one core): vantel-dmm %.3f, vantel-analyser %.3f, together %.3f; dbus-daemon %.3f\n",
             t, d * pc, a * pc, (a + d) * pc, b * pc }'
  kill "$dmm_pid" "$analyser_pid"; wait "$dmm_pid" "$analyser_pid" 2>/dev/null || true
  trap - EXIT
}

# Measured from inside a private session bus (and display): the script runs itself there.
if [ "$inside" = yes ]; then
  measure
elif [ "${REST_PLATFORM:-xvfb}" = xvfb ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" \
    dbus-run-session -- "$0" --inside "$analyser" "$dmm" "$seconds" 2>/dev/null
else
  QT_QPA_PLATFORM=offscreen exec \
    dbus-run-session -- "$0" --inside "$analyser" "$dmm" "$seconds" 2> >(grep -v 'fd limit' >&2)
fi
