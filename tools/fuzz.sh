#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ (the core and fuzz/ only) and runs
# each target in turn, first over its kept findings (fuzz/regressions/<target>/), then for
# SECONDS (default 20) from its seed corpus (fuzz/corpus/<target>/). Any crash, leak, time-out
# or broken check fails the script; the input that did it is left in build-fuzz/fuzz/.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]
#
# Environment: KVD_FUZZ_RUNS=N runs each target N inputs instead of SECONDS (a long run);
# KVD_FUZZ_BUILD names the build folder; KVD_JOBS sets build jobs.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
[ $# -gt 0 ] && shift
dir=${KVD_FUZZ_BUILD:-build-fuzz}
jobs=${KVD_JOBS:-$(nproc)}

cxx=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$cxx" ]; then
  echo "tools/fuzz.sh: clang++ not found (packages clang and libclang-rt-14-dev)" >&2
  exit 1
fi

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
  -DKVD_FUZZ=ON -DKVD_BUILD_GUI=OFF -DKVD_BUILD_TESTS=OFF -DKVD_BUILD_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$dir" -j "$jobs" --target kvd_fuzz_targets

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

# A failure report names the input; allocation stacks are not needed to find the fault.
export ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=5:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

status=0
summary=()
for t in "${targets[@]}"; do
  bin="$dir/fuzz/fuzz_$t"
  if [ ! -x "$bin" ]; then
    echo "tools/fuzz.sh: no target $t" >&2
    exit 2
  fi
  # Per-target limits: a data file input of 2 KiB holds 35 records, plenty for the reader.
  extra=()
  case "$t" in
    data_file) extra+=(-max_len=2048) ;;
  esac
  regressions=(fuzz/regressions/"$t"/*)
  if [ -e "${regressions[0]}" ]; then
    echo "== $t: ${#regressions[@]} kept findings"
    if ! "$bin" -runs=1 "${regressions[@]}" >"$dir/fuzz/$t-regressions.log" 2>&1; then
      cat "$dir/fuzz/$t-regressions.log" >&2
      echo "== $t: a kept finding fails again" >&2
      status=1
      continue
    fi
  fi
  work="$dir/fuzz/corpus-$t"
  mkdir -p "$work"
  if [ -n "${KVD_FUZZ_RUNS:-}" ]; then
    limit=(-runs="$KVD_FUZZ_RUNS")
  else
    limit=(-max_total_time="$seconds")
  fi
  echo "== $t: ${KVD_FUZZ_RUNS:+$KVD_FUZZ_RUNS runs}${KVD_FUZZ_RUNS:-$seconds s}"
  log="$dir/fuzz/$t.log"
  set +e
  "$bin" "${limit[@]}" "${extra[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/fuzz/$t-" "$work" "fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  set -e
  final=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(echo "$final" | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  if [ $rc -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|invariant|Test unit written|runtime error' "$log" >&2 || tail -30 "$log" >&2
    echo "== $t: FAILED (log $log)" >&2
    status=1
    summary+=("$t: FAILED")
  else
    summary+=("$t: ${execs:-?} executions, ${rate:-?} exec/s, ${cov:-cov: ?}")
  fi
done

echo "== Fuzzing summary"
printf '  %s\n' "${summary[@]}"
exit $status
