#!/usr/bin/env bash
# Sets up a Debian 12 machine for kvd-diag, builds it, and then either starts the program
# ("run") or runs the whole test suite ("test"). Safe to run again: it installs only what
# is missing and rebuilds only what changed.
#
#   tools/setup.sh run [program options]   build, then start the program (demo mode by default)
#   tools/setup.sh test                    build, then run every test, also under the sanitizers
#   tools/setup.sh package                 build for /usr in build-deb/, then make the Debian package
#
# Environment: KVD_SANITIZE=0 skips the sanitizer pass of "test"; KVD_FUZZ=0 skips its short
# fuzzing pass (never skipped when CI=true); KVD_JOBS sets build jobs; KVD_WINDOWS=0 skips the
# Windows part of "test" (cross-build, tests under Wine, the window program and its setup
# program under Wine) on a developer's machine, never when CI=true.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
[ $# -gt 0 ] && shift

packages=(build-essential cmake ninja-build pkg-config git ccache
          libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libxtst-dev
          qt6-base-dev qt6-base-dev-tools libgl-dev
          xvfb xauth fonts-dejavu-core
          help2man desktop-file-utils dpkg-dev file
          clang libclang-rt-14-dev)

# The Windows part of "test" only: the MinGW-w64 cross compilers, Wine, GoogleTest's sources;
# for the window program under Wine the fonts Wine offers its programs (Cyrillic among them),
# input and screenshots on the Xvfb display, and NSIS for the setup program. The static Qt for
# MinGW is built from Debian's qt6-base source (tools/mingw-qt.sh; dpkg-dev unpacks it).
windows_packages=(g++-mingw-w64-x86-64-posix wine wine64 googletest
                  fonts-wine fonts-liberation xdotool imagemagick nsis)

install_missing() {  # install_missing PACKAGE...
  local missing=() p sudo=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
install_missing "${packages[@]}"

jobs=${KVD_JOBS:-$(nproc)}

# ccache keeps rebuilds of a fresh clone short; paths below the tree are hashed relative to it
# and the build folder is left out of the hash (it only names the debug information's folder),
# so that clones in other folders share the cache.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

case "$mode" in
  run)
    build build
    if [ -x build/kvd-diag ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      if [ $# -eq 0 ]; then set -- --demo; fi
      exec build/kvd-diag "$@"
    fi
    if [ -x build/kvd-diag ]; then
      echo "No display found: showing the virtual ECU's live data on the command line instead."
    fi
    if [ $# -eq 0 ]; then set -- --demo --seconds 20; fi
    exec build/kvd-cli live "$@"
    ;;
  test)
    build build
    if [ "${KVD_SANITIZE:-1}" != 0 ]; then
      echo "== Core tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
      build build-asan -DKVD_SANITIZE=ON -DKVD_BUILD_GUI=OFF -DKVD_BUILD_BENCH=OFF
      ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j "$jobs"
    fi
    echo "== All tests =="
    ctest --test-dir build --output-on-failure -j "$jobs"
    if [ "${CI:-}" = true ] || [ "${KVD_FUZZ:-1}" != 0 ]; then
      echo "== Fuzz targets, 20 s each =="
      tools/fuzz.sh 20
    fi
    if [ "${CI:-}" = true ] || [ "${KVD_WINDOWS:-1}" != 0 ]; then
      install_missing "${windows_packages[@]}"
      tools/windows-test.sh build
    else
      echo "== Windows part skipped (KVD_WINDOWS=0) =="
    fi
    ;;
  package)
    build build-deb -DCMAKE_INSTALL_PREFIX=/usr -DKVD_BUILD_TESTS=OFF -DKVD_BUILD_BENCH=OFF
    (cd build-deb && cpack -G DEB)
    ls -l build-deb/kvd-diag_*.deb
    ;;
  *)
    echo "usage: tools/setup.sh run [program options] | test | package" >&2
    exit 2
    ;;
esac
