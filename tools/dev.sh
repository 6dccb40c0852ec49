#!/usr/bin/env bash
# Developer entry point.
#   bash tools/dev.sh example   build, then run the shipped example on a scratch copy
#   bash tools/dev.sh test      build, then run the unit and end-to-end tests
#   bash tools/dev.sh package   build, make the .deb with cpack and check it: it
#                               unpacks, its program runs the shipped example,
#                               its manual page renders without warnings
#   bash tools/dev.sh windows   cross-build zubra32.exe, then run the end-to-end
#                               tests on it under wine
#   bash tools/dev.sh sanitize  the tests, built in build-asan with
#                               AddressSanitizer and UndefinedBehaviorSanitizer
# All install cmake, g++, make and libgtest-dev with apt-get first when missing
# (package also dpkg-dev, for the package's dependencies, and groff; windows
# also g++-mingw-w64-x86-64, wine and wine64).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"

usage() {
  echo "usage: bash tools/dev.sh example|test|package|windows|sanitize" >&2
  exit 2
}

# Installs the build tools that are missing (Debian packages), and the extra
# ones given as command:package.
install_missing() {
  local missing=() extra
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  command -v make >/dev/null 2>&1 || missing+=(make)
  dpkg -s libgtest-dev >/dev/null 2>&1 || missing+=(libgtest-dev)
  for extra in "$@"; do
    command -v "${extra%%:*}" >/dev/null 2>&1 || missing+=("${extra#*:}")
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
  "${sudo[@]}" apt-get update </dev/null
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}" </dev/null
}

# Configures $build and builds the given targets (all when none are given);
# extra cmake options come in $cmake_options.
cmake_options=()
build_targets() {
  local targets=()
  if [ $# -gt 0 ]; then targets=(--target "$@"); fi
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${cmake_options[@]}"
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

# Cross-builds zubra32.exe into build-windows/ and runs the end-to-end cases
# on it under wine, in a fresh wine prefix that is removed afterwards.
test_windows() {
  (cd "$root" && cmake --preset windows && cmake --build --preset windows)
  local status=0
  wine_prefix=$(mktemp -d)
  export WINEPREFIX="$wine_prefix" WINEDEBUG=-all
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$wine_prefix"' EXIT
  echo "== setting up a wine prefix in $wine_prefix"
  # No browser or .NET runtime is wanted in the prefix: don't let wine look for them.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  wineserver -w
  # One wine server and one set of wine's own services for all cases, started
  # here so that no case waits for them.
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1
  echo "== platform test under $(wine --version)"
  wine "$root/build-windows/zubra32_platform_windows_test.exe"
  echo "== write-back order under wine"
  wine "$root/build-windows/zubra32_write_back_order_test.exe"
  echo "== fault walk of the Windows platform file under wine"
  wine "$root/build-windows/zubra32_fault_walk_windows_test.exe"
  echo "== end-to-end cases on build-windows/zubra32.exe"
  ZUBRA32_E2E_PROGRAM="$root/build-windows/zubra32.exe" ZUBRA32_E2E_LAUNCHER=wine \
    run_ctest --test-dir "$build" -R '^e2e\.' --output-on-failure --no-tests=error -j2 || status=$?
  return "$status"
}

# Runs the example on a scratch copy of examples/ and shows what it changed.
run_example() {
  local status=0 file
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
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

# Makes the .deb from build/, unpacks it into a scratch root as dpkg would
# install it, runs the installed program on a scratch copy of the installed
# example and lints the installed manual page.
check_package() {
  local version arch deb unpacked status=0 output file changed=0
  version=$(sed -n 's/^project(zubra32 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
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
  trap 'rm -rf "$scratch"' EXIT
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
    # acl and attr: the tests that check what a write-back keeps read ACLs and attributes with them.
    install_missing setfacl:acl getfattr:attr
    build_targets
    run_ctest --test-dir "$build" --output-on-failure --no-tests=error -j2
    ;;
  windows)
    install_missing x86_64-w64-mingw32-g++:g++-mingw-w64-x86-64 wine:wine /usr/lib/wine/wine64:wine64
    build_targets zubra32_e2e
    test_windows
    ;;
  package)
    install_missing dpkg-shlibdeps:dpkg-dev groff:groff-base
    build_targets
    check_package
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
