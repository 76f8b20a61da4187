#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows panel's start to first reading under wine, beside the Linux panel's on the same
# machine, both on the built-in analyser (--analyser sim), measured as bench/startup_time.sh
# measures: from the start to the window on the screen, which shows only after the first
# update cycles. Wine's own start-up is in the figure (its server kept running between runs, as
# on a desktop where wine is in use); a new wine prefix is made first, outside the figure.
# Usage: bench/wine_startup_time.sh WINDOWS_FOLDER LINUX_BINARY [RUNS]
#   WINDOWS_FOLDER: the unpacked zip (build/windows/vantel-dmm-VERSION-win64)
set -euo pipefail
stage=$(cd "${1:?the unpacked Windows zip}" && pwd)
linux=$(realpath "${2:?the Linux vantel-dmm}")
runs=${3:-10}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT
DISPLAY= "$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -w                # the one wineboot started has ended...
"$wineserver" -p                # ...and this one stays between the runs

cat >"$work/windows" <<WRAPPER
#!/bin/sh
exec "$wine" "$stage/vantel-dmm.exe" --analyser sim 2>/dev/null
WRAPPER
cat >"$work/linux" <<WRAPPER
#!/bin/sh
exec "$linux" --analyser sim 2>/dev/null
WRAPPER
chmod +x "$work/windows" "$work/linux"
printf 'Linux:           '; "$here/startup_time.sh" "$work/linux" "$runs"
printf 'Windows (wine):  '; "$here/startup_time.sh" "$work/windows" "$runs"
