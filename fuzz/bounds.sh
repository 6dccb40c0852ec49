#!/usr/bin/env bash
# Measures time and peak memory of the program on four inputs at the limits
# of what it takes (see fuzz/RESOURCE-BOUNDS.md):
#   defs     a definition file of 1,000,000 lines
#   longline a Workfile whose one line is 100 MB
#   expand   values that re-expand up to the bound of 1000 replacements a line
#   scan     100,000 directives on a Workfile of 2,500 lines
#   bash fuzz/bounds.sh [PROGRAM] [CASE...]    (PROGRAM: build/zubra32 by default)
# Needs GNU time (/usr/bin/time); the inputs are made in a scratch directory
# and removed afterwards.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
program=${1:-$root/build/zubra32}
[ $# -gt 0 ] && shift
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(defs longline expand scan)
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
[ -x "$program" ] || { echo "bounds.sh: no program at $program (bash tools/dev.sh test builds it)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bounds.sh: needs GNU time (apt-get install time)" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# Runs the program on a definition file and prints status, time, peak memory
# and the last line it printed.
measure() {
  local title=$1 def=$2 status=0
  shift 2
  env "$@" /usr/bin/time -f '%e %M' -o time.txt "$program" "$def" >out.txt || status=$?
  read -r seconds kilobytes <time.txt
  printf '%-58s exit %d  %7.2f s  %8d KB peak RSS  last line: %s\n' "$title" "$status" "$seconds" "$kilobytes" \
    "$(tail -n 1 out.txt | tr -d '\r' | cut -c1-60)"
}

crlf() { sed 's/$/\r/'; }

for case in "${cases[@]}"; do
  case "$case" in
    defs)
      # 1,000,000 lines: comments, blank lines, expansions and directives on
      # one small Workfile, in a block of ten lines repeated.
      cp "$root/examples/autoexec.bat" autoexec.bat
      {
        echo "[autoexec.bat]"
        for ((i = 0; i < 99999; i++)); do
          printf '%s\n' "' comment ~%USERNAME~%" "" "goto end=goto end" "nowhere=@never" "SET BLASTER=-X" \
            "  ctmouse.exe=@LH C:\\UTILS\\ctmouse.exe /O /R4  " "~%USERNAME~%=+!" "win=win" "' ~%COMSPEC~%" "TEMP~=C:\\TEMP= C:\\TMP"
        done
        printf '%s\n' "' last" "" "" "" "" "" "" "" "END=rem done"
      } | crlf >defs.def
      echo "defs.def: $(wc -l <defs.def) lines, $(stat -c %s defs.def) bytes"
      measure "1,000,000-line definition file" defs.def USERNAME=alice COMSPEC=C:\\COMMAND.COM
      ;;
    longline)
      # One line of 100 MB (10^8 bytes) between two short ones; a directive
      # finds text at its very end and appends to it.
      { printf 'first\r\n'; head -c 100000000 /dev/zero | tr '\0' 'x'; printf 'END OF LONG LINE\r\nlast\r\n'; } >long.txt
      printf '[long.txt]\r\nend of long line=+!\r\n' >long.def
      echo "long.txt: $(stat -c %s long.txt) bytes"
      measure "100 MB Workfile line, one directive" long.def
      printf '[long.txt]\r\nnot there=+!\r\n' >long-read.def
      measure "100 MB Workfile line, loaded only" long-read.def
      ;;
    expand)
      # GROW's value holds itself twice: every replacement brings in one more
      # reference, so each line stops at the bound, ~250 KB long.
      pad=$(head -c 245 /dev/zero | tr '\0' 'p')
      printf '[w.txt]\r\nEND=~%%GROW~%%\r\n' >expand-one.def
      printf 'w\r\n' >w.txt
      measure "one line expanding 1000 times (GROW at the end)" expand-one.def "GROW=$pad~%GROW~%"
      measure "one line expanding 1000 times (GROW at the start)" expand-one.def "GROW=~%GROW~%$pad"
      { printf '[w.txt]\r\n'; for ((i = 0; i < 1000; i++)); do printf 'x~%%GROW~%%=+y\r\n'; done; } >expand-many.def
      measure "1000 lines expanding 1000 times each (at the end)" expand-many.def "GROW=$pad~%GROW~%"
      measure "1000 lines expanding 1000 times each (at the start)" expand-many.def "GROW=~%GROW~%$pad"
      ;;
    scan)
      # 2,500 Workfile lines and 100,000 directives, most of which match nothing,
      # with 100 START= and END= lines, the most each list takes.
      for ((i = 1; i <= 2500; i++)); do echo "SET VARIABLE$i=C:\\SOME\\PATH\\TO\\FILE$i.EXE /OPTION"; done | crlf >scan.txt
      {
        echo "[scan.txt]"
        for ((i = 1; i <= 100000; i++)); do
          case $((i % 1000)) in
            1) echo "START=rem head $i" ;;
            2) echo "END=rem tail $i" ;;
            3) echo "VARIABLE$((i % 2500 + 1))=@SET CHANGED$i=1" ;;
            4) echo "FILE$((i % 2500 + 1)).EXE=+ /MORE" ;;
            *) echo "no such text $i=@never" ;;
          esac
        done
      } | crlf >scan.def
      echo "scan.def: $(wc -l <scan.def) lines; scan.txt: $(wc -l <scan.txt) lines"
      measure "100,000 directives on a 2,500-line Workfile" scan.def
      ;;
    *) echo "bounds.sh: unknown case $case" >&2; exit 2 ;;
  esac
done
