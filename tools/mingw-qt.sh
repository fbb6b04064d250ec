#!/usr/bin/env bash
# Makes the static Qt for MinGW-w64 that kvd-diag.exe is built with, once per machine, and
# prints its folder (the last line of the output). The Qt is Debian's own qtbase source of the
# host Qt's version, cross-built for x86_64-w64-mingw32 with the host Qt as its tools, trimmed
# to what the program uses: Core, Gui and Widgets, the windows and offscreen platform plugins,
# PNG. It is kept in a cache folder outside the clone and reused when it is there:
#
#   ${KVD_QT_CACHE:-${XDG_CACHE_HOME:-~/.cache}/kvd-diag}/qt-<version>-mingw-static-<options>
#
#   tools/mingw-qt.sh            make it if it is missing, then print its folder
#   tools/mingw-qt.sh --prefix   only print the folder it is (or would be) kept in
#   tools/mingw-qt.sh --check    exit 0 if it is there and complete, 1 if not
#
# The first time takes many minutes (about 900 build steps). Environment: KVD_JOBS sets the
# build jobs; KVD_QT_WORK the temporary build folder (default beside the Qt folder, removed once
# the Qt is installed). The build log is kept beside the Qt folder, as <folder>.log.
# SPDX-License-Identifier: GPL-3.0-or-later
set -euo pipefail

mode=${1:-}
case "$mode" in
  "" | --prefix | --check) ;;
  *)
    echo "usage: tools/mingw-qt.sh [--prefix | --check]" >&2
    exit 2
    ;;
esac

host_qmake=/usr/lib/qt6/bin/qmake
[ -x "$host_qmake" ] || host_qmake=$(command -v qmake6 || true)
if [ -z "$host_qmake" ] || [ ! -x "$host_qmake" ]; then
  echo "the host Qt 6 (qt6-base-dev, qt6-base-dev-tools) is missing" >&2
  exit 1
fi
version=$("$host_qmake" -query QT_VERSION)
# Debian's version of the source: the one of the installed host Qt, so that its tools (moc,
# rcc, uic) match the libraries exactly.
deb_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
[ -n "$deb_version" ] || { echo "qt6-base-dev is not installed" >&2; exit 1; }

# What the program does not use is left out. Left in on purpose: accessibility (the windows
# platform's UI Automation), the Windows, WindowsVista and Fusion styles, the file dialog with
# its completer, PNG (screenshots, plots, the icon), the bundled FreeType/HarfBuzz/PCRE2/zlib.
features_off=(
  sql network dbus opengl dynamicgl vulkan printsupport concurrent xml testlib
  tabletevent direct2d graphicsview
  jpeg gif ico zstd system_zlib system_png system_freetype system_harfbuzz system_pcre2
  colordialog fontdialog wizard mdiarea calendarwidget datetimeedit splashscreen
  lcdnumber dial toolbox keysequenceedit textodfwriter undocommand undostack undogroup undoview
)
options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DQT_QPA_DEFAULT_PLATFORM=windows
)
for f in "${features_off[@]}"; do options+=("-DFEATURE_$f=OFF"); done

# The cross toolchain Qt is built with. It is kept inside the Qt folder: the installed Qt's
# qt.toolchain.cmake loads it again for every program built against it.
toolchain_text='# MinGW-w64 (posix threads) for the static Qt of kvd-diag; written by tools/mingw-qt.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
'

# One change to the source: without Direct2D, Qt 6.4.2's Gui leaves out the DirectWrite font
# database that the windows platform plug-in still refers to when DirectWrite 3 is there (the
# link of every program fails); the plug-in then uses the GDI one, its default anyway.
patch_file=src/plugins/platforms/windows/qwindowsintegration.cpp
patch_from='#if QT_CONFIG(directwrite3)'
patch_to='#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)'

tag=$(printf '%s\n' "$deb_version" "${options[@]}" "$toolchain_text" "$patch_file" "$patch_to" |
  sha256sum | cut -c1-10)
cache=${KVD_QT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kvd-diag}
prefix=$cache/qt-$version-mingw-static-$tag
stamp=$prefix/.kvd-complete

case "$mode" in
  --prefix)
    echo "$prefix"
    exit 0
    ;;
  --check)
    [ -f "$stamp" ]
    exit
    ;;
esac

mkdir -p "$cache"
# One build at a time per cache: a second run waits for the first and then reuses its Qt.
exec 9>"$cache/.lock"
if ! flock -n 9; then
  echo "another run is making the MinGW Qt in $cache: waiting for it"
  flock 9
fi
if [ -f "$stamp" ]; then
  echo "MinGW Qt $version (static): $prefix"
  echo "$prefix"
  exit 0
fi

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix cmake ninja dpkg-source apt-get; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

log=$prefix.log
work=${KVD_QT_WORK:-$cache/build-qt-$version-$tag}
echo "Making the static MinGW Qt $version once for this machine (many minutes; log: $log)"
rm -rf "$prefix" "$work"
mkdir -p "$prefix" "$work"
: >"$log"
start=$(date +%s)

# Debian's source package, fetched with a private apt setup in the work folder (a deb-src
# entry for the suites the machine uses) without touching the machine's own.
echo "-- fetching Debian's qt6-base $deb_version source"
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/etc/preferences.d"
{
  echo "deb-src http://deb.debian.org/debian bookworm main"
  echo "deb-src http://deb.debian.org/debian bookworm-updates main"
  echo "deb-src http://deb.debian.org/debian-security bookworm-security main"
} >"$apt_dir/sources.list"
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
  -o "Dir::Etc::Preferences=/dev/null" -o "Dir::Etc::PreferencesParts=$apt_dir/etc/preferences.d"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
  -o "Dir::State::Status=/var/lib/dpkg/status" -o "Debug::NoLocking=1"
)
# apt's download user may not write into a home folder.
[ "$(id -u)" -eq 0 ] && apt_opts+=(-o "APT::Sandbox::User=root")
apt-get "${apt_opts[@]}" update >>"$log" 2>&1 || {
  echo "apt-get update for the qt6-base source failed (see $log)" >&2
  exit 1
}
(cd "$work" && apt-get "${apt_opts[@]}" source --download-only "qt6-base=$deb_version") >>"$log" 2>&1 || {
  echo "fetching the qt6-base $deb_version source failed (see $log)" >&2
  exit 1
}
dsc=$(ls "$work"/qt6-base_*.dsc | head -n1)
(cd "$work" && dpkg-source --no-check -x "$dsc" src) >>"$log" 2>&1
src=$work/src
grep -q "^$patch_from\$" "$src/$patch_file" || {
  echo "the qt6-base source has changed: $patch_file holds no '$patch_from'" >&2
  exit 1
}
sed -i "s/^$patch_from\$/$patch_to/" "$src/$patch_file"

printf '%s' "$toolchain_text" >"$prefix/mingw-toolchain.cmake"

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$src CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

echo "-- configuring (static, Core/Gui/Widgets, windows + offscreen platforms)"
cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  "${options[@]}" "${launcher[@]}" >>"$log" 2>&1 || {
  echo "configuring Qt failed (see $log)" >&2
  exit 1
}
steps=$(ninja -C "$work/build" -n 2>/dev/null | grep -c '^\[' || true)
echo "-- building ($steps steps, ${KVD_JOBS:-$(nproc)} jobs)"
cmake --build "$work/build" -j "${KVD_JOBS:-$(nproc)}" >>"$log" 2>&1 || {
  echo "building Qt failed (see the end of $log)" >&2
  exit 1
}
cmake --install "$work/build" >>"$log" 2>&1
end=$(date +%s)
echo "built in $((end - start)) s, $steps steps" >>"$log"
printf 'qt %s (%s), %s steps, %s s\n' "$version" "$deb_version" "$steps" "$((end - start))" >"$stamp"
rm -rf "$work"
echo "MinGW Qt $version (static) made in $((end - start)) s, $steps steps: $prefix"
echo "$prefix"
