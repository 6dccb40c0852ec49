#!/usr/bin/env bash
# Differential run: the same random definition files and Workfiles given to
# two builds of zubra32, which must print the same bytes, exit with the same
# status and leave the same files, byte for byte.
#
#   bash tests/differential/run.sh PROGRAM_A PROGRAM_B [CASES [FIRST_SEED]]
#
# Each case is made by generate.cpp (compiled here with the system's C++
# compiler) from its seed, so a failing case is made again with that seed.
# Every fifth case runs as a preview (/L), every seventh as a check (/T).
set -euo pipefail
export LC_ALL=C

if [ $# -lt 2 ]; then
  echo "usage: bash tests/differential/run.sh PROGRAM_A PROGRAM_B [CASES [FIRST_SEED]]" >&2
  exit 2
fi
a=$(realpath "$1")
b=$(realpath "$2")
cases=${3:-2000}
first=${4:-1}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/zubra32-differential.XXXXXX")
trap 'rm -rf "$work"' EXIT
"${CXX:-g++}" -std=c++20 -O2 -Wall -Wextra -o "$work/generate" "$here/generate.cpp"

# The variables the definition files refer to; ZV2 holds a line end.
export ZV1="Ab=~c" ZV2=$'x\ny' ZV3=""

# run_case PROGRAM DIR SWITCH: runs the program in DIR on defs.txt, keeping
# its output and status there.
run_case() {
  local status=0
  (cd "$2" && "$1" defs.txt $3 >../out-"$(basename "$2")" 2>&1) || status=$?
  echo "$status" >"$2/../status-$(basename "$2")"
}

failed=0
for ((seed = first; seed < first + cases; seed++)); do
  rm -rf "$work/case" && mkdir -p "$work/case/src"
  (cd "$work/case/src" && "$work/generate" "$seed")
  cp -R "$work/case/src" "$work/case/a"
  cp -R "$work/case/src" "$work/case/b"
  switch=""
  if ((seed % 5 == 0)); then switch=/L; elif ((seed % 7 == 0)); then switch=/T; fi
  run_case "$a" "$work/case/a" "$switch"
  run_case "$b" "$work/case/b" "$switch"
  # The program's own path appears in its usage text; nothing else may differ.
  sed -i "s|$a|PROGRAM|g" "$work/case/out-a"
  sed -i "s|$b|PROGRAM|g" "$work/case/out-b"
  if ! cmp -s "$work/case/out-a" "$work/case/out-b" || ! cmp -s "$work/case/status-a" "$work/case/status-b" ||
     ! diff -r "$work/case/a" "$work/case/b" >/dev/null; then
    echo "seed $seed: the two programs differ (switch '${switch}')"
    diff "$work/case/out-a" "$work/case/out-b" | head -10 || true
    diff "$work/case/status-a" "$work/case/status-b" || true
    diff -r "$work/case/a" "$work/case/b" | head -5 || true
    failed=$((failed + 1))
    if [ "$failed" -ge 10 ]; then break; fi
  fi
done
if [ "$failed" -gt 0 ]; then
  echo "differential: $failed of the cases from seed $first on differ"
  exit 1
fi
echo "differential: $cases cases (seeds $first to $((first + cases - 1))), same output, status and files"
