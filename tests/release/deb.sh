#!/usr/bin/env bash
# Checks of the Debian package cpack made in a native build (ctest -L release):
#   bash tests/release/deb.sh CHECK BUILD VERSION PROGRAM SOURCE [WHY-NOT-HARDENED]
# BUILD is the build folder holding zubra32_VERSION_ARCH.deb, PROGRAM the
# program it was made from, SOURCE the source tree. The package is unpacked
# into a scratch root as dpkg would install it. CHECK is one of
#   contents     the control fields (version, section, dependencies) and the
#                files it installs
#   example      the installed program runs the installed example
#   manual_page  the installed manual page renders without warnings
#   docs         the copyright file (DEP-5, Expat) and changelog.gz, no LICENSE
#   lintian      lintian finds no error and no warning
#   hardening    the installed program and the compile commands of its sources
#                are hardened; skipped with WHY-NOT-HARDENED when this build
#                is not meant to be
set -euo pipefail
[ $# -ge 5 ] || { echo "usage: bash tests/release/deb.sh CHECK BUILD VERSION PROGRAM SOURCE [WHY-NOT-HARDENED]" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/common.sh"
start_check deb "$@"

deb="$build/zubra32_${version}_$(dpkg --print-architecture).deb"
need_package "$deb" "$program" "cpack -G DEB --config $build/CPackConfig.cmake (bash tools/dev.sh package)"
unpacked="$scratch/root"
dpkg -x "$deb" "$unpacked"
doc="$unpacked/usr/share/doc/zubra32"

case "$check" in
  contents)
    echo "== ${deb##*/}: $(stat -c %s "$deb") bytes"
    dpkg-deb -f "$deb" Package Version Section Maintainer Depends
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
    [ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "package section is not utils"
    [[ $(dpkg-deb -f "$deb" Depends) == *libc6* ]] || fail "package depends on nothing"
    for file in usr/bin/zubra32 usr/share/man/man1/zubra32.1.gz usr/share/doc/zubra32/README.md \
        usr/share/doc/zubra32/examples/startup.def usr/share/doc/zubra32/examples/autoexec.bat \
        usr/share/doc/zubra32/examples/config.sys usr/share/doc/zubra32/report.schema.json; do
      [ -f "$unpacked/$file" ] || fail "package lacks /$file"
    done
    echo "== version $version, section utils, depends on libc6; program, manual page, README, report schema and example installed"
    ;;

  example)
    # On a copy of the installed example; the script makes its own.
    bash "$source/tests/example/run_example.sh" "$unpacked/usr/bin/zubra32" "$doc/examples" ||
      fail "the installed program did not run the installed example as it should"
    ;;

  manual_page)
    # No warnings from groff, nor from mandoc when it is there.
    need_tool groff groff-base
    zcat "$unpacked/usr/share/man/man1/zubra32.1.gz" >"$scratch/zubra32.1"
    status=0
    groff -ww -z -man "$scratch/zubra32.1" >"$scratch/lint" 2>&1 || status=$?
    if command -v mandoc >/dev/null 2>&1; then
      mandoc -T lint -W warning "$scratch/zubra32.1" >>"$scratch/lint" 2>&1 || true
    fi
    if [ -s "$scratch/lint" ]; then
      cat "$scratch/lint" >&2
      fail "the manual page has warnings"
    fi
    [ "$status" -eq 0 ] || fail "groff failed on the manual page (exit code $status)"
    echo "== manual page renders without warnings"
    ;;

  docs)
    # As Debian wants them: the licence in the copyright file
    # (machine-readable), a changelog whose top entry is this version.
    head -n 1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
      fail "the copyright file is not machine-readable (DEP-5)"
    grep -q '^License: Expat$' "$doc/copyright" || fail "the copyright file names no licence"
    gzip -t "$doc/changelog.gz" || fail "changelog.gz is no gzip file"
    zcat "$doc/changelog.gz" | head -n 1 | grep -q "^zubra32 ($version) " ||
      fail "the changelog's top entry is not version $version"
    [ ! -e "$doc/LICENSE" ] || fail "the package holds LICENSE besides its copyright file"
    echo "== copyright (DEP-5, Expat) and changelog.gz ($version) in /usr/share/doc/zubra32"
    ;;

  lintian)
    # Errors and warnings fail; informational tags are shown (the README's
    # packaging section says why each one stays).
    need_tool lintian lintian
    echo "== lintian $(lintian --version | sed 's/^Lintian v//')"
    status=0
    lintian --fail-on error,warning --display-info --pedantic --display-experimental "$deb" >"$scratch/lintian" 2>&1 ||
      status=$?
    grep -v '^running with root privileges is not recommended!$' "$scratch/lintian" || true
    [ "$status" -eq 0 ] || fail "lintian found errors or warnings (exit code $status)"
    echo "== lintian: no errors, no warnings"
    ;;

  hardening)
    # hardening-check (devscripts) for PIE, stack protector, read-only
    # relocations and immediate binding; the compile commands of the program's
    # sources (src/) for the flags that leave no sure trace in the binary:
    # _FORTIFY_SOURCE (every libc call of the program has a size known only at
    # run time, so none becomes a checked one) and -fcf-protection (Debian
    # 12's C start files carry no CET marks, so no program linked on it is
    # marked).
    [ -z "${6:-}" ] || unavailable "$6"
    need_tool hardening-check devscripts
    hardening-check --verbose --nofortify --nocfprotection "$unpacked/usr/bin/zubra32" ||
      fail "hardening-check: the program lacks a hardening feature"
    [ -f "$build/compile_commands.json" ] ||
      unavailable "no compile_commands.json in $build: configure it with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON"
    for flag in -D_FORTIFY_SOURCE=3 -fstack-protector-strong -fstack-clash-protection -fcf-protection; do
      # Each entry names its command before its file.
      awk -v flag=" $flag " -v sources="\"$source/src/" '
        /"command":/ { command = $0 }
        /"file":/ && index($0, sources) { objects++; if (!index(command, flag)) missing++ }
        END { exit !(objects > 0 && missing == 0) }' "$build/compile_commands.json" ||
        fail "an object of the program was compiled without $flag"
    done
    echo "== hardened: PIE, stack protector, relro, bindnow; the program's objects compiled with _FORTIFY_SOURCE=3, stack clash and CF protection"
    ;;

  *) fail "no check $check" ;;
esac
