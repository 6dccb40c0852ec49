#!/usr/bin/env bash
# Times zubra32 against GNU `sed -i` and `perl -i` doing the same literal,
# case-insensitive edits on fresh copies of the same files, checks that the
# three leave the same bytes, and prints the medians and the ratios.
#
#   bash bench/run.sh [--runs N] [--only "W2 W4"] [--program PATH] [--keep] [--callgrind]
#
# W1 typical     the help text's sample definition file on a 30-line autoexec
# W2 heavy       1,000 directives on a 2,500-line file of 80-byte lines
# W3 many files  500 sections, each a 200-line file with 5 directives
# W4 long lines  10 directives on 2,500 lines of 4,000 bytes
# W5 very long   10 directives on 2,500 lines of 200,000 bytes (500 MB)
#
# For each workload with one Workfile (W2, W4, W5) it also times the floor:
# copying the Workfile with `dd conv=fsync` plus one memchr pass over it per
# directive (bench/memchr_pass.cpp), and it gives zubra32's peak resident
# memory (/usr/bin/time -v) beside the Workfile's size. W5 is not in the
# default set (it needs about 3 GB of disk and minutes): ask for it with --only.
#
# Without --program it builds zubra32 (Release) into build-bench/. hyperfine is
# used when installed, else each command runs N times and the median is taken.
# With eatmydata installed, zubra32 is also timed with its flushes to disk
# turned into no-ops, which shows what share of its time they take (the
# program itself always flushes). --callgrind counts zubra32's instructions on
# each workload with valgrind instead of timing anything (counts are exact and
# repeatable, so they compare builds on a busy machine).
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=30
only="W1 W2 W3 W4"
program=""
floor_tool=""
keep=0
callgrind=0

while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --program) program=$(realpath "$2"); shift 2 ;;
    --keep) keep=1; shift ;;
    --callgrind) callgrind=1; shift ;;
    *) echo "usage: bash bench/run.sh [--runs N] [--only \"W1 W2 W3 W4 W5\"] [--program PATH] [--keep] [--callgrind]" >&2; exit 2 ;;
  esac
done

for tool in sed perl awk cmp; do
  command -v "$tool" >/dev/null 2>&1 || { echo "run.sh: $tool is needed" >&2; exit 1; }
done
sed --version 2>/dev/null | grep -q GNU || { echo "run.sh: GNU sed is needed" >&2; exit 1; }

if [ -z "$program" ]; then
  cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DZUBRA32_BUILD_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench" -j2 --target zubra32 >/dev/null
  program="$root/build-bench/zubra32"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zubra32-bench.XXXXXX")
if [ "$keep" -eq 1 ]; then echo "workloads kept in $work"; else trap 'rm -rf "$work"' EXIT; fi
# The "~%username~%" of the sample definition file.
export USERNAME=demo

# ---------------------------------------------------------------- workloads
# Each generator fills $1/orig with the files to edit and writes $1/plan: the
# edits in a neutral form that render_plan turns into the three tools'
# scripts. Plan lines (TAB-separated):
#   group FILE...        the edits below apply to these files (names in orig/)
#   debug                the definition file switches on its traces here
#   change L R           ChangeText: the first L in a line containing L becomes R
#   add L R              AddToLine: R appended to each line containing L
#   remove L R           RemoveText: the first R removed from each line containing L
#   replace L R          ReplaceLine: each line containing L becomes R
#   start V / end V      a line added at the start / end of the file
# Every generated line ends with CR LF, has no trailing blank and is no
# echo-off line, so the program's normalising changes nothing by itself.
# "~~" in R stands for CR LF.

crlf() { awk '{ printf "%s\r\n", $0 }'; }

gen_w1() {
  mkdir -p "$1/orig"
  crlf >"$1/orig/autoexec.tst" <<'TXT'
rem Start-up file of the accounts office
SET COMSPEC=C:\COMMAND.COM
PROMPT $P$G
PATH=C:\DOS;C:\COMMANDS;C:\WINDOWS;C:\UTILS
SET TEMP=C:\TEMP
SET TMP=C:\TEMP
rem TestLine 3
LH C:\DOS\SMARTDRV.EXE /X
LH C:\DOS\DOSKEY.COM /INSERT
LH C:\MOUSE\MOUSE.COM /Y
SET BLASTER=A220 I5 D1 H5 P330 T6
SET SOUND=C:\SB16
C:\SB16\DIAGNOSE /S
C:\SB16\MIXERSET /P /Q
IF EXIST C:\NWCLIENT\LSL.COM GOTO net
GOTO nonet
:net
CD \NWCLIENT
LSL
NE2000
IPXODI
netx /ps=server1
F:
LOGIN SERVER1/SUPERVISOR
:nonet
C:
CD \
MODE CON CODEPAGE PREPARE=((850) C:\DOS\EGA.CPI)
KEYB US,,C:\DOS\KEYBOARD.SYS
rem End of the start-up file
TXT
  crlf >"$1/orig/config.tst" <<'TXT'
DEVICE=C:\DOS\HIMEM.SYS
DEVICE=C:\DOS\EMM386.EXE NOEMS
DOS=HIGH,UMB
FILES=40
BUFFERS=30
LASTDRIVE=Z
SHELL=C:\COMMAND.COM C:\ /E:1024 /P
TXT
  # The definition file is the help text's sample itself, the section names
  # pointing into the run directory.
  { "$program" /? || true; } | tr -d '\r' | tail -n +6 | sed 's/^\[c:\\\(.*\)\]$/[{RUN}\/\1]/' >"$1/defs.in"
  grep -q '^\[{RUN}/autoexec.tst\]$' "$1/defs.in" || { echo "run.sh: no sample definition file in the help text" >&2; exit 1; }
  # The same edits in the plan's terms; the mouse line is there, so
  # "mouse=!" replaces it (its adding to the start when nothing matches has no
  # one-pass counterpart in sed).
  printf '%s\n' $'group\tautoexec.tst' $'start\trem TestLine 2' \
    $'replace\tTestLine 3\trem This line replaces line 3~~rem This will be line 4' \
    $'remove\tpath=C\tc:\\commands' $'add\tpath=C\t;c:\\dos' \
    $'force\tmouse\tc:\\lmouse\\mouse.com' $'change\tnetx /\tvlm /' \
    $'end\trem Changed by ~%username~%' \
    $'group\tconfig.tst' $'end\tdevice c:\\ibmvesa\\vesa.drv' >"$1/plan"
}

# Lines of batch-file words with "keys" KEYnnnn in mixed letter case spread over them.
awk_lines='
function word() { return words[int(rand() * nwords) + 1] }
function mixcase(s, r) { r = rand(); return r < 0.33 ? toupper(s) : r < 0.66 ? tolower(s) : toupper(substr(s, 1, 1)) tolower(substr(s, 2)) }
# The plan of W4 and W5: long.txt as one group, one directive for each of the
# ten marks, the four replace-family operations in turn.
function long_line_plan(dir, m, key) {
  print "group\tlong.txt" > (dir "/plan")
  for (m = 1; m <= 10; m++) {
    key = sprintf("mark%02d", m)
    if (m % 4 == 1) printf "change\t%s\tMARKED%02d\n", key, m > (dir "/plan")
    if (m % 4 == 2) printf "add\t%s\t /M:%02d\n", key, m > (dir "/plan")
    if (m % 4 == 3) printf "remove\t%s\tc:\\windows\\command\n", key > (dir "/plan")
    if (m % 4 == 0) printf "replace\t%s\tREM long line %02d replaced\n", key, m > (dir "/plan")
  }
}
# A line of exactly `width` bytes (no trailing blank) holding the given keys.
function line(width, keys, n, i, text, at) {
  text = word()
  for (i = 1; i <= n; i++) text = text " " mixcase(keys[i])
  while (length(text) < width) text = text " " word()
  text = substr(text, 1, width)
  if (substr(text, width, 1) == " ") text = substr(text, 1, width - 1) "X"
  return text
}
BEGIN {
  nwords = split("SET PATH=C:\\DOS;C:\\WINDOWS LH C:\\DOS\\SMARTDRV.EXE /X PROMPT $P$G IF EXIST GOTO CALL " \
    "DEVICEHIGH=C:\\DOS\\ANSI.SYS /L:1,12048 BLASTER=A220 I5 D1 H5 %CONFIG%==game echo Booting win " \
    "MODE CON CODEPAGE PREPARE=((850) C:\\DOS\\EGA.CPI) C:\\DOS /E:1024 /P FILES=40 BUFFERS=30 " \
    "rem NOEMS C:\\WINDOWS\\COMMAND;C:\\UTILS CD \\TEMP LOADHIGH /S ver", words, " ")
}'

gen_w2() {
  mkdir -p "$1/orig"
  awk -v seed=2 "$awk_lines"'
  END {
    srand(seed)
    for (i = 1; i <= 2500; i++) {
      k[1] = sprintf("key%04d", int(rand() * 1000) + 1); k[2] = sprintf("key%04d", int(rand() * 1000) + 1)
      printf "%s\r\n", line(80, k, 2) > (dir "/orig/heavy.bat")
    }
    print "group\theavy.bat" > (dir "/plan")
    for (d = 1; d <= 1000; d++) {
      key = sprintf("key%04d", d)
      if (d % 4 == 1) printf "change\t%s\tVal%04d\n", key, d > (dir "/plan")
      if (d % 4 == 2) printf "add\t%s\t /K:%04d\n", mixcase(key), d > (dir "/plan")
      if (d % 4 == 3) printf "remove\t%s\tc:\\dos\n", key > (dir "/plan")
      if (d % 4 == 0) printf "replace\t%s\tREM line %04d replaced\n", toupper(key), d > (dir "/plan")
    }
  }' dir="$1" /dev/null
}

gen_w3() {
  mkdir -p "$1/orig"
  awk -v seed=3 "$awk_lines"'
  END {
    srand(seed)
    group = "group"
    for (f = 1; f <= 500; f++) {
      name = sprintf("f%03d.bat", f)
      group = group "\t" name
      for (i = 1; i <= 200; i++) {
        k[1] = sprintf("opt%03d", int(rand() * 100) + 1); k[2] = sprintf("opt%03d", int(rand() * 100) + 1)
        printf "%s\r\n", line(60 + int(rand() * 21), k, 2) > (dir "/orig/" name)
      }
      close(dir "/orig/" name)
    }
    print group > (dir "/plan")
    printf "change\topt001\tVal001\nadd\tOPT002\t /X:2\nremove\topt003\tc:\\dos\nreplace\tOpt004\tREM replaced\nchange\topt005\tOpt5new\n" > (dir "/plan")
  }' dir="$1" /dev/null
}

gen_w4() {
  mkdir -p "$1/orig"
  awk -v seed=4 "$awk_lines"'
  END {
    srand(seed)
    # Each of the ten marks stands in five lines.
    for (m = 1; m <= 10; m++) for (j = 1; j <= 5; j++) marks[int(rand() * 2500) + 1] = sprintf("mark%02d", m)
    for (i = 1; i <= 2500; i++) {
      n = 0
      if (i in marks) { n = 1; k[1] = marks[i] }
      text = line(4000, k, n)
      # The mark moves from the front to somewhere in the line.
      if (n == 1) { at = int(rand() * 3900) + 1; text = substr(text, length(k[1]) + 2); text = substr(text, 1, at) mixcase(k[1]) substr(text, at + 1, 3993 - at) "X" }
      printf "%s\r\n", substr(text, 1, 4000) > (dir "/orig/long.txt")
    }
    long_line_plan(dir)
  }' dir="$1" /dev/null
}

# The lines of W4, 50 times as long: each line is 50 pieces of 4,000 bytes
# taken from a pool of 64 (building a 200,000-byte line word by word would
# take awk minutes), the marks placed as in W4.
gen_w5() {
  mkdir -p "$1/orig"
  awk -v seed=5 "$awk_lines"'
  END {
    srand(seed)
    for (p = 1; p <= 64; p++) { n = 0; pool[p] = line(4000, k, n) }
    for (m = 1; m <= 10; m++) for (j = 1; j <= 5; j++) marks[int(rand() * 2500) + 1] = sprintf("mark%02d", m)
    for (i = 1; i <= 2500; i++) {
      at = (i in marks) ? int(rand() * 50) + 1 : 0
      for (c = 1; c <= 50; c++) {
        piece = pool[int(rand() * 64) + 1]
        # The mark goes into one piece, which keeps its length.
        if (c == at) { off = int(rand() * 3900) + 1; piece = substr(piece, 1, off) mixcase(marks[i]) substr(piece, off + 7) }
        printf "%s%s", (c > 1 ? " " : ""), substr(piece, 1, 3999) > (dir "/orig/long.txt")
      }
      printf "X\r\n" > (dir "/orig/long.txt")
    }
    long_line_plan(dir)
  }' dir="$1" /dev/null
}

# ------------------------------------------------------------- the scripts
# render_plan DIR: from DIR/plan, writes the definition file (defs.txt,
# editing DIR/run-zubra32), one sed script per group (sed-N.sed, editing
# DIR/run-sed) and one perl script (edits.pl, editing DIR/run-perl), and the
# three tools' commands (cmd-zubra32, cmd-sed, cmd-perl: one process a line;
# sed, which cannot pick a script by file name, runs once per group).
render_plan() {
  local dir=$1
  awk -v dir="$dir" -v program="$program" '
  # s with a backslash put before each byte that is in `special`.
  function esc(s, special, out, i, c) {
    for (i = 1; i <= length(s); i++) { c = substr(s, i, 1); out = out (index(special, c) ? "\\" : "") c }
    return out
  }
  function crlf_marks(s, to, n, parts, i, out) {
    n = split(s, parts, /~~/)
    for (i = 1; i <= n; i++) out = out (i > 1 ? to : "") parts[i]
    return out
  }
  function sed_re(s) { return esc(s, "[]\\/.*^$") }
  function sed_rhs(s) { return crlf_marks(esc(s, "\\/&"), "\\r\\n") }
  function sed_text(s) { return esc(s, "\\") }
  function perl_str(s, n, parts, i, out) {
    n = split(s, parts, /~~/)
    for (i = 1; i <= n; i++) out = out (i > 1 ? " . \"\\r\\n\" . " : "") "\047" esc(parts[i], "\\\047") "\047"
    return out
  }
  function zubra_left(s) { return esc(s, "~=") }
  function expand(s) { gsub(/~%username~%/, ENVIRON["USERNAME"], s); return s }
  BEGIN { FS = "\t"; defs = dir "/defs.txt"; pl = dir "/edits.pl"; groups = 0; n = 0 }
  $1 == "group" {
    groups++
    sed = dir "/sed-" groups ".sed"; printf "" > sed
    files[groups] = ""; cond[groups] = ""
    for (i = 2; i <= NF; i++) {
      files[groups] = files[groups] " " dir "/run-sed/" $i
      perlfiles[groups] = perlfiles[groups] " " dir "/run-perl/" $i
      cond[groups] = cond[groups] (i > 2 ? " || " : "") "$ARGV eq \047" dir "/run-perl/" $i "\047"
    }
    nfiles[groups] = NF - 1
    for (i = 2; i <= NF; i++) sectionfile[groups, i - 1] = $i
    next
  }
  $1 == "debug" { edits[groups, ++count[groups]] = "debug"; next }
  {
    edits[groups, ++count[groups]] = $0
    n++
    if ($1 == "start") { print "1i\\\n" sed_text(expand($2)) "\r" >> sed; startl[groups] = startl[groups] " . " perl_str(expand($2)) " . \"\\r\\n\""; next }
    if ($1 == "end") { print "$a\\\n" sed_text(expand($2)) "\r" >> sed; endl[groups] = endl[groups] " . " perl_str(expand($2)) " . \"\\r\\n\""; next }
    printf "my $l%d = %s;\nmy $L%d = qr/\\Q$l%d\\E/i;\n", n, perl_str($2), n, n >> (pl ".head")
    printf "my $R%d = %s;\n", n, perl_str($3) >> (pl ".head")
    if ($1 == "change") {
      print "s/" sed_re($2) "/" sed_rhs($3) "/I" >> sed
      body[groups] = body[groups] sprintf("  s/$L%d/$R%d/;\n", n, n)
    } else if ($1 == "add") {
      print "/" sed_re($2) "/I s/\\r$/" sed_rhs($3) "\\r/" >> sed
      body[groups] = body[groups] sprintf("  substr($_, -2, 0) = $R%d if /$L%d/;\n", n, n)
    } else if ($1 == "remove") {
      print "/" sed_re($2) "/I s/" sed_re($3) "//I" >> sed
      printf "my $Q%d = qr/\\Q$R%d\\E/i;\n", n, n >> (pl ".head")
      body[groups] = body[groups] sprintf("  s/$Q%d// if /$L%d/;\n", n, n)
    } else if ($1 == "replace" || $1 == "force") {
      print "/" sed_re($2) "/I s/.*/" sed_rhs($3) "\\r/" >> sed
      body[groups] = body[groups] sprintf("  $_ = $R%d . \"\\r\\n\" if /$L%d/;\n", n, n)
    }
  }
  END {
    # zubra32: a section per file, each with its group'"'"'s directives.
    for (g = 1; g <= groups; g++) for (f = 1; f <= nfiles[g]; f++) {
      print "[" dir "/run-zubra32/" sectionfile[g, f] "]" > defs
      for (e = 1; e <= count[g]; e++) {
        split(edits[g, e], x, "\t")
        if (x[1] == "debug") print "[debug]" > defs
        else if (x[1] == "start") print "start=" x[2] > defs
        else if (x[1] == "end") print "end=" x[2] > defs
        else if (x[1] == "change") print zubra_left(x[2]) "=" x[3] > defs
        else if (x[1] == "add") print zubra_left(x[2]) "=+" x[3] > defs
        else if (x[1] == "remove") print zubra_left(x[2]) "=-" x[3] > defs
        else if (x[1] == "replace") print zubra_left(x[2]) "=@" x[3] > defs
        else if (x[1] == "force") print zubra_left(x[2]) "=!" x[3] > defs
      }
    }
    # perl: one loop over all files; a group is picked by the file name when there are several.
    close(pl ".head")
    while ((getline l < (pl ".head")) > 0) print l > pl
    for (g = 1; g <= groups; g++) {
      print (groups == 1 ? "{" : (g > 1 ? "} elsif (" : "if (") cond[g] ") {") > pl
      printf "%s", body[g] > pl
      if (endl[g] != "") print "  $_ .= \"\"" endl[g] " if eof;" > pl
      if (startl[g] != "") print "  $_ = \"\"" startl[g] " . $_ if $. == 1;" > pl
    }
    print "}\nclose ARGV if eof;" > pl
    # The commands, with absolute paths only.
    print "\047" program "\047 " dir "/defs.txt" > (dir "/cmd-zubra32")
    for (g = 1; g <= groups; g++) printf "sed -i -f %s/sed-%d.sed%s\n", dir, g, files[g] > (dir "/cmd-sed")
    printf "perl -i -p %s/edits.pl", dir > (dir "/cmd-perl")
    for (g = 1; g <= groups; g++) printf "%s", perlfiles[g] > (dir "/cmd-perl")
    print "" > (dir "/cmd-perl")
  }' "$dir/plan"
  rm -f "$dir/edits.pl.head"
  if [ -f "$dir/defs.in" ]; then sed "s|{RUN}|$dir/run-zubra32|" "$dir/defs.in" >"$dir/defs.txt"; fi
}

fresh() { rm -rf "$1/run-$2" && cp -R "$1/orig" "$1/run-$2"; }

# Runs each tool once on fresh copies and checks that all three left the same
# bytes, and that they changed something.
verify() {
  local dir=$1 tool status=0 file
  for tool in zubra32 sed perl; do
    [ -s "$dir/cmd-$tool" ] || { echo "run.sh: no command for $tool" >&2; exit 1; }
    fresh "$dir" "$tool"
    sh -ec "$(cat "$dir/cmd-$tool")" >"$dir/out-$tool" 2>&1 || { echo "run.sh: $tool failed on $(basename "$dir"):" >&2; tail -5 "$dir/out-$tool" >&2; exit 1; }
  done
  if grep -q '^Error' "$dir/out-zubra32"; then echo "run.sh: zubra32 reported an error:" >&2; grep '^Error' "$dir/out-zubra32" >&2; exit 1; fi
  for file in "$dir"/orig/*; do
    file=${file##*/}
    cmp -s "$dir/orig/$file" "$dir/run-zubra32/$file" && { echo "run.sh: $file was not changed" >&2; status=1; }
    for tool in sed perl; do
      cmp "$dir/run-zubra32/$file" "$dir/run-$tool/$file" >&2 || { echo "run.sh: zubra32 and $tool differ on $file" >&2; status=1; }
    done
  done
  [ "$status" -eq 0 ] || exit 1
}

median_of() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# time_command DIR TOOL [ENV=VALUE]: the median wall time in seconds of the
# tool's command, each run on a fresh copy; a tool that needs several
# processes gets the sum of their medians. The environment setting goes to
# the timed process only.
time_command() {
  local dir=$1 tool=$2 setting=${3:-} command total=0 median
  # A fresh copy, its bytes on disk before the clock starts (also when the
  # timed process has the flushes turned off).
  local prepare="env -u LD_PRELOAD sh $dir/prepare-$tool"
  printf 'rm -rf %s && cp -R %s %s && sync -f %s\n' "$dir/run-$tool" "$dir/orig" "$dir/run-$tool" "$dir" >"$dir/prepare-$tool"
  while IFS= read -r command; do
    if command -v hyperfine >/dev/null 2>&1; then
      env $setting hyperfine --style none --shell none --runs "$runs" --warmup 2 --prepare "$prepare" \
        --export-json "$dir/time.json" "$command" >/dev/null 2>&1 </dev/null
      median=$(awk -F: '/"median"/ { gsub(/[ ,]/, "", $2); print $2; exit }' "$dir/time.json")
    else
      local i start end
      median=$(for ((i = 0; i < runs; i++)); do
        $prepare
        start=$(date +%s%N)
        env $setting sh -c "exec $command" >/dev/null 2>&1 </dev/null
        end=$(date +%s%N)
        echo $(((end - start) / 1000))
      done | median_of | awk '{ printf "%.6f\n", $1 / 1e6 }')
    fi
    total=$(awk -v a="$total" -v b="$median" 'BEGIN { printf "%.6f", a + b }')
  done <"$dir/cmd-$tool"
  echo "$total"
}

# eatmydata's library turns fsync into a no-op; preloaded directly, it adds no process.
nosync=$(ls /usr/lib/*/libeatmydata.so 2>/dev/null | head -1 || true)

ms() { awk -v s="$1" 'BEGIN { printf "%9.2f", s * 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%7.1fx", a / b }'; }

if [ "$callgrind" -eq 1 ]; then
  command -v valgrind >/dev/null 2>&1 || { echo "run.sh: --callgrind needs valgrind" >&2; exit 1; }
  echo "zubra32:  $program"
  printf '%-4s %15s   (instructions executed, callgrind)\n' "" "zubra32"
  for w in $only; do
    dir="$work/$w"
    mkdir -p "$dir"
    "gen_$(echo "$w" | tr 'W' 'w')" "$dir"
    render_plan "$dir"
    fresh "$dir" zubra32
    sh -c "valgrind --tool=callgrind --callgrind-out-file='$dir/callgrind.out' $(cat "$dir/cmd-zubra32")" >/dev/null 2>&1
    printf '%-4s %15s\n' "$w" "$(awk '/^summary:/ { print $2 }' "$dir/callgrind.out")"
  done
  exit 0
fi

# The floor's memchr passes, built with the system's compiler.
floor_tool="$work/memchr_pass"
"${CXX:-g++}" -std=c++20 -O2 -o "$floor_tool" "$root/bench/memchr_pass.cpp"

# floor_command DIR: for a workload with one Workfile, writes cmd-floor:
# copying it with dd conv=fsync, then a memchr pass over it per directive.
floor_command() {
  local dir=$1 files directives
  files=$(ls "$dir/orig" | wc -l)
  [ "$files" -eq 1 ] || return 1
  local file
  file=$(ls "$dir/orig")
  directives=$(grep -cvE '^(group|debug|start|end)' "$dir/plan" || true)
  printf "sh -c 'dd if=%s of=%s bs=1M conv=fsync status=none && %s %s %d >/dev/null'\n" \
    "$dir/orig/$file" "$dir/run-floor/$file" "$floor_tool" "$dir/run-floor/$file" "$directives" >"$dir/cmd-floor"
}

# peak_rss DIR: zubra32's peak resident memory in MB on a fresh copy, and the Workfiles' size.
peak_rss() {
  local dir=$1 kb size
  fresh "$dir" zubra32
  kb=$(sh -c "/usr/bin/time -v $(cat "$dir/cmd-zubra32")" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ { print $2 }')
  size=$(du -sk "$dir/orig" | awk '{ print $1 }')
  awk -v kb="$kb" -v size="$size" 'BEGIN {
    printf "%.1f MB (Workfiles %.1f MB", kb / 1024, size / 1024
    if (size >= 1024) printf ", %.2fx", kb / size
    printf ")"
  }'
}

echo "zubra32:  $program"
echo "machine:  $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), $(nproc) cores; $(sed --version | head -1); perl $(perl -e 'print $^V')"
echo "files on: $(df -PT "$work" | awk 'NR == 2 { print $2 " (" $1 ")" }'); $runs runs each$(command -v hyperfine >/dev/null && echo ", hyperfine")"
echo "load:     $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 minutes) at the start"
echo
printf '%-4s %9s %9s %9s %8s %8s %9s %8s' "" "zubra32" "sed -i" "perl -i" "sed/z" "perl/z" "floor" "z/floor"
if [ -n "$nosync" ]; then printf ' %9s %7s' "unflushed" "flushes"; fi
printf '   (median ms)\n'
rss_lines=""
for w in $only; do
  dir="$work/$w"
  mkdir -p "$dir"
  "gen_$(echo "$w" | tr 'W' 'w')" "$dir"
  render_plan "$dir"
  verify "$dir"
  z=$(time_command "$dir" zubra32)
  s=$(time_command "$dir" sed)
  p=$(time_command "$dir" perl)
  printf '%-4s %s %s %s %s %s' "$w" "$(ms "$z")" "$(ms "$s")" "$(ms "$p")" "$(ratio "$s" "$z")" "$(ratio "$p" "$z")"
  if floor_command "$dir"; then
    f=$(time_command "$dir" floor)
    printf ' %s %s' "$(ms "$f")" "$(ratio "$z" "$f")"
  else
    printf ' %9s %8s' "-" "-"
  fi
  if [ -n "$nosync" ]; then
    u=$(time_command "$dir" zubra32 "LD_PRELOAD=$nosync")
    printf ' %s %6.0f%%' "$(ms "$u")" "$(awk -v z="$z" -v u="$u" 'BEGIN { print (z - u) / z * 100 }')"
  fi
  printf '\n'
  rss_lines+="$w   $(peak_rss "$dir")"$'\n'
  # W5's copies take gigabytes: gone before the next workload.
  if [ "$keep" -eq 0 ]; then rm -rf "$dir"; fi
done
echo
echo "zubra32's peak resident memory:"
printf '%s' "$rss_lines"
echo "load:     $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 minutes) at the end"
