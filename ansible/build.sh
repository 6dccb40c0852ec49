#!/usr/bin/env bash
# Builds the Ansible collection zubra32.textfile into its tarball with
# ansible-galaxy (Debian's ansible-core):
#
#   bash ansible/build.sh [DIR]   # DIR/zubra32-textfile-VERSION.tar.gz, DIR being out/ unless given
#
# The collection is released with the program: galaxy.yml must carry the
# version of project() in CMakeLists.txt. The tarball gets the licence
# (LICENSE) besides the collection's own files.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source_dir=$root/ansible/ansible_collections/zubra32/textfile
out=${1:-$root/out}

fail() {
  echo "ansible/build.sh: $*" >&2
  exit 1
}

command -v ansible-galaxy >/dev/null 2>&1 || fail "no ansible-galaxy: install ansible-core (apt-get install ansible-core)"
version=$(sed -n 's/^project(zubra32 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
collection_version=$(sed -n 's/^version: *//p' "$source_dir/galaxy.yml")
[ "$collection_version" = "$version" ] ||
  fail "galaxy.yml says version $collection_version, CMakeLists.txt $version"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp -R "$source_dir/." "$stage/"
cp "$root/LICENSE" "$stage/LICENSE"
mkdir -p "$out"
ansible-galaxy collection build --force --output-path "$out" "$stage" >/dev/null
tarball=$out/zubra32-textfile-$version.tar.gz
[ -f "$tarball" ] || fail "ansible-galaxy made no $tarball"
echo "== $tarball: $(stat -c %s "$tarball") bytes"
