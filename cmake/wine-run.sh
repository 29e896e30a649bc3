#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine, quietly, in a throwaway prefix.
#
#   wine-run.sh [--prefix DIR] PROGRAM.exe ARGS...   run it
#   wine-run.sh [--prefix DIR] --start   make the prefix (slow, the first time)
#                                        and keep a wineserver for later starts
#   wine-run.sh [--prefix DIR] --stop    end that wineserver
#
# The prefix is DIR, else $WINEPREFIX, else a folder under the temporary
# directory. Starting Wine on a fresh prefix builds it first, which takes
# seconds: the test run does it once (--start) before the programs run.
set -euo pipefail

find_wine_tool() {  # NAME: wine64 or wineserver
  local name=$1 candidate
  for candidate in "$(command -v "$name" 2>/dev/null || true)" \
                   "$(command -v "${name%64}" 2>/dev/null || true)" \
                   "/usr/lib/wine/$name" "/usr/lib/wine/${name}64" \
                   "/usr/lib/x86_64-linux-gnu/wine/$name"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  echo "wine-run.sh: cannot find $name (install Debian's wine64)" >&2
  return 127
}

if [ "${1:-}" = "--prefix" ]; then
  WINEPREFIX=$2
  shift 2
fi
export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/mirdcng-wineprefix-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

wine=$(find_wine_tool wine64)
case "${1:-}" in
  --start)
    # The server first, so that it is the one that stays (30 s past the last
    # program); one that is running already serves as well.
    mkdir -p "$WINEPREFIX"
    "$(find_wine_tool wineserver)" -p30 </dev/null >/dev/null 2>&1 || true
    "$wine" wineboot --init >/dev/null 2>&1
    ;;
  --stop)
    "$(find_wine_tool wineserver)" -k || true
    ;;
  *)
    exec "$wine" "$@"
    ;;
esac
