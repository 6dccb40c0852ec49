#!/usr/bin/env bash
# Developer entry point.
#   bash tools/dev.sh example   build, then run the shipped example on a scratch copy
#   bash tools/dev.sh test      build, then run the unit and end-to-end tests
#   bash tools/dev.sh windows   cross-build zubra32.exe, then run the end-to-end tests on it under wine
# All install cmake, g++, make and libgtest-dev with apt-get first when missing;
# windows also g++-mingw-w64-x86-64, wine and wine64.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"

usage() {
  echo "usage: bash tools/dev.sh example|test|windows" >&2
  exit 2
}

# Installs the build tools that are missing (Debian packages); "windows" as
# argument adds the cross compiler and wine.
install_missing() {
  local missing=()
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  command -v make >/dev/null 2>&1 || missing+=(make)
  dpkg -s libgtest-dev >/dev/null 2>&1 || missing+=(libgtest-dev)
  if [ "${1:-}" = windows ]; then
    command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1 || missing+=(g++-mingw-w64-x86-64)
    command -v wine >/dev/null 2>&1 || missing+=(wine)
    [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
  fi
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

# Configures build/ and builds the given targets (all when none are given).
build_targets() {
  local targets=()
  if [ $# -gt 0 ]; then targets=(--target "$@"); fi
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j"$(nproc)" "${targets[@]}"
}

# Runs ctest with the given arguments and says how many cases were skipped
# because they are for the other platform.
run_ctest() {
  local log status=0
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log" || status=$?
  echo "== $(grep -c '(Skipped)' "$log" || true) end-to-end cases skipped (for the other platform)"
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
  echo "== end-to-end cases on build-windows/zubra32.exe under $(wine --version)"
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

[ $# -eq 1 ] || usage
case "$1" in
  example)
    install_missing
    build_targets zubra32
    run_example
    ;;
  test)
    install_missing
    build_targets
    run_ctest --test-dir "$build" --output-on-failure --no-tests=error -j2
    ;;
  windows)
    install_missing windows
    build_targets zubra32_e2e
    test_windows
    ;;
  *) usage ;;
esac
