#!/usr/bin/env bash
# Developer entry point.
#   bash tools/dev.sh example   build, then run the shipped example on a scratch copy
#   bash tools/dev.sh test      build, then run the unit and end-to-end tests
#   bash tools/dev.sh sanitize  the same tests, built in build-asan with
#                               AddressSanitizer and UndefinedBehaviorSanitizer
# Both install cmake, g++, make and libgtest-dev with apt-get first when missing.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"

usage() {
  echo "usage: bash tools/dev.sh example|test|sanitize" >&2
  exit 2
}

# Installs the build tools that are missing (Debian packages).
install_missing() {
  local missing=()
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  command -v make >/dev/null 2>&1 || missing+=(make)
  dpkg -s libgtest-dev >/dev/null 2>&1 || missing+=(libgtest-dev)
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
    ctest --test-dir "$build" --output-on-failure --no-tests=error -j2
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
