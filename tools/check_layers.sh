#!/usr/bin/env bash
# The layers of src/ point down only: runtime < deflang < workfile < driver.
# Names every #include of a header from a layer above the including file's
# own, and fails when there is one.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

rank() {
  case $1 in
    runtime) echo 0 ;;
    deflang) echo 1 ;;
    workfile) echo 2 ;;
    driver) echo 3 ;;
    *) echo -1 ;;
  esac
}

status=0
for file in src/*/*; do
  layer=${file#src/}
  layer=${layer%%/*}
  while IFS= read -r header; do
    above=${header%%/*}
    if [ "$(rank "$above")" -gt "$(rank "$layer")" ]; then
      echo "$file includes $header: $above lies above $layer"
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done
[ "$status" -eq 0 ] && echo "== layers: every include of src/ points down (runtime < deflang < workfile < driver)"
exit "$status"
