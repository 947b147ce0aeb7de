#!/usr/bin/env bash
# The real zoq-upgrade.exe under Wine on Xvfb, typed at with xdotool as a person would, against
# the simulated device (a Linux program) on a LAN of its own (tests/support/lan.sh): the device
# at 192.168.77.20 (HTTP 80, TFTP client) in its network, the utility at 192.168.77.10 (its TFTP
# server on 69) in a private network of the test's.
#   e2e_under_wine.sh SCENARIO WINDOWS_BUILD_DIR LINUX_BUILD_DIR [SHOT_DIR]
# SCENARIO: upgrade  a whole upgrade: success dialog, exit code 0, the image byte for byte
#                    (the restart wait is real: about 35 s)
#           cancel   Escape in the password dialog: "Upgrade Failed: User Abort", no upgrade
#           failure  a refused address first ("Invalid IP Address"), then a device that does
#                    not answer: "Upgrade Failed: No Response From ZOQ"
set -euo pipefail
scenario=$1
build=$(cd "$2" && pwd)
host_build=$(cd "$3" && pwd)
shots=${4:-$build/screenshots-wine-$scenario}
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${ZOQ_IN_PRIVATE_NET:-}" ]; then
  export ZOQ_IN_PRIVATE_NET=1
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net "$0" "$@"
  fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1280x1024x24 -noreset' "$0" "$@"
fi

# shellcheck source=tests/wine/wine_env.sh
. "$here/wine_env.sh"
# shellcheck source=tests/support/lan.sh
. "$here/../support/lan.sh"
exe=$build/zoq-upgrade.exe
reader=$build/tests/wine/zoq-window-text.exe
sim=$host_build/tools/zoq-device-sim
for f in "$exe" "$reader" "$sim"; do
  [ -x "$f" ] || { echo "FAIL: $f is missing (build it first)"; exit 1; }
done

work=$(mktemp -d)
mkdir -p "$shots"
export WINEPREFIX=$work/prefix
sim_pid=""
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  "$ZOQ_WINESERVER" -w 2>/dev/null || true
  lan_down
  rm -rf "$work"
}
trap cleanup EXIT

# Pictures for a person to look at afterwards; ImageMagick is in the bench set, not the test set,
# so a machine without it still runs the scenario.
shot() {
  if command -v import >/dev/null 2>&1; then import -window root "$shots/$1" 2>/dev/null || true; fi
}

fail() {
  echo "FAIL ($scenario): $*"
  shot failure.png
  echo "--- device:"
  cat "$work/sim.log" || true
  echo "--- utility:"
  cat "$work/app.log" || true
  exit 1
}

# shellcheck source=tests/support/on_screen.sh
. "$here/../support/on_screen.sh"

# The texts of the box with caption $1, as the box itself holds them.
box_texts() {
  "$ZOQ_WINE" "$reader" "$1" 2>/dev/null | tr -d '\r'
}

# Dismisses the error box and checks its text; then the utility must end with exit code 0.
expect_error_box() {
  local text=$1 box
  box=$(wait_window "ZOQ Firwmare Upgrade Error" "" 600) || fail "no error box"
  shot error.png
  [ "$(box_texts "ZOQ Firwmare Upgrade Error")" = "$text" ] ||
    fail "the error box says '$(box_texts "ZOQ Firwmare Upgrade Error")', not '$text'"
  type_into "$box" xdotool key Return
}

expect_exit_0() {
  for _ in $(seq 1 150); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null && fail "the utility did not end"
  local code=0
  wait "$app_pid" || code=$?
  app_pid=""
  [ "$code" -eq 0 ] || fail "exit code $code"
}

lan_up || fail "cannot build the LAN"
zoq_wine_base "$build/tests/wine/.wine-base"
zoq_wine_prefix "$build/tests/wine/.wine-base" "$WINEPREFIX"

sim_args=(--address "$LAN_DEVICE" --auth qop --password s3cret --save "$work/received.bin"
  --restart-ms 2000)
[ "$scenario" = failure ] && sim_args+=(--no-answer)
"${in_device_net[@]}" "$sim" "${sim_args[@]}" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do grep -q '^ready' "$work/sim.log" && break; sleep 0.1; done
grep -q '^ready' "$work/sim.log" || fail "the simulated device did not start"

"$ZOQ_WINE" "$exe" >"$work/app.log" 2>&1 &
app_pid=$!

notice=$(wait_window "ZOQ-4502 Firmware Upgrade" "" 600) || fail "no notice dialog"
shot 1-notice.png
# Cancel has the focus: one step back is Continue.
type_into "$notice" xdotool key shift+Tab space

address=$(wait_window "ZOQ-4502 Firmware Upgrade" "$notice") || fail "no address dialog"
if [ "$scenario" = failure ]; then
  # Nothing typed reads as 0.0.0.0: refused, and the dialog stays.
  type_into "$address" xdotool key Return
  refusal=$(wait_window "Error") || fail "no refusal box for an empty address"
  [ "$(box_texts Error)" = "Invalid IP Address" ] || fail "the refusal says '$(box_texts Error)'"
  type_into "$refusal" xdotool key Return
  sleep 0.5
fi
type_into "$address" xdotool type --delay 50 "$LAN_DEVICE"
shot 2-address.png
# The PC's address the dialog chose by itself is the LAN's, not loopback.
box_texts "ZOQ-4502 Firmware Upgrade" | grep -qx "$LAN_PC" ||
  fail "the dialog offers '$(box_texts "ZOQ-4502 Firmware Upgrade" | tr '\n' ' ')' as the PC's address"
xdotool key Return

if [ "$scenario" = failure ]; then
  expect_error_box "Upgrade Failed: No Response From ZOQ"
  expect_exit_0
  echo "PASS: refused address, then no answer, under Wine; screenshots in $shots"
  exit 0
fi

password=$(wait_window "Enter Password Information") || fail "no password dialog"
if [ "$scenario" = cancel ]; then
  shot 3-password.png
  type_into "$password" xdotool key Escape
  expect_error_box "Upgrade Failed: User Abort"
  expect_exit_0
  if grep -q '^upgrade request' "$work/sim.log"; then fail "the device was told to upgrade"; fi
  [ ! -s "$work/received.bin" ] || fail "the device received firmware"
  echo "PASS: cancel in the password dialog under Wine; screenshots in $shots"
  exit 0
fi
type_into "$password" xdotool type --delay 50 "s3cret"
xdotool key Return

confirm=$(wait_window "Confirm Upgrade to Ver. 5.2.13(004)") || fail "no confirmation dialog"
shot 3-confirm.png
type_into "$confirm" xdotool key Return

success=$(wait_window "ZOQ@$LAN_DEVICE Upgrade Successful!" "" 900) || fail "no success dialog"
shot 4-success.png
type_into "$success" xdotool key Return
expect_exit_0
grep -q 'upgrade result: ok' "$work/sim.log" || fail "the device did not get a good image"
cmp -s "$work/received.bin" "$build/res/zoq-firmware.bin" || fail "received bytes differ"
grep -q 'back with version 5.2.13(004)' "$work/sim.log" || fail "the device did not come back"
why=$(expect_lan_traffic "$work/sim.log") || fail "$why"
echo "PASS: upgrade under Wine; screenshots in $shots"
