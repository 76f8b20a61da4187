#!/bin/sh
# SPDX-License-Identifier: MIT
# run_under_wine.sh PROGRAM.exe PREFIX: runs a Windows console program under wine, headless, in a
# wine prefix of its own (created on first use), and exits with the program's status.
set -eu
program=$1
export WINEPREFIX=$2
export WINEDEBUG=-all
# No Mono or Gecko prompts when the prefix is created, and no window system.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64  # where Debian's wine64 package puts it
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
if [ ! -x "$wine" ]; then
    echo "wine64 is missing: run scripts/install-deps.sh" >&2
    exit 1
fi

mkdir -p "$WINEPREFIX"
# Wine links the prefix's user folders to the home's: a home of the test's own.
home=$(mktemp -d)
export HOME="$home"
status=0
"$wine" "$program" || status=$?
# wine's server would linger a few seconds after the program; nothing is left running.
"$wineserver" -k 2>/dev/null || true
rm -rf "$home"
exit "$status"
