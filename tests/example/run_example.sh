#!/usr/bin/env bash
# Runs the shipped example: PROGRAM on a scratch copy of EXAMPLES (startup.def
# and the two Workfiles it edits), showing the program's trace and a diff of
# each file it changed.
#   bash tests/example/run_example.sh PROGRAM EXAMPLES
# Fails unless the run ends with exit code 0, writes nothing to standard
# error, prints the banner and changes exactly autoexec.bat and config.sys.
# USERNAME is passed on, demo when unset.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: bash tests/example/run_example.sh PROGRAM EXAMPLES" >&2; exit 2; }
program=$1
examples=$2

fail() {
  echo "example: $*" >&2
  exit 1
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
work="$scratch/work"
cp -R "$examples/." "$work/"
chmod -R u+w "$work"

user=${USERNAME:-demo}
echo "== ${program##*/} startup.def (in $work, USERNAME=$user)"
status=0
(cd "$work" && USERNAME=$user "$program" startup.def >"$scratch/stdout" 2>"$scratch/stderr") || status=$?
cat "$scratch/stdout"
echo "== exit code $status"

changed=()
for file in "$examples"/*; do
  file=${file##*/}
  cmp -s "$examples/$file" "$work/$file" && continue
  changed+=("$file")
  echo "== changes to $file (line ends are CR LF)"
  diff -u --label "examples/$file" --label "$file (written back)" "$examples/$file" "$work/$file" | tr -d '\r' || true
done

[ "$status" -eq 0 ] || fail "the program ran the example with exit code $status"
if [ -s "$scratch/stderr" ]; then
  cat "$scratch/stderr" >&2
  fail "the program wrote to standard error"
fi
grep -q '^ Zubra32 v2.0 : The Textfile Manipulator' "$scratch/stdout" || fail "the program printed no banner"
[ "${changed[*]}" = "autoexec.bat config.sys" ] ||
  fail "the example changed ${changed[*]:-nothing}, not autoexec.bat and config.sys"
echo "== both Workfiles changed, nothing else"
