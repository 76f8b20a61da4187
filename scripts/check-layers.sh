#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Folders import downward only. For each folder of src/, the folders it must never include,
# and whether it may use widgets; prints each offending file and exits 1 if there is one.
set -u
cd "$(dirname "$0")/../src" || exit 2
status=0
above() {  # FOLDER FORBIDDEN-FOLDERS...
  local folder=$1; shift
  local pattern
  pattern=$(IFS='|'; echo "$*")
  if grep -rlE "#include \"($pattern)/" "$folder"; then
    echo "^ $folder/ includes a folder above it ($*)" >&2
    status=1
  fi
}
above panel      app
above trend      app panel recorder
above recorder   app panel trend
above meter      app panel trend recorder instrument
above instrument app panel trend recorder meter
above automation app panel trend recorder meter instrument
above sources    app panel trend recorder meter instrument automation
above measure    app panel trend recorder meter instrument automation sources
# Below the views nothing draws.
if grep -rlE '#include <Q(Widget|Label|Menu|Painter|Pixmap|Image|Dialog|MessageBox|Application)\b' \
     meter recorder instrument automation sources measure; then
  echo "^ a widget or painting header below the views" >&2
  status=1
fi
# The engine and the sources are plain C++.
if grep -rlE '#include <Q' sources measure; then
  echo "^ Qt in the plain C++ libraries" >&2
  status=1
fi
exit $status
