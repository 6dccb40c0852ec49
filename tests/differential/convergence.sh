#!/usr/bin/env bash
# Convergence, measured: on random definition files and their Workfiles (the
# differential run's generator), the Workfiles a preview says a second run
# would change again must be exactly those that two real runs in a row leave
# different after the second.
#
#   bash tests/differential/convergence.sh PROGRAM [CASES [FIRST_SEED]]
set -euo pipefail
export LC_ALL=C
[ $# -ge 1 ] || { echo "usage: bash tests/differential/convergence.sh PROGRAM [CASES [FIRST_SEED]]" >&2; exit 2; }
program=$(realpath "$1")
cases=${2:-1000}
first=${3:-1}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zubra32-convergence.XXXXXX")
trap 'rm -rf "$work"' EXIT
"${CXX:-g++}" -std=c++20 -O2 -o "$work/generate" "$here/generate.cpp"
export ZV1="Ab=~c" ZV2=$'x\ny' ZV3=""

failed=0 again=0
for ((seed = first; seed < first + cases; seed++)); do
  rm -rf "$work/p" "$work/r" && mkdir "$work/p"
  (cd "$work/p" && "$work/generate" "$seed")
  cp -R "$work/p" "$work/r"
  # What the preview says, as resolved names.
  said=$(cd "$work/p" && { "$program" defs.txt /L || true; } | tr -d '\r' |
    awk '/^--- /{name=substr($0,5)} /^\\ A second run would change this file again/{print name}' |
    while IFS= read -r name; do realpath -m "$name" | sed "s|^$work/p/||"; done | sort -u)
  # What two runs do.
  (cd "$work/r" && "$program" defs.txt >/dev/null || true)
  cp -R "$work/r" "$work/r1"
  (cd "$work/r" && "$program" defs.txt >/dev/null || true)
  did=$(diff -rq "$work/r1" "$work/r" 2>/dev/null | sed -n "s|^Files $work/r1/\(.*\) and .* differ$|\1|p" | sort -u || true)
  rm -rf "$work/r1"
  [ -n "$said" ] && again=$((again + 1))
  if [ "$said" != "$did" ]; then
    echo "seed $seed: the preview says [$said], two runs change [$did]"
    failed=$((failed + 1))
    [ "$failed" -ge 10 ] && break
  fi
done
echo "convergence: $cases cases from seed $first, $again with a Workfile a second run changes again, $failed disagreeing"
[ "$failed" -eq 0 ]
