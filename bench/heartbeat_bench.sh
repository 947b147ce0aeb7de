#!/usr/bin/env bash
# The transfer's 1 ms beat, measured: on Linux from build/default, and under Wine from
# build/windows when that build exists. Prints figures; run by hand.
#   bench/heartbeat_bench.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-2}

linux=build/default/bench/zoq-heartbeat-bench
windows=build/windows/bench/zoq-heartbeat-bench.exe
ran=0
if [ -x "$linux" ]; then
  printf 'Linux:   '
  "$linux" "$seconds"
  ran=1
fi
if [ -f "$windows" ]; then
  printf 'Windows: '
  tests/support/run_wine.sh --prefix "$PWD/build/windows/wine-prefix" "$windows" "$seconds"
  ran=1
fi
if [ "$ran" -eq 0 ]; then
  echo "Build first: cmake --build build/default --target zoq-heartbeat-bench" >&2
  echo "         or: cmake --build build/windows --target zoq-heartbeat-bench" >&2
  exit 1
fi
