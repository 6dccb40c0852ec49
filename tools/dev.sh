#!/usr/bin/env bash
# Developer entry point.
#   bash tools/dev.sh example   build, then run the shipped example on a scratch copy
#   bash tools/dev.sh test      check that includes point down a layer and the C++ is
#                               formatted, build, then run the unit and end-to-end tests
#   bash tools/dev.sh package   build, make the .deb with cpack and check it: it
#                               unpacks, its program runs the shipped example,
#                               its manual page renders without warnings,
#                               lintian finds no error or warning, the program
#                               is hardened
#   bash tools/dev.sh windows   cross-build zubra32.exe, then run the end-to-end
#                               tests on it under wine
#   bash tools/dev.sh sanitize  the tests, built in build-asan with
#                               AddressSanitizer and UndefinedBehaviorSanitizer
#   bash tools/dev.sh release   Release builds: the tests, the .deb as package
#                               checks it, zubra32.exe with the end-to-end tests
#                               under wine, the Windows zip and its manifests
#                               checked; leaves them with SHA256SUMS in out/
#   bash tools/dev.sh setup     install every tool the commands above and CI use
# All install cmake, g++, make and libgtest-dev with apt-get first when missing,
# and the tools of their own (listed below) as well.
# Warnings are errors in every build made here (CMAKE_COMPILE_WARNING_AS_ERROR).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"

usage() {
  echo "usage: bash tools/dev.sh example|test|package|windows|sanitize|release|setup" >&2
  exit 2
}

# The Debian packages each command needs beyond the build tools, as
# command:package (the command stands for its package) or a package alone.
# acl and attr: the tests that check what a write-back keeps read ACLs and
# attributes with them; clang-format: the check that the C++ is formatted;
# the rest: the tests of the Ansible collection (tests/ansible/run.sh).
test_tools=(setfacl:acl getfattr:attr clang-format:clang-format ansible-playbook:ansible-core
  /usr/sbin/sshd:openssh-server yamllint:yamllint pycodestyle:pycodestyle python3-jsonschema python3-voluptuous)
package_tools=(dpkg-shlibdeps:dpkg-dev groff:groff-base lintian:lintian hardening-check:devscripts)
windows_tools=(x86_64-w64-mingw32-g++:g++-mingw-w64-x86-64 wine:wine /usr/lib/wine/wine64:wine64)
zip_tools=(unzip:unzip exiftool:libimage-exiftool-perl wrestool:icoutils)
fuzz_tools=(clang++-14:clang-14 libclang-rt-14-dev)

# Installs the build tools that are missing (Debian packages), and the extra
# ones given as above.
install_missing() {
  local missing=() extra
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  command -v make >/dev/null 2>&1 || missing+=(make)
  dpkg -s libgtest-dev >/dev/null 2>&1 || missing+=(libgtest-dev)
  for extra in "$@"; do
    if [[ $extra == *:* ]]; then
      command -v "${extra%%:*}" >/dev/null 2>&1 || missing+=("${extra#*:}")
    else
      dpkg -s "$extra" >/dev/null 2>&1 || missing+=("$extra")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then return 0; fi

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || {
      echo "dev.sh: missing ${missing[*]}; install them as root (apt-get install ${missing[*]})" >&2
      exit 1
    }
    sudo=(sudo)
  fi
  echo "dev.sh: installing ${missing[*]}"
  # No package installed here may start a service (openssh-server would start
  # an sshd on every address): where no policy forbids that already, one does
  # for the time of the installation.
  local policy=/usr/sbin/policy-rc.d made_policy=0 status=0
  if [ ! -e "$policy" ]; then
    "${sudo[@]}" sh -c "printf '#!/bin/sh\\nexit 101\\n' >$policy && chmod 755 $policy" && made_policy=1
  fi
  "${sudo[@]}" apt-get update </dev/null || status=$?
  [ "$status" -ne 0 ] || "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}" </dev/null || status=$?
  [ "$made_policy" -eq 0 ] || "${sudo[@]}" rm -f "$policy"
  return "$status"
}

# Commands run when the script ends, however it ends.
exit_commands=()
at_exit() {
  exit_commands+=("$1")
  trap 'for exit_command in "${exit_commands[@]}"; do eval "$exit_command"; done' EXIT
}

# Configures $build ($build_type) and builds the given targets (all when none
# are given); extra cmake options come in $cmake_options.
build_type=RelWithDebInfo
cmake_options=()
build_targets() {
  local targets=()
  if [ $# -gt 0 ]; then targets=(--target "$@"); fi
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="$build_type" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "${cmake_options[@]}"
  cmake --build "$build" -j"$(nproc)" "${targets[@]}"
}

# Runs ctest with the given arguments (on $build), says how many end-to-end
# cases were skipped (for the other platform, or owner cases without root)
# and why any other test skipped.
run_ctest() {
  local log status=0
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log" || status=$?
  echo "== $(grep -c 'e2e\..*(Skipped)' "$log" || true) end-to-end cases skipped (for the other platform, or needing root)"
  grep -h ': skipped: ' "$build/Testing/Temporary/LastTest.log" 2>/dev/null | sed 's/^/== /' || true
  rm -f "$log"
  return "$status"
}

# Cross-builds zubra32.exe with the given preset (windows: into
# build-windows/) and runs the end-to-end cases on it under wine, in a fresh
# wine prefix that is removed when the script ends.
test_windows() {
  local preset=${1:-windows} windows_build
  windows_build="$root/build-$preset"
  (cd "$root" && cmake --preset "$preset" && cmake --build --preset "$preset")
  local status=0
  wine_prefix=$(mktemp -d)
  export WINEPREFIX="$wine_prefix" WINEDEBUG=-all
  at_exit "wineserver -k >/dev/null 2>&1 || true; rm -rf $(printf %q "$wine_prefix")"
  echo "== setting up a wine prefix in $wine_prefix"
  # No browser or .NET runtime is wanted in the prefix: don't let wine look for them.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  wineserver -w
  # One wine server and one set of wine's own services for all cases, started
  # here so that no case waits for them.
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1
  echo "== platform test under $(wine --version)"
  wine "$windows_build/zubra32_platform_windows_test.exe"
  echo "== write-back order under wine"
  wine "$windows_build/zubra32_write_back_order_test.exe"
  echo "== fault walk of the Windows platform file under wine"
  wine "$windows_build/zubra32_fault_walk_windows_test.exe"
  echo "== end-to-end cases on build-$preset/zubra32.exe"
  ZUBRA32_E2E_PROGRAM="$windows_build/zubra32.exe" ZUBRA32_E2E_LAUNCHER=wine \
    run_ctest --test-dir "$build" -R '^e2e\.' --output-on-failure --no-tests=error -j2 || status=$?
  return "$status"
}

# Runs the example on a scratch copy of examples/ and shows what it changed.
run_example() {
  local status=0 file
  scratch=$(mktemp -d)
  at_exit "rm -rf $(printf %q "$scratch")"
  cp -R "$root/examples/." "$scratch/"
  chmod -R u+w "$scratch"

  echo "== zubra32 startup.def (in $scratch, USERNAME=${USERNAME:-demo})"
  (cd "$scratch" && USERNAME="${USERNAME:-demo}" "$build/zubra32" startup.def) || status=$?
  echo "== exit code $status"

  for file in "$root"/examples/*; do
    file=${file##*/}
    cmp -s "$root/examples/$file" "$scratch/$file" && continue
    echo "== changes to $file (line ends are CR LF)"
    diff -u --label "examples/$file" --label "$file (written back)" \
      "$root/examples/$file" "$scratch/$file" | tr -d '\r' || true
  done
  return "$status"
}

# Fails the package check with a message.
package_fault() {
  echo "dev.sh package: $*" >&2
  exit 1
}

# The version in project().
project_version() {
  sed -n 's/^project(zubra32 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt"
}

# Makes the .deb from $build, unpacks it into a scratch root as dpkg would
# install it, runs the installed program on a scratch copy of the installed
# example, lints the installed manual page and the package, and checks that
# the program is hardened.
check_package() {
  local version arch deb unpacked status=0 output file changed=0
  version=$(project_version)
  arch=$(dpkg --print-architecture)
  deb="$build/zubra32_${version}_${arch}.deb"
  rm -f "$build"/zubra32_*.deb
  if ! (cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1); then
    cat "$build/cpack.log" >&2
    package_fault "cpack -G DEB failed"
  fi
  [ -f "$deb" ] || package_fault "cpack made no $deb"
  echo "== $(basename "$deb"): $(stat -c %s "$deb") bytes"
  dpkg-deb -f "$deb" Package Version Section Maintainer Depends

  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || package_fault "package version is not $version"
  [ "$(dpkg-deb -f "$deb" Section)" = utils ] || package_fault "package section is not utils"
  [[ $(dpkg-deb -f "$deb" Depends) == *libc6* ]] || package_fault "package depends on nothing"

  scratch=$(mktemp -d)
  at_exit "rm -rf $(printf %q "$scratch")"
  unpacked="$scratch/root"
  dpkg -x "$deb" "$unpacked"
  for file in usr/bin/zubra32 usr/share/man/man1/zubra32.1.gz usr/share/doc/zubra32/README.md \
      usr/share/doc/zubra32/examples/startup.def; do
    [ -f "$unpacked/$file" ] || package_fault "package lacks /$file"
  done

  # The installed program on a copy of the installed example.
  cp -R "$unpacked/usr/share/doc/zubra32/examples" "$scratch/work"
  output=$(cd "$scratch/work" && USERNAME=ci "$unpacked/usr/bin/zubra32" startup.def 2>"$scratch/stderr") || status=$?
  [ "$status" -eq 0 ] || package_fault "installed zubra32 ran the example with exit code $status"
  [ ! -s "$scratch/stderr" ] || package_fault "installed zubra32 wrote to standard error"
  grep -q '^ Zubra32 v2.0 : The Textfile Manipulator' <<<"$output" || package_fault "installed zubra32 printed no banner"
  for file in autoexec.bat config.sys; do
    cmp -s "$unpacked/usr/share/doc/zubra32/examples/$file" "$scratch/work/$file" || changed=$((changed + 1))
  done
  [ "$changed" -eq 2 ] || package_fault "the example changed $changed of its 2 Workfiles"
  echo "== installed zubra32 ran the example: exit code 0, both Workfiles changed"

  # The manual page as installed: no warnings from groff, nor from mandoc when it is there.
  zcat "$unpacked/usr/share/man/man1/zubra32.1.gz" >"$scratch/zubra32.1"
  groff -ww -z -man "$scratch/zubra32.1" >"$scratch/lint" 2>&1
  if command -v mandoc >/dev/null 2>&1; then
    mandoc -T lint -W warning "$scratch/zubra32.1" >>"$scratch/lint" 2>&1 || true
  fi
  if [ -s "$scratch/lint" ]; then
    cat "$scratch/lint" >&2
    package_fault "the manual page has warnings"
  fi
  echo "== manual page renders without warnings"

  # The documentation as Debian wants it: the licence in the copyright file
  # (machine-readable), a changelog whose top entry is this version.
  doc="$unpacked/usr/share/doc/zubra32"
  head -n 1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
    package_fault "the copyright file is not machine-readable (DEP-5)"
  grep -q '^License: Expat$' "$doc/copyright" || package_fault "the copyright file names no licence"
  gzip -t "$doc/changelog.gz" || package_fault "changelog.gz is no gzip file"
  zcat "$doc/changelog.gz" | head -n 1 | grep -q "^zubra32 ($version) " ||
    package_fault "the changelog's top entry is not version $version"
  [ ! -e "$doc/LICENSE" ] || package_fault "the package holds LICENSE besides its copyright file"
  echo "== copyright (DEP-5, Expat) and changelog.gz ($version) in /usr/share/doc/zubra32"

  # lintian: errors and warnings fail; informational tags are shown (the
  # README's packaging section says why each one stays).
  echo "== lintian $(lintian --version | sed 's/^Lintian v//')"
  status=0
  lintian --fail-on error,warning --display-info --pedantic --display-experimental "$deb" >"$scratch/lintian" 2>&1 || status=$?
  grep -v '^running with root privileges is not recommended!$' "$scratch/lintian" || true
  [ "$status" -eq 0 ] || package_fault "lintian found errors or warnings (exit code $status)"
  echo "== lintian: no errors, no warnings"

  check_hardening "$unpacked/usr/bin/zubra32"
}

# Checks that the installed program $1 is hardened: hardening-check
# (devscripts) for PIE, stack protector, read-only relocations and immediate
# binding, and the compile commands of the program's sources (src/) for the
# flags that leave no sure trace in the binary: _FORTIFY_SOURCE (every libc call of the program has a
# size known only at run time, so none becomes a checked one) and
# -fcf-protection (Debian 12's C start files carry no CET marks, so no
# program linked on it is marked).
check_hardening() {
  local program=$1 flag commands
  hardening-check --verbose --nofortify --nocfprotection "$program" ||
    package_fault "hardening-check: the program lacks a hardening feature"
  [ -f "$build/compile_commands.json" ] || package_fault "no $build/compile_commands.json"
  for flag in -D_FORTIFY_SOURCE=3 -fstack-protector-strong -fstack-clash-protection -fcf-protection; do
    # Each entry names its command before its file.
    awk -v flag=" $flag " -v sources="\"$root/src/" '
      /"command":/ { command = $0 }
      /"file":/ && index($0, sources) { objects++; if (!index(command, flag)) missing++ }
      END { exit !(objects > 0 && missing == 0) }' "$build/compile_commands.json" ||
      package_fault "an object of the program was compiled without $flag"
  done
  echo "== hardened: PIE, stack protector, relro, bindnow; the program's objects compiled with _FORTIFY_SOURCE=3, stack clash and CF protection"
}

# Fails the zip check with a message.
zip_fault() {
  echo "dev.sh release: $*" >&2
  exit 1
}

# Makes the Windows zip from build-windows-release/ and checks it: exactly the
# program, README.md, LICENSE, the example and SHA256SUMS in one folder; the
# sums match; the program's version resource (read back with exiftool) and
# manifest (extracted with wrestool) say what they should; the program is
# built for ASLR and DEP; the winget and scoop manifests name this zip and
# its hash; the program from the zip prints its help under wine.
check_zip() {
  local version windows_build zip folder unzipped name value want sha status=0 output
  version=$(project_version)
  windows_build="$root/build-windows-release"
  folder="zubra32-$version-win64"
  zip="$windows_build/$folder.zip"
  rm -f "$zip"
  if ! (cd "$windows_build" && cpack -G ZIP >"$windows_build/cpack.log" 2>&1); then
    cat "$windows_build/cpack.log" >&2
    zip_fault "cpack -G ZIP failed"
  fi
  [ -f "$zip" ] || zip_fault "cpack made no $zip"
  echo "== $(basename "$zip"): $(stat -c %s "$zip") bytes"

  want=$(printf "$folder/%s\n" LICENSE README.md SHA256SUMS examples/ examples/autoexec.bat \
    examples/config.sys examples/startup.def zubra32.exe | sort)
  if [ "$(unzip -Z1 "$zip" | sort)" != "$want" ]; then
    unzip -Z1 "$zip" >&2
    zip_fault "the zip does not hold exactly: $(tr '\n' ' ' <<<"$want")"
  fi
  scratch=$(mktemp -d)
  at_exit "rm -rf $(printf %q "$scratch")"
  unzip -q "$zip" -d "$scratch"
  unzipped="$scratch/$folder"
  for name in README.md LICENSE examples/startup.def examples/autoexec.bat examples/config.sys; do
    cmp -s "$root/$name" "$unzipped/$name" || zip_fault "$name in the zip differs from the source's"
  done
  # SHA256SUMS covers every other file of the zip, in sha256sum's own format.
  (cd "$unzipped" && sha256sum --check --strict --quiet SHA256SUMS) || zip_fault "SHA256SUMS does not match the zip's files"
  if [ "$(cut -c 67- "$unzipped/SHA256SUMS" | sort)" != "$(cd "$unzipped" && find . -type f ! -name SHA256SUMS | cut -c 3- | sort)" ]; then
    zip_fault "SHA256SUMS does not name every file of the zip"
  fi
  echo "== zip holds $folder/ with the program, README.md, LICENSE, the example and SHA256SUMS; the sums match"

  # The version resource, as Windows shows it.
  for name in FileVersionNumber:$version.0 ProductVersionNumber:$version.0 FileVersion:$version \
      ProductVersion:$version ProductName:Zubra32 OriginalFileName:zubra32.exe InternalName:zubra32 \
      "CompanyName:the Zubra32 developers" "FileDescription:Zubra32 : The Textfile Manipulator" \
      "LegalCopyright:Copyright (C) 2026 the Zubra32 developers, MIT licence"; do
    value=$(exiftool -s3 "-${name%%:*}" "$unzipped/zubra32.exe")
    [ "$value" = "${name#*:}" ] || zip_fault "version resource: ${name%%:*} is \"$value\", not \"${name#*:}\""
  done
  echo "== version resource: $(exiftool -s3 -ProductName -FileVersion "$unzipped/zubra32.exe" | tr '\n' ' ')(exiftool $(exiftool -ver))"

  # The application manifest: no elevation, Windows 7 to 11, no forced code page.
  wrestool -x --raw --type=24 "$unzipped/zubra32.exe" >"$scratch/manifest" || zip_fault "zubra32.exe has no manifest"
  grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' "$scratch/manifest" ||
    zip_fault "the manifest does not run the program asInvoker"
  for want in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
      1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -q "<supportedOS Id=\"{$want}\"/>" "$scratch/manifest" || zip_fault "the manifest lacks supportedOS $want"
  done
  ! grep -q -i 'activeCodePage' "$scratch/manifest" || zip_fault "the manifest forces an active code page"
  grep -q "version=\"$version.0\"" "$scratch/manifest" || zip_fault "the manifest's assembly version is not $version.0"
  echo "== manifest: asInvoker, supportedOS Windows 7, 8, 8.1, 10/11, no active code page"
  output=$(x86_64-w64-mingw32-objdump -p "$unzipped/zubra32.exe")
  for name in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    grep -q "^[[:space:]]*$name\$" <<<"$output" || zip_fault "zubra32.exe is not marked $name"
  done
  echo "== zubra32.exe: DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT"

  # The manifests for winget and scoop name this zip and its hash.
  sha=$(sha256sum "$zip" | cut -d ' ' -f 1)
  check_line() {  # file, line that must be in it
    grep -q -x -F -- "$2" "$windows_build/$1" || zip_fault "$1 lacks the line: $2"
  }
  check_line scoop/zubra32.json "    \"version\": \"$version\","
  check_line scoop/zubra32.json "            \"hash\": \"$sha\","
  check_line scoop/zubra32.json "            \"extract_dir\": \"$folder\""
  grep -q -x "            \"url\": \"https\?://[^\"]*/$folder\.zip\"," "$windows_build/scoop/zubra32.json" ||
    zip_fault "scoop/zubra32.json does not point at $folder.zip"
  for name in Zubra32.Zubra32.yaml Zubra32.Zubra32.installer.yaml Zubra32.Zubra32.locale.en-US.yaml; do
    check_line "winget/$name" "PackageVersion: $version"
  done
  check_line winget/Zubra32.Zubra32.installer.yaml "  InstallerSha256: ${sha^^}"
  check_line winget/Zubra32.Zubra32.installer.yaml "- RelativeFilePath: $folder\\zubra32.exe"
  grep -q -x "  InstallerUrl: https\?://.*/$folder\.zip" "$windows_build/winget/Zubra32.Zubra32.installer.yaml" ||
    zip_fault "the winget manifest does not point at $folder.zip"
  if command -v perl >/dev/null 2>&1; then
    perl -MJSON::PP -e 'local $/; JSON::PP->new->decode(<STDIN>)' <"$windows_build/scoop/zubra32.json" ||
      zip_fault "scoop/zubra32.json is no valid JSON"
  fi
  echo "== winget and scoop manifests name $folder.zip, sha256 $sha"

  # The program as unpacked from the zip, under wine (set up by test_windows).
  if [ -n "${WINEPREFIX:-}" ]; then
    output=$(cd "$unzipped" && wine ./zubra32.exe '/?' 2>/dev/null) || status=$?
    [ "$status" -eq 5 ] || zip_fault "zubra32.exe /? from the zip ended with exit code $status, not 5"
    grep -q "^' Zubra32 v2.0 : The Textfile Manipulator"$'\r'"\$" <<<"$output" ||
      zip_fault "zubra32.exe /? from the zip printed no help"
    echo "== zubra32.exe from the zip prints its help under wine, exit code 5"
  fi
}

# Gathers the .deb, the zip and the manifests in out/ (made afresh), with
# SHA256SUMS over the packages.
collect_release() {
  local version out deb zip
  version=$(project_version)
  out="$root/out"
  deb="$build/zubra32_${version}_$(dpkg --print-architecture).deb"
  zip="$root/build-windows-release/zubra32-$version-win64.zip"
  rm -rf "$out"
  mkdir -p "$out"
  cp "$deb" "$zip" "$out/"
  cp -R "$root/build-windows-release/winget" "$root/build-windows-release/scoop" "$out/"
  (cd "$out" && sha256sum -- *.deb *.zip >SHA256SUMS)
  echo "== release $version in out/:"
  (cd "$out" && find . -type f | sort | while read -r file; do
     printf '   %-50s %8s bytes\n' "${file#./}" "$(stat -c %s "$file")"
   done)
  (cd "$out" && sha256sum --check --strict --quiet SHA256SUMS) || zip_fault "out/SHA256SUMS does not match"
}

[ $# -eq 1 ] || usage
case "$1" in
  example)
    install_missing
    build_targets zubra32
    run_example
    ;;
  test)
    bash "$root/tools/check_layers.sh"
    install_missing "${test_tools[@]}"
    bash "$root/tools/check_format.sh"
    build_targets
    run_ctest --test-dir "$build" --output-on-failure --no-tests=error -j2
    ;;
  windows)
    install_missing "${windows_tools[@]}"
    build_targets zubra32_e2e
    test_windows
    ;;
  package)
    install_missing "${package_tools[@]}"
    build_targets
    check_package
    ;;
  release)
    install_missing "${test_tools[@]}" "${package_tools[@]}" "${windows_tools[@]}" "${zip_tools[@]}"
    build="$root/build-release"
    build_type=Release
    build_targets
    run_ctest --test-dir "$build" --output-on-failure --no-tests=error -j2
    check_package
    test_windows windows-release
    check_zip
    collect_release
    ;;
  setup)
    install_missing "${test_tools[@]}" "${package_tools[@]}" "${windows_tools[@]}" "${zip_tools[@]}" \
      "${fuzz_tools[@]}"
    ;;
  sanitize)
    install_missing
    build="$root/build-asan"
    cmake_options=(-DZUBRA32_SANITIZE=ON)
    build_targets
    # Any finding fails the test that met it (the build uses -fno-sanitize-recover).
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
    ctest --test-dir "$build" --output-on-failure --no-tests=error -j2
    ;;
  *) usage ;;
esac
