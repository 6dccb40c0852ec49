# shellcheck shell=bash
# What the checks of the packages and the Windows tests share (sourced).
#
# A check is one ctest test, named in $check_name. It fails with exit code 1
# and its reason on standard error. It is skipped (exit code 77, the tests'
# SKIP_RETURN_CODE) with its reason on standard output when what it needs is
# not there: the package was not made in this build, or was made before the
# program was last built, or a tool is not installed. With
# ZUBRA32_RELEASE_CHECKS_REQUIRED set (the test presets of the release builds
# set it), each of those fails the check instead, so that a release is never
# made with a check left out.

# shellcheck disable=SC2154 # check_name is set by the script that sources this one
fail() {
  echo "$check_name: $*" >&2
  exit 1
}

unavailable() {
  [ -z "${ZUBRA32_RELEASE_CHECKS_REQUIRED:-}" ] || fail "$*"
  echo "$check_name: skipped: $*"
  exit 77
}

# need_tool COMMAND PACKAGE: COMMAND must be installed (from Debian's PACKAGE).
need_tool() {
  command -v "$1" >/dev/null 2>&1 || unavailable "$1 is not installed (apt-get install $2)"
}

# need_package FILE PROGRAM HOW: the package FILE must be there and newer than
# the PROGRAM it was made from; HOW says how to make it.
need_package() {
  [ -f "$1" ] || unavailable "no ${1##*/} in ${1%/*}; make it with $3"
  [ ! "$2" -nt "$1" ] || unavailable "${1##*/} is older than ${2##*/}; make it again with $3"
}

# start_check PACKAGE-KIND CHECK BUILD VERSION PROGRAM SOURCE [...]: names the
# check release.PACKAGE-KIND.CHECK and sets $check, $build, $version, $program,
# $source and $scratch (see make_scratch) from the script's arguments.
start_check() {
  check_name="release.$1.$2"
  check=$2 build=$3 version=$4 program=$5 source=$6
  make_scratch
}

# make_scratch: $scratch, a directory removed when the check ends.
make_scratch() {
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
}
