#!/usr/bin/env bash
# Every C++ file of the project is formatted as .clang-format says; names the
# ones that are not and fails. `clang-format -i FILE` mends one.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(find src tests fuzz bench \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) | sort)
clang-format --dry-run --Werror "${files[@]}"
echo "== format: the ${#files[@]} C++ files are as .clang-format says"
