#!/usr/bin/env bash
# The Windows part of the test run: cross-builds the programs and the tests with MinGW-w64, runs
# the tests under Wine, then a serial smoke test: kvd-cli.exe records from a Linux kvd-ecu-sim
# through a Wine COM port, at the rate the Linux kvd-cli gets from the same simulator.
#
# The window program kvd-diag.exe and its widget tests are built against a static Qt for MinGW,
# which tools/mingw-qt.sh makes once per machine (the first time takes many minutes) and keeps
# outside the clone. With it, kvd-diag.exe is also run for real (tools/windows-gui-test.sh: the
# windows platform on an Xvfb display, the registry, the single-instance rule, COM5) and the
# setup program is made, installed and uninstalled under Wine. Where that Qt cannot be made (no
# network for Debian's source, say) the window program is left out with a message, except when
# CI=true, where that is a failure.
#
#   tools/windows-test.sh [LINUX_BUILD_DIR]     (default: build, which must hold kvd-cli and
#                                                kvd-ecu-sim; tools/setup.sh test builds it)
#
# Environment: KVD_JOBS sets build jobs; KVD_SMOKE_SECONDS the recording time of each smoke
# run (default 6); KVD_WIN_BUILD the cross-build folder (default build-win); KVD_MINGW_QT a
# static MinGW Qt folder to use instead of the one tools/mingw-qt.sh makes; KVD_WINDOWS_GUI=0
# leaves the window program out on a developer's machine (never when CI=true).
# SPDX-License-Identifier: GPL-3.0-or-later
set -euo pipefail
cd "$(dirname "$0")/.."

linux_build=${1:-build}
win_build=${KVD_WIN_BUILD:-build-win}
jobs=${KVD_JOBS:-$(nproc)}
seconds=${KVD_SMOKE_SECONDS:-6}
com=5

for tool in x86_64-w64-mingw32-g++-posix wine wineserver; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing: tools/setup.sh test installs it (or apt-get install" \
      "g++-mingw-w64-x86-64-posix wine wine64 googletest)" >&2
    exit 1
  }
done
[ -f /usr/src/googletest/CMakeLists.txt ] || { echo "googletest's sources are missing" >&2; exit 1; }

# One Wine prefix inside the build folder, set up quietly and without a display; no prompts
# for Mono or Gecko, which nothing here needs.
mkdir -p "$win_build"
export WINEPREFIX=$PWD/$win_build/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
if command -v wine64 >/dev/null; then
  wine=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
else
  wine=wine
fi

sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== Wine prefix =="
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
fi
# One wineserver for the whole run: without it every test program starts its own (one that
# is running already for this prefix is kept). Wine's own services are started here, with
# nothing to inherit: started by a test program they would hold its output pipe open and
# keep ninja or ctest waiting for it.
wineserver -p 2>/dev/null || true
"$wine" wineboot </dev/null >/dev/null 2>&1 || true

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

qt=""
if [ "${KVD_WINDOWS_GUI:-1}" = 0 ] && [ "${CI:-}" != true ]; then
  echo "== kvd-diag.exe and its widget tests left out (KVD_WINDOWS_GUI=0) =="
elif [ -n "${KVD_MINGW_QT:-}" ]; then
  qt=$KVD_MINGW_QT
elif tools/mingw-qt.sh --check; then
  qt=$(tools/mingw-qt.sh --prefix)
elif tools/mingw-qt.sh; then
  qt=$(tools/mingw-qt.sh --prefix)
elif [ "${CI:-}" = true ]; then
  echo "the static MinGW Qt could not be made: the window program cannot be tested" >&2
  exit 1
else
  echo "== The static MinGW Qt could not be made: kvd-diag.exe and its tests are left out =="
fi

# The Qt's toolchain file loads the project's own one.
if [ -n "$qt" ]; then
  toolchain=$qt/lib/cmake/Qt6/qt.toolchain.cmake
  gui=(-DKVD_BUILD_GUI=ON "-DQT_CHAINLOAD_TOOLCHAIN_FILE=$PWD/cmake/mingw-w64-x86_64.cmake")
else
  toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
  gui=(-DKVD_BUILD_GUI=OFF)
fi
# A build folder configured with another toolchain starts afresh.
fresh=()
cached=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$win_build/CMakeCache.txt" 2>/dev/null || true)
if [ -n "$cached" ] && [ "$cached" != "$toolchain" ]; then fresh=(--fresh); fi

echo "== Windows cross-build (MinGW-w64${qt:+, static Qt: $qt}) =="
cmake "${fresh[@]}" -S . -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_TOOLCHAIN_FILE=$toolchain" "${gui[@]}" -DKVD_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$win_build" -j "$jobs"

echo "== Core tests under Wine =="
ctest --test-dir "$win_build" --output-on-failure -j "$jobs"

echo "== Serial smoke test: kvd-cli.exe on COM$com, kvd-ecu-sim on a pseudo-terminal =="
# Starts a Linux kvd-ecu-sim and leaves its pseudo-terminal in $pty.
start_sim() {
  local out
  out=$(mktemp)
  "$linux_build/kvd-ecu-sim" >"$out" &
  sim_pid=$!
  for _ in $(seq 50); do
    pty=$(head -n1 "$out")
    [ -n "$pty" ] && break
    sleep 0.1
  done
  rm -f "$out"
  [ -n "$pty" ] || { echo "kvd-ecu-sim printed no pseudo-terminal" >&2; exit 1; }
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
# The records/s of kvd-cli's closing line ("N records in T s (R records/s)").
rate_of() {
  sed -n 's/^[0-9]* records in [0-9.]* s (\([0-9.]*\) records\/s)\r\{0,1\}$/\1/p' | tail -n1
}

start_sim
linux_rate=$("$linux_build/kvd-cli" live --port "$pty" --seconds "$seconds" 2>&1 | rate_of)
stop_sim

start_sim
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com$com"
win_rate=$("$wine" "$win_build/kvd-cli.exe" live --port "$com" --seconds "$seconds" 2>&1 | rate_of)
stop_sim
rm -f "$WINEPREFIX/dosdevices/com$com"

echo "records/s: Linux ${linux_rate:-none}, Windows (Wine) ${win_rate:-none}"
# The default poll interval is 250 ms: 4 records/s. Both must come close, and close to each other.
awk -v l="${linux_rate:-0}" -v w="${win_rate:-0}" 'BEGIN {
  d = l - w; if (d < 0) d = -d;
  if (l < 3.5 || w < 3.5 || d > 0.3) { print "smoke test FAILED: rates too low or too far apart"; exit 1 }
  print "smoke test passed" }'

if [ -f "$win_build/kvd-diag.exe" ]; then
  echo "== The window program under Wine on Xvfb, and the setup program =="
  KVD_WINE=$wine tools/windows-gui-test.sh "$win_build" "$linux_build"
  echo "kvd-diag.exe: $(du -k "$win_build/kvd-diag.exe" | cut -f1) KiB (not stripped; stripped" \
    "in the setup program)"
fi
echo "Windows part: $SECONDS s"
