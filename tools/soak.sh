#!/usr/bin/env bash
# The long soak of the ECU session in virtual time: tools/soak.sh [HOURS [SEED]] (24 h, seed 1).
# SPDX-License-Identifier: GPL-3.0-or-later
#
# Builds the core tests with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan, as
# "tools/setup.sh test" does) and runs the soak for HOURS hours of virtual time with random
# faults from SEED; prints the soak's summary and the wall time. KVD_SOAK_BUILD=DIR uses
# another build folder (an existing one is used as it is configured, e.g. a plain build).
set -euo pipefail
cd "$(dirname "$0")/.."

hours=${1:-24}
seed=${2:-1}
case "$hours$seed" in
  *[!0-9.]*) echo "usage: tools/soak.sh [HOURS [SEED]]  (numbers)" >&2; exit 2 ;;
esac
dir=${KVD_SOAK_BUILD:-build-asan}
jobs=${KVD_JOBS:-2}

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    -DKVD_SANITIZE=ON -DKVD_BUILD_GUI=OFF -DKVD_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$dir" -j "$jobs" --target kvd_ecu_tests

start=$(date +%s)
status=0
KVD_SOAK_HOURS=$hours KVD_SOAK_SEED=$seed ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
  "$dir/tests/kvd_ecu_tests" --gtest_filter='Soak.*' || status=$?
echo "soak: $hours h of virtual time, seed $seed, build $dir: wall $(( $(date +%s) - start )) s," \
  "$([ "$status" = 0 ] && echo passed || echo "FAILED ($status)")"
exit "$status"
