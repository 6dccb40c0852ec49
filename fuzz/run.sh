#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them for a given time.
#   bash fuzz/run.sh TARGET SECONDS [LIBFUZZER-OPTION...]
#   TARGET: run (whole runs), lines (the line reader), expand (expansion and
#   classification), or all (each in turn, SECONDS each).
# Each target starts from its seeds in fuzz/corpus/TARGET (never written) and
# keeps what it finds in build-fuzz/corpus/TARGET, so a later run goes on from
# there. A crash, a broken invariant, a hang (10 s on one input) or a leak ends
# the target with its input saved as build-fuzz/artifacts/TARGET-*, and the
# script fails. Set ZUBRA32_FUZZ_BUILD to build elsewhere, CXX for another clang.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZUBRA32_FUZZ_BUILD:-$root/build-fuzz}
build=$(mkdir -p "$build" && cd "$build" && pwd)

usage() {
  echo "usage: bash fuzz/run.sh run|lines|expand|all SECONDS [LIBFUZZER-OPTION...]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
which=$1
seconds=$2
shift 2
case "$seconds" in '' | *[!0-9]*) usage ;; esac
case "$which" in run | lines | expand) targets=("$which") ;; all) targets=(run lines expand) ;; *) usage ;; esac

cxx=${CXX:-}
if [ -z "$cxx" ]; then
  for candidate in clang++-14 clang++; do
    if command -v "$candidate" >/dev/null 2>&1; then cxx=$candidate; break; fi
  done
fi
[ -n "$cxx" ] || { echo "fuzz/run.sh: clang++ not found (apt-get install clang-14 libclang-rt-14-dev)" >&2; exit 1; }

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DZUBRA32_FUZZ=ON -DZUBRA32_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$build" -j2 --target zubra32_fuzz_run zubra32_fuzz_lines zubra32_fuzz_expand >/dev/null

# Longest input tried per target: a whole run takes a definition file and a Workfile.
max_len() {
  case "$1" in run) echo 32768 ;; lines) echo 16384 ;; expand) echo 4096 ;; esac
}

for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target" "$build/artifacts" "$build/logs"
  log="$build/logs/$target.log"
  echo "== fuzz target $target, $seconds s (log: $log)"
  status=0
  "$build/fuzz/zubra32_fuzz_$target" "$build/corpus/$target" "$root/fuzz/corpus/$target" \
    -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 "$@" >"$log" 2>&1 || status=$?
  grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz/run.sh: target $target failed (exit $status); the input is in $build/artifacts" >&2
    exit 1
  fi
done
