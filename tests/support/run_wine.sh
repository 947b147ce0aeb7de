#!/usr/bin/env bash
# Runs one Windows test program under Wine:
#   run_wine.sh --prefix DIR [--netns] [--plain] PROGRAM.exe [ARGS...]
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
# finish fails, as in run_gtest.sh (--plain: a program that is not a GoogleTest one).
set -euo pipefail

prefix=""
netns=0
plain=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --netns) netns=1; shift ;;
    --plain) plain=1; shift ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || [ $# -eq 0 ]; then
  echo "usage: $0 --prefix DIR [--netns] [--plain] PROGRAM [ARGS...]" >&2
  exit 2
fi

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

marker=""
if [ "$plain" -eq 0 ]; then
  marker=$(mktemp)
  export TEST_PREMATURE_EXIT_FILE="Z:${marker//\//\\}"
fi

run() {
  # The server leaves as soon as its last program has ended. It has been seen to stay after a
  # program ended itself while one of its sockets was still connecting: after a while it is
  # told to go (wineserver -k ends the server of this prefix, the one this run started).
  "$WINESERVER" -p0
  set +e
  "$WINE" "$@"
  local rc=$?
  if ! timeout 30 "$WINESERVER" -w; then
    echo "run_wine.sh: the Wine server did not leave by itself; ending it" >&2
    "$WINESERVER" -k
    "$WINESERVER" -w
  fi
  set -e
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

if [ -n "$marker" ] && [ -e "$marker" ]; then
  rm -f "$marker"
  if [ "$rc" -eq 0 ]; then
    echo "The test program ended before its tests finished (exit code 0)."
    exit 1
  fi
fi
exit "$rc"
