#!/usr/bin/env bash
# The wine prefix the Windows tests run in (the ctest fixture "wine"):
#   bash tests/windows/wine_prefix.sh start PREFIX   makes PREFIX afresh and
#       starts one persistent wine server and wine's own services in it, so
#       that no test waits for them
#   bash tests/windows/wine_prefix.sh stop PREFIX    ends them and removes PREFIX
# Skipped, saying why, when wine is not installed (see tests/release/common.sh).
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: bash tests/windows/wine_prefix.sh start|stop PREFIX" >&2; exit 2; }
export WINEPREFIX=$2 WINEDEBUG=-all
check_name="windows.wine_$1"
# shellcheck source-path=SCRIPTDIR/../release
source "$(dirname "${BASH_SOURCE[0]}")/../release/common.sh"
need_tool wine wine

case "$1" in
  start)
    if [ -d "$WINEPREFIX" ]; then
      wineserver -k >/dev/null 2>&1 || true
      rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    echo "== setting up a wine prefix in $WINEPREFIX ($(wine --version))"
    # No browser or .NET runtime is wanted in the prefix: don't let wine look
    # for them. What wine starts here lives on after this script, so none of
    # it may hold ctest's output open.
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    ;;
  *)
    echo "usage: bash tests/windows/wine_prefix.sh start|stop PREFIX" >&2
    exit 2
    ;;
esac
