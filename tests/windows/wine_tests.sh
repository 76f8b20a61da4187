#!/bin/sh
# SPDX-License-Identifier: MIT
# wine_tests.sh TEST WINEPREFIX ARGUMENTS...
#
# The one wine fixture of the test suite: every Windows program the tests run goes through here,
# headless (but for the window test, on Xvfb), in one wine prefix (created on first use), with a
# home and settings folder of the test's own, and no wine process left behind.
#   com COM_TEST         com_test.exe, the COM client against a stand-in (the cross build of
#                        windows/, which needs no Qt)
# The whole program for Windows, staged as the zip unpacks (WINDOWS_BUILD/vantel-dmm-*-win64/):
#   rows WINDOWS_BUILD LINUX_PANEL
#                        vantel-dmm.exe --analyser sim --no-window --count 5 --log - prints five
#                        rows, column for column those of the Linux program LINUX_PANEL
#   analyser_server WINDOWS_BUILD
#                        com_server_test.exe: our analyser's COM server in one process
#   com_session WINDOWS_BUILD
#                        vantel-analyser.exe /RegServer, then com_server_test.exe PANEL: the
#                        panel against the analyser in another process; then /UnregServer
#   window WINDOWS_BUILD LINUX_PANEL COMPARE
#                        the window on Xvfb, grabbed and compared by COMPARE with the Linux
#                        panel's
# These exit 77 (skipped) when the build is not there: `make windows` builds the Qt it needs.
set -eu
test=$1
export WINEPREFIX=$2
shift 2

if [ "$test" != com ]; then
  build=$(cd "$1" 2>/dev/null && pwd || echo "$1")
  linux_panel=${2:-}
  compare=${3:-}
  stage=$(ls -d "$build"/vantel-dmm-*-win64 2>/dev/null | head -n 1 || true)
  if [ -z "$stage" ] || [ ! -f "$stage/vantel-dmm.exe" ]; then
    echo "skipped: no Windows build in $build; \`make windows\` builds the Qt it needs"
    exit 77
  fi
fi

if [ "$test" = window ] && [ -z "${VANTEL_ON_XVFB:-}" ]; then
  VANTEL_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$test" "$WINEPREFIX" "$@"
fi

export WINEDEBUG=-all
# No Mono or Gecko prompts when the prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
[ "$test" = window ] || unset DISPLAY WAYLAND_DISPLAY
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64  # where Debian's wine64 package puts it
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
if [ ! -x "$wine" ]; then
  echo "wine64 is missing: run scripts/install-deps.sh"
  exit 1
fi
mkdir -p "$WINEPREFIX"
work=$(mktemp -d)
# Neither program, nor wine, touches the real home: settings go to a folder of the test's own.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Our analyser keeps its settings between runs, on Windows in the user's local application data:
# every test starts from its defaults.
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/vantel-dmm

# A Unix path as wine's Z: drive sees it.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

fail() { echo "FAILED: $*"; exit 1; }

case $test in
com)
  "$wine" "$1"
  ;;

rows)
  status=0
  "$wine" "$stage/vantel-dmm.exe" --analyser sim --no-window --count 5 --log - \
    >"$work/windows.csv" 2>"$work/windows.err" || status=$?
  [ "$status" = 0 ] || fail "exit code $status: $(cat "$work/windows.err")"
  "$linux_panel" --analyser sim --no-window --count 5 --log - >"$work/linux.csv" 2>/dev/null
  python3 - "$work/windows.csv" "$work/linux.csv" <<'EOF'
import csv, re, sys
windows = open(sys.argv[1], 'rb').read()
linux = open(sys.argv[2], 'rb').read()
lines = windows.split(b'\r\n')
assert lines[-1] == b'', 'the last row ends in CRLF'
assert b'\r\r' not in windows and b'\n' not in windows.replace(b'\r\n', b''), \
    'every line ends in one CRLF, nothing else'
rows = list(csv.reader(windows.decode().splitlines()))
expected = list(csv.reader(linux.decode().splitlines()))
assert len(rows) == 6, f'a header and five rows, got {len(rows)}: {windows!r}'
header = rows[0]
assert header == expected[0], f'header {header} vs Linux {expected[0]}'
time, seconds, reading, status = (header.index(c) for c in ('time', 'seconds', 'reading', 'status'))
for n, (row, other) in enumerate(zip(rows[1:], expected[1:]), 1):
    assert len(row) == len(header), f'row {n} has {len(row)} columns'
    assert re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d', row[time]), row[time]
    assert abs(float(row[seconds]) - 0.2 * n) < 0.15, f'row {n} at {row[seconds]} s'
    assert abs(float(row[reading]) / float(other[reading]) - 1) < 1e-3, \
        f'reading {row[reading]} vs {other[reading]}'
    # The first readings may or may not come while the detector's window still fills, on
    # either system.
    assert row[status] in ('', 'SETTLING'), f'row {n} status {row[status]}'
    # Every other column (channel, function, display, minimum, maximum, words, input...) as on
    # Linux.
    # The figures shown come from a reading taken at another moment: the same unit, and within
    # a count of the last figure.
    shown = [header.index(c) for c in ('display', 'minimum', 'maximum')]
    for c in shown:
        (mine, unit), (theirs, other_unit) = row[c].split(' ', 1), other[c].split(' ', 1)
        assert unit == other_unit and abs(float(mine) - float(theirs)) <= 0.0011 * abs(float(theirs)) + 1e-12, \
            f'row {n} {header[c]}: {row[c]} vs {other[c]}'
    same = [c for c in range(len(header)) if c not in (time, seconds, reading, status, *shown)]
    assert [row[c] for c in same] == [other[c] for c in same], f'row {n}: {row} vs Linux {other}'
print(f'five rows, as on Linux: {", ".join(rows[1][reading + 1:])}')
EOF
  ;;

analyser_server)
  WINEPATH=$(windows_path "$stage") "$wine" "$build/com_server_test.exe"
  ;;

com_session)
  "$wine" "$stage/vantel-analyser.exe" /RegServer 2>"$work/register.err" ||
    fail "/RegServer: $(cat "$work/register.err")"
  grep -q 'registered Vantel.Application for this user' "$work/register.err" ||
    fail "/RegServer said: $(cat "$work/register.err")"
  # Registered per user, as on Windows; wine looks up classes in HKLM only, so the test copies
  # what /RegServer wrote there.
  "$wine" reg query 'HKCU\Software\Classes\Vantel.Application\CLSID' /ve >"$work/clsid.txt" ||
    fail "no HKCU\\Software\\Classes\\Vantel.Application after /RegServer"
  clsid=$(grep -o '{[0-9A-Fa-f-]*}' "$work/clsid.txt")
  for key in 'Software\Classes\Vantel.Application' "Software\\Classes\\CLSID\\$clsid"; do
    "$wine" reg copy "HKCU\\$key" "HKLM\\$key" /s /f >/dev/null || fail "cannot copy $key"
  done
  status=0
  WINEPATH=$(windows_path "$stage") "$wine" "$build/com_server_test.exe" \
    "$(windows_path "$stage/vantel-dmm.exe")" || status=$?
  "$wine" "$stage/vantel-analyser.exe" /UnregServer 2>/dev/null || fail "/UnregServer"
  if "$wine" reg query 'HKCU\Software\Classes\Vantel.Application' >/dev/null 2>&1; then
    fail "/UnregServer left HKCU\\Software\\Classes\\Vantel.Application"
  fi
  for key in 'Software\Classes\Vantel.Application' "Software\\Classes\\CLSID\\$clsid"; do
    "$wine" reg delete "HKLM\\$key" /f >/dev/null 2>&1 || true
  done
  exit "$status"
  ;;

window)
  # Both panels on the built-in analyser, at rest after a few update cycles, grabbed the same
  # way from the same display.
  grab() {  # grab NAME COMMAND...
    name=$1; shift
    "$@" --analyser sim >"$work/$name.out" 2>&1 &
    pid=$!
    tries=0
    until window=$(xdotool search --onlyvisible --name '^Vantel DMM' 2>/dev/null | head -n 1) &&
          [ -n "$window" ]; do
      tries=$((tries + 1))
      [ "$tries" -lt 600 ] || fail "$name: no window within 30 s"
      kill -0 "$pid" 2>/dev/null || fail "$name: ended before its window showed: $(cat "$work/$name.out")"
      sleep 0.05
    done
    sleep 2
    import -window "$window" "$work/$name-window.png"
    # The client area: wine may draw the window's frame into its X window.
    geometry=$(identify -format '%w %h' "$work/$name-window.png")
    set -- $geometry
    convert "$work/$name-window.png" -gravity SouthEast -crop 271x538+0+0 +repage \
      "$work/$name.png"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  }
  grab linux "$linux_panel"
  grab windows "$wine" "$stage/vantel-dmm.exe"
  kept="$build/window-test"
  mkdir -p "$kept"
  cp "$work/linux.png" "$work/windows.png" "$kept/"
  "$compare" "$kept/linux.png" "$kept/windows.png" "$kept/difference.png" ||
    fail "the panel under wine differs from the Linux panel (pictures in $kept)"
  ;;

*)
  echo "usage: $0 com|rows|analyser_server|com_session|window WINEPREFIX ARGUMENTS..." >&2
  exit 2
  ;;
esac
