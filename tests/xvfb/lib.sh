#!/usr/bin/env bash
# Shared steps of the tests that drive the real zoq-upgrade under Xvfb as a person would, against
# the simulated device, in a private network namespace. Sourced; the caller sets `build`,
# `work` (a temporary folder), `shots` (screenshots) and `app_pid`/`sim_pid` as it starts them.
# shellcheck disable=SC2154

# Re-runs the calling script inside a private network namespace and under Xvfb. $1: "root"
# when the test needs the initial user namespace (file capabilities, other user ids).
enter_private_display() {
  local need=$1
  shift
  if [ -z "${ZOQ_IN_PRIVATE_NET:-}" ]; then
    export ZOQ_IN_PRIVATE_NET=1
    if [ "$(id -u)" -eq 0 ]; then
      # A mount namespace too: what a script mounts (a helper where the program looks for it)
      # is its own.
      exec unshare --net --mount --propagation private "$0" "$@"
    fi
    if [ "$need" = root ]; then
      echo "SKIP: needs root (file capabilities and a second user id)"
      exit 77
    fi
    exec unshare --user --map-root-user --net "$0" "$@"
  fi
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s '-screen 0 1280x1024x24 -noreset' "$0" "$@"
  fi
  ip link set lo up
}

cleanup() {
  if [ -n "${app_pid:-}" ]; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "${sim_pid:-}" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  lan_down
  rm -rf "$work"
}

# Pictures along the way, for a person to look at when ImageMagick (bench set) is installed;
# the tests themselves do not need them.
shot() {
  if command -v import >/dev/null 2>&1; then import -window root "$shots/$1" 2>/dev/null || true; fi
}

fail() {
  echo "FAIL: $*"
  shot failure.png
  echo "--- device:"
  cat "$work/sim.log" || true
  echo "--- utility:"
  cat "$work/app.log" || true
  exit 1
}

# shellcheck source=tests/support/on_screen.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/on_screen.sh"
# shellcheck source=tests/support/lan.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/lan.sh"

# The device's address: 127.0.0.2 beside the utility, or the LAN's when the caller has built one
# (lan_up) and set it to $LAN_DEVICE.
device_ip=127.0.0.2

# The simulated device at $device_ip (in the device's network when there is a LAN) with the
# password "s3cret"; its log is $work/sim.log.
start_device() {
  "${in_device_net[@]}" "$build/tools/zoq-device-sim" --address "$device_ip" --auth qop --password s3cret \
    --save "$work/received.bin" --restart-ms 2000 >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 100); do grep -qs '^ready' "$work/sim.log" && break; sleep 0.1; done
  grep -q '^ready' "$work/sim.log" || fail "the simulated device did not start"
}

# From the notice to the confirmed upgrade: Continue, $device_ip, the password, Upgrade.
confirm_upgrade() {
  local notice address password confirm
  notice=$(wait_window "ZOQ-4502 Firmware Upgrade") || fail "no notice dialog"
  shot 1-notice.png
  # Cancel has the focus: one step back is Continue.
  type_into "$notice" xdotool key shift+Tab space

  address=$(wait_window "ZOQ-4502 Firmware Upgrade" "$notice") || fail "no address dialog"
  type_into "$address" xdotool type --delay 50 "$device_ip"
  shot 2-address.png
  xdotool key Return

  password=$(wait_window "Enter Password Information") || fail "no password dialog"
  type_into "$password" xdotool type --delay 50 "s3cret"
  xdotool key Return

  confirm=$(wait_window "Confirm Upgrade to Ver. 5.2.13(004)") || fail "no confirmation dialog"
  shot 3-confirm.png
  type_into "$confirm" xdotool key Return
}

# Waits up to 10 s for the utility to end and checks its exit code ($1, 0 by default).
expect_exit() {
  local code
  for _ in $(seq 1 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null && fail "the utility did not end"
  set +e
  wait "$app_pid"
  code=$?
  set -e
  app_pid=""
  [ "$code" -eq "${1:-0}" ] || fail "exit code $code"
}

# The device got the embedded image, byte for byte, and came back with its version.
expect_upgraded_device() {
  grep -q 'upgrade result: ok' "$work/sim.log" || fail "the device did not get a good image"
  cmp -s "$work/received.bin" "$build/res/zoq-firmware.bin" || fail "received bytes differ"
  grep -q 'back with version 5.2.13(004)' "$work/sim.log" || fail "the device did not come back"
}
