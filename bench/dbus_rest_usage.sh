#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The panel and the analyser at rest, attached over D-Bus: CPU share of one core of each process
# and of both together over a window of seconds, on a private session bus, with the window shown
# on a virtual X display. The bus daemon, which relays every call, is reported beside them.
# Usage: bench/dbus_rest_usage.sh ANALYSER_BINARY DMM_BINARY [SECONDS] [analyser arguments...]
set -euo pipefail
if [ -z "${VANTEL_ON_XVFB:-}" ]; then
  # dbus-daemon warns that it may not raise its file limit; that says nothing about the figures.
  VANTEL_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" \
    dbus-run-session -- "$0" "$@" 2> >(grep -v 'fd limit' >&2)
fi
analyser=${1:?analyser binary}
dmm=${2:?panel binary}
seconds=${3:-30}
shift $(( $# >= 3 ? 3 : 2 ))
# Our analyser keeps its settings between runs: each run here starts from the defaults, in a
# home of its own, and leaves the user's settings alone.
home=$(mktemp -d)
export HOME="$home" XDG_CONFIG_HOME="$home/.config"

"$analyser" "$@" 2>/dev/null &
analyser_pid=$!
trap 'kill $analyser_pid ${dmm_pid:-} 2>/dev/null || true; rm -rf "$home"' EXIT
gdbus wait --session --timeout 10 Vantel.Application
"$dmm" --analyser dbus &
dmm_pid=$!
bus_pid=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.DBus |
  tr -dc '0-9 ' | awk '{ print $NF }')
sleep 3  # start-up and the first cycles are not "at rest"
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
a0=$(ticks "$analyser_pid"); d0=$(ticks "$dmm_pid"); b0=$(ticks "$bus_pid"); s0=$(date +%s.%N)
sleep "$seconds"
a1=$(ticks "$analyser_pid"); d1=$(ticks "$dmm_pid"); b1=$(ticks "$bus_pid"); s1=$(date +%s.%N)
awk -v a="$((a1 - a0))" -v d="$((d1 - d0))" -v b="$((b1 - b0))" -v s0="$s0" -v s1="$s1" \
    -v hz="$(getconf CLK_TCK)" \
  'BEGIN { t = s1 - s0; pc = 100 / hz / t
           printf "at rest over D-Bus over %.1f s, %% of one core: vantel-dmm %.3f, " \
                  "vantel-analyser %.3f, together %.3f (dbus-daemon %.3f)\n",
                  t, d * pc, a * pc, (a + d) * pc, b * pc }'
