#!/usr/bin/env bash
# A test that cannot run in this build: skipped with REASON, or failed where
# nothing may be left out (see common.sh).
#   bash tests/release/skip.sh NAME REASON
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: bash tests/release/skip.sh NAME REASON" >&2; exit 2; }
check_name=$1
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
unavailable "$2"
