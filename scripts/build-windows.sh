#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the program for Windows with mingw-w64 against the cross-built Qt
# (scripts/build-windows-qt.sh), and stages and zips it: BUILD_DIR/vantel-dmm-VERSION-win64.zip.
#
#   build-windows.sh [--sources DIR] [--build-dir DIR] [--cached-qt-only] [--target T]...
#
# --sources DIR     pre-fetched Qt sources, for build-windows-qt.sh
# --build-dir DIR   where to build (default build/windows)
# --cached-qt-only  never build Qt: without it in the cache, say so and exit 77 (the test
#                   suite's "skipped")
# --target T        also build T (the test suite's own programs)
set -euo pipefail
shopt -s inherit_errexit

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/windows
qt_arguments=()
cached_only=0
targets=(windows_zip)
while [ $# -gt 0 ]; do
  case $1 in
    --sources) qt_arguments+=(--sources "$2"); shift 2 ;;
    --build-dir) build=$2; shift 2 ;;
    --cached-qt-only) cached_only=1; shift ;;
    --target) targets+=("$2"); shift 2 ;;
    *) echo "usage: $0 [--sources DIR] [--build-dir DIR] [--cached-qt-only] [--target T]" >&2
       exit 2 ;;
  esac
done

if [ "$cached_only" = 1 ]; then
  qt=$("$root/scripts/build-windows-qt.sh" --print-prefix)
  if [ ! -f "$qt/.complete" ]; then
    echo "skipped: no Qt for Windows in $qt; \`make windows\` builds it (once per machine)"
    exit 77
  fi
else
  qt=$("$root/scripts/build-windows-qt.sh" "${qt_arguments[@]}")
fi

# A tree configured against another Qt (an older cache key) starts afresh.
if [ -f "$build/CMakeCache.txt" ] && ! grep -qF "$qt/" "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi
if [ ! -f "$build/build.ninja" ]; then
  "$qt/bin/qt-cmake" -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target "${targets[@]}"
