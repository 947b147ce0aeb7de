#!/usr/bin/env bash
# One whole upgrade with the real zoq-upgrade on the Qt front end, driven from outside as a
# person would (keys typed into real windows under Xvfb), against the simulated device on a LAN
# of its own (tests/support/lan.sh): the PC at 192.168.77.10, the device at 192.168.77.20. Its
# restart wait is real (about 35 s).
#   upgrade_under_xvfb.sh BUILD_DIR [SHOT_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/xvfb/lib.sh
. "$here/lib.sh"
enter_private_display any "$@"

build=$(cd "$1" && pwd)
shots=${2:-$build/screenshots-e2e}
work=$(mktemp -d)
mkdir -p "$shots"
sim_pid=""
app_pid=""
trap cleanup EXIT

lan_up || fail "cannot build the LAN"
device_ip=$LAN_DEVICE
start_device
"$build/zoq-upgrade" >"$work/app.log" 2>&1 &
app_pid=$!
confirm_upgrade

success=$(wait_window "ZOQ@$device_ip Upgrade Successful!" "" 900) || fail "no success dialog"
shot 4-success.png
type_into "$success" xdotool key Return
expect_exit 0
expect_upgraded_device
# The utility chose its LAN address by itself (only the device's was typed): loopback cannot
# reach the device's network.
why=$(expect_lan_traffic "$work/sim.log") || fail "$why"
echo "PASS: upgrade under Xvfb; screenshots in $shots"
