#!/usr/bin/env bash
# Runs one Windows program under Wine, in a prefix of its own, on Xvfb when no display is set;
# its exit code is the program's.
#   wine_run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1280x1024x24 -noreset' "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/wine/wine_env.sh
. "$here/wine_env.sh"
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
base=$(dirname "$program")/.wine-base
zoq_wine_base "$base"
export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/zoq-wine.XXXXXX")
trap 'rm -rf "$WINEPREFIX"' EXIT
zoq_wine_prefix "$base" "$WINEPREFIX"
code=0
"$ZOQ_WINE" "$program" "$@" || code=$?
"$ZOQ_WINESERVER" -w
exit "$code"
