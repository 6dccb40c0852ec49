#!/usr/bin/env bash
# Developer entry point: installs the tools a command needs, then runs the
# presets of CMakePresets.json that do the work (configure, build, cpack, and
# ctest with the labels below). Warnings are errors in every build made here.
#   bash tools/dev.sh example   build the program, then run the shipped example
#                               on a scratch copy and show what it changed (the
#                               script of the test labelled example)
#   bash tools/dev.sh test      check that includes point down a layer and the
#                               C++ is formatted, build, then run every test but
#                               the checks of the packages (workflow dev)
#   bash tools/dev.sh package   build, make the .deb with cpack and run its checks
#                               (workflow package: the tests labelled release)
#   bash tools/dev.sh windows   cross-build zubra32.exe, then run the Windows
#                               tests and the end-to-end cases on it under wine
#                               (workflow windows: the tests labelled windows)
#   bash tools/dev.sh sanitize  the tests, built in build-asan with
#                               AddressSanitizer and UndefinedBehaviorSanitizer
#                               (workflow asan)
#   bash tools/dev.sh release   Release builds: the tests, the .deb and its
#                               checks (workflow release), zubra32.exe with the
#                               Windows tests under wine, the zip and its checks
#                               (workflow windows-release); leaves the .deb, the
#                               zip and its manifests with SHA256SUMS in out/,
#                               and the Ansible collection's tarball beside them
#   bash tools/dev.sh setup     install every tool the commands above and CI use
# All install cmake, g++, make and libgtest-dev with apt-get first when missing,
# and the tools of their own (listed below) as well.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

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

# Runs the workflow preset $1, whose tests run in the build folder $2; then
# says how many end-to-end cases were skipped (for the other platform, or
# owner cases without root) and why any other test skipped.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
workflow() {
  local status=0
  (cd "$root" && cmake --workflow --preset "$1") 2>&1 | tee "$log" || status=$?
  if grep -q '^Test project ' "$log"; then
    if grep -q ' e2e\.' "$log"; then
      echo "== $(grep -c 'e2e\..*(Skipped)' "$log" || true) end-to-end cases skipped (for the other platform, or needing root)"
    fi
    grep -h ': skipped: ' "$root/$2/Testing/Temporary/LastTest.log" 2>/dev/null | sed 's/^/== /' || true
  fi
  return "$status"
}

# The version in project().
project_version() {
  sed -n 's/^project(zubra32 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt"
}

# Gathers the .deb, the zip and the manifests in out/ (made afresh), with
# SHA256SUMS over the packages.
collect_release() {
  local version out
  version=$(project_version)
  out="$root/out"
  rm -rf "$out"
  mkdir -p "$out"
  cp "$root/build-release/zubra32_${version}_$(dpkg --print-architecture).deb" \
    "$root/build-windows-release/zubra32-$version-win64.zip" "$out/"
  cp -R "$root/build-windows-release/winget" "$root/build-windows-release/scoop" "$out/"
  (cd "$out" && sha256sum -- *.deb *.zip >SHA256SUMS)
  echo "== release $version in out/:"
  (cd "$out" && find . -type f | sort | while read -r file; do
     printf '   %-50s %8s bytes\n' "${file#./}" "$(stat -c %s "$file")"
   done)
  (cd "$out" && sha256sum --check --strict --quiet SHA256SUMS) || {
    echo "dev.sh release: out/SHA256SUMS does not match" >&2
    exit 1
  }
}

[ $# -eq 1 ] || usage
case "$1" in
  example)
    install_missing
    (cd "$root" && cmake --preset dev && cmake --build --preset example)
    bash "$root/tests/example/run_example.sh" "$root/build/zubra32" "$root/examples"
    ;;
  test)
    bash "$root/tools/check_layers.sh"
    install_missing "${test_tools[@]}"
    bash "$root/tools/check_format.sh"
    workflow dev build
    ;;
  package)
    install_missing "${package_tools[@]}"
    workflow package build
    ;;
  windows)
    # The end-to-end cases are run by the native runner, built in build/.
    install_missing "${windows_tools[@]}"
    (cd "$root" && cmake --preset dev && cmake --build --preset e2e-runner)
    workflow windows build-windows
    ;;
  sanitize)
    install_missing
    workflow asan build-asan
    ;;
  release)
    install_missing "${test_tools[@]}" "${package_tools[@]}" "${windows_tools[@]}" "${zip_tools[@]}"
    workflow release build-release
    workflow windows-release build-windows-release
    collect_release
    # The Ansible collection's tarball beside the packages.
    bash "$root/ansible/build.sh" "$root/out"
    ;;
  setup)
    install_missing "${test_tools[@]}" "${package_tools[@]}" "${windows_tools[@]}" "${zip_tools[@]}" \
      "${fuzz_tools[@]}"
    ;;
  *) usage ;;
esac
