#!/usr/bin/env bash
# Runs one Windows test program under Wine:
#   run_wine.sh --prefix DIR [--netns] PROGRAM.exe [ARGS...]
# One Wine prefix per build, prepared once (wineboot) and then shared. Wine creates sockets in
# its wineserver, so a program and its server must sit in the same network namespace: only one
# Wine program uses the prefix at a time (a lock), each starts its own server and waits for it
# to leave (wineserver -w) before the next one. With --netns the program and its server run in
# a private network namespace with only loopback up. Wine binds a UDP socket for a specific
# address to the interface instead (so that it hears broadcasts), and its datagrams then leave
# from the interface's first address: a test device at 127.0.0.2 would send from 127.0.0.1. In
# the namespace 127.0.0.2 is an address of lo and the preferred source towards 127.0.0.1, the
# PC's address in the tests, so the device's datagrams come from where the device is. A
# program that ends before its tests
# finish fails, as in run_gtest.sh.
set -euo pipefail

prefix=""
netns=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --netns) netns=1; shift ;;
    *) break ;;
  esac
done
[ -n "$prefix" ] && [ $# -gt 0 ] || { echo "usage: $0 --prefix DIR [--netns] PROGRAM [ARGS...]" >&2; exit 2; }

wine_dir=/usr/lib/wine
WINE=$(command -v wine64 || command -v wine || echo "$wine_dir/wine64")
WINESERVER=$(command -v wineserver || echo "$wine_dir/wineserver")
[ -x "$WINE" ] || { echo "Wine is not installed (Debian package wine64)." >&2; exit 2; }

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko install prompts: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINE WINESERVER
unset DISPLAY

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

if [ ! -e "$prefix/.prepared" ]; then
  rm -rf "$prefix"
  "$WINE" wineboot -i >/dev/null 2>&1 || true
  "$WINESERVER" -w
  [ -d "$prefix/drive_c" ] || { echo "Wine could not prepare $prefix" >&2; exit 2; }
  touch "$prefix/.prepared"
fi

marker=$(mktemp)
export TEST_PREMATURE_EXIT_FILE="Z:${marker//\//\\}"

run() {
  # The server leaves as soon as its last program has ended.
  "$WINESERVER" -p0
  set +e
  "$WINE" "$@"
  local rc=$?
  set -e
  "$WINESERVER" -w
  return $rc
}

set +e
if [ "$netns" -eq 1 ]; then
  export -f run
  unshare --user --map-root-user --net bash -c \
    'ip link set lo up && ip addr add 127.0.0.2/8 dev lo &&
     ip route change local 127.0.0.1 dev lo table local proto kernel scope host src 127.0.0.2 &&
     run "$@"' run "$@"
else
  run "$@"
fi
rc=$?
set -e

if [ -e "$marker" ]; then
  rm -f "$marker"
  if [ "$rc" -eq 0 ]; then
    echo "The test program ended before its tests finished (exit code 0)."
    exit 1
  fi
fi
exit "$rc"
