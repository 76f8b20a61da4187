#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds the Qt the Windows program needs (QtCore, QtGui, QtWidgets, QtSvg and the windows
# and offscreen platform plugins) with mingw-w64, from Debian's own source of the host's Qt
# version, so that the host's Qt tools (moc, rcc, uic) serve the cross build. It builds once per
# machine into a cache outside the source tree:
#
#   ${XDG_CACHE_HOME:-$HOME/.cache}/vantel-dmm/qt-VERSION-mingw64-KEY/
#
# KEY is taken from the sha256 of this script and of the toolchain file, so a change to either
# builds afresh. The prefix is complete once it holds the file .complete.
#
#   build-windows-qt.sh [--sources DIR]   build it unless cached; print the prefix
#   build-windows-qt.sh --print-prefix    print where the prefix is (built or not)
#
# --sources DIR: pre-fetched sources for a machine whose mirror lacks a package or that is
# offline: a Debian source package (qt6-base_VERSION.dsc with its tarballs) or Qt's own
# tarball (qtbase-everywhere-src-VERSION.tar.xz, qtsvg-VERSION.tar.xz, ...). A module not
# found there is fetched with `apt-get source` from deb-src entries made from the machine's
# own apt sources, in a folder of this script's own: the system's apt state is left alone.
set -euo pipefail
shopt -s inherit_errexit

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
toolchain=$here/../cmake/mingw-w64-x86_64.cmake
sources_dir=
print_only=0
while [ $# -gt 0 ]; do
  case $1 in
    --sources) sources_dir=$(cd "$2" && pwd); shift 2 ;;
    --print-prefix) print_only=1; shift ;;
    *) echo "usage: $0 [--sources DIR] [--print-prefix]" >&2; exit 2 ;;
  esac
done

# The host's Qt version: the cross build must be the same one, since the host's tools generate
# code for it.
qt_deb_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)  # 6.4.2+dfsg-10
qt_version=${qt_deb_version%%[+~-]*}                           # 6.4.2
key=$(cat "${BASH_SOURCE[0]}" "$toolchain" | sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vantel-dmm
prefix=$cache/qt-$qt_version-mingw64-$key

if [ "$print_only" = 1 ]; then
  echo "$prefix"
  exit 0
fi
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

log() { echo "build-windows-qt: $*" >&2; }
trap 'log "failed; the logs are in $work"' ERR
started_s=$(date +%s)
downloads=$cache/downloads
# The work folder keeps one path from run to run, so a compiler cache (ccache) recognises the
# compilations of an earlier build.
work=$cache/work
rm -rf "$work" "$prefix"
mkdir -p "$downloads" "$work"

# deb-src entries from the machine's own apt sources, in a folder of our own, with lists and
# a package cache of our own.
apt_dir=$cache/apt
apt_options=()
prepare_apt() {
  [ ${#apt_options[@]} -eq 0 ] || return 0
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    sed -nE 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$apt_dir/sources.list.d/from-lists.list"
  done
  apt_options=(-o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$apt_dir/sources.list.d"
               -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache")
  # As root, apt hands downloads to its own unprivileged user, who cannot write here.
  [ "$(id -u)" -ne 0 ] || apt_options+=(-o APT::Sandbox::User=root)
  log "apt-get update (deb-src entries made from /etc/apt)"
  apt-get "${apt_options[@]}" -qq update
}

# unpack_module PACKAGE MODULE: unpacks the source of MODULE (qtbase, qtsvg) into $work and
# prints its folder; PACKAGE is Debian's source package (qt6-base, qt6-svg).
unpack_module() {
  local package=$1 module=$2 found tarball top
  if [ -n "$sources_dir" ]; then
    found=$(ls "$sources_dir"/"${package}"_"${qt_version}"*.dsc 2>/dev/null | head -n 1 || true)
    if [ -n "$found" ]; then
      log "$module: $found"
      dpkg-source -x "$found" "$work/$module" >&2
      echo "$work/$module"
      return
    fi
    tarball=$(ls "$sources_dir"/"${module}"-"${qt_version}".tar.* \
                 "$sources_dir"/"${module}"-everywhere-src-"${qt_version}".tar.* 2>/dev/null |
              head -n 1 || true)
    if [ -n "$tarball" ]; then
      log "$module: $tarball (sha256 $(sha256sum "$tarball" | cut -c1-64))"
      # awk reads the whole listing: tar must not die of a closed pipe.
      top=$(tar -tf "$tarball" | awk -F/ 'NR == 1 { print $1 }')
      tar -C "$work" -xf "$tarball"
      echo "$work/$top"
      return
    fi
  fi
  # The source package of the host's version of this module.
  local version
  version=$(dpkg-query -W -f='${Version}' "${package}-dev" 2>/dev/null || echo "$qt_deb_version")
  if ! ls "$downloads/${package}_${version#*:}.dsc" >/dev/null 2>&1; then
    prepare_apt
    log "$module: apt-get source $package=$version"
    (cd "$downloads" && apt-get "${apt_options[@]}" -qq source --download-only "$package=$version") >&2
  fi
  dpkg-source -x "$downloads/${package}_${version#*:}.dsc" "$work/$module" >&2
  echo "$work/$module"
}

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Qt compiles most files against precompiled headers, which ccache caches only when told
  # that their defines and times may be trusted (they are made in the same build).
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
fi

# The toolchain goes into the prefix: Qt's own toolchain file names it by path, and the
# project's copy may move or change.
mkdir -p "$prefix"
cp "$toolchain" "$prefix/mingw-w64-x86_64.cmake"

qtbase=$(unpack_module qt6-base qtbase)
# The switches, measured on Qt 6.4.2 with Debian's mingw-w64 (gcc 12):
# - OpenGL stays on: with it off the windows platform plugin fails to compile in 6.4.2
#   (qwindowswindow.cpp needs QOpenGLStaticContext); it links opengl32.dll, which every
#   Windows has, and nothing in the program draws with OpenGL.
# - No tablet events: Debian's source drops the wintab headers the windows plugin needs.
# - No D-Bus, SQL, network, XML, concurrency, printing or test library: the program uses none.
log "configuring qtbase $qt_version for x86_64-w64-mingw32 in $prefix"
cmake -G Ninja -S "$qtbase" -B "$work/build-qtbase" \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64.cmake" "${launcher[@]}" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DFEATURE_opengl=ON -DINPUT_opengl=desktop -DFEATURE_tabletevent=OFF \
  -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF \
  -DFEATURE_testlib=OFF -DFEATURE_network=OFF -DFEATURE_xml=OFF >"$work/qtbase-configure.log"
log "building qtbase (about 1,200 steps; log in $work)"
cmake --build "$work/build-qtbase" >"$work/qtbase-build.log"
cmake --install "$work/build-qtbase" >/dev/null

qtsvg=$(unpack_module qt6-svg qtsvg)
log "building qtsvg"
"$prefix/bin/qt-cmake" -G Ninja -S "$qtsvg" -B "$work/build-qtsvg" "${launcher[@]}" \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF >"$work/qtsvg-configure.log"
cmake --build "$work/build-qtsvg" >"$work/qtsvg-build.log"
cmake --install "$work/build-qtsvg" >/dev/null

rm -rf "$work"
touch "$prefix/.complete"
log "done in $(( $(date +%s) - started_s )) s: $(du -sh "$prefix" | cut -f1) in $prefix"
echo "$prefix"
