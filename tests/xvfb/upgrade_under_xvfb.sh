#!/usr/bin/env bash
# One whole upgrade with the real zoq-upgrade on the Qt front end, driven from outside as a
# person would (keys typed into real windows under Xvfb), against the simulated device, in a
# private network namespace. Its restart wait is real (about 35 s).
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

start_device
"$build/zoq-upgrade" >"$work/app.log" 2>&1 &
app_pid=$!
confirm_upgrade

success=$(wait_window "ZOQ@127.0.0.2 Upgrade Successful!" "" 900) || fail "no success dialog"
shot 4-success.png
type_into "$success" xdotool key Return
expect_exit 0
expect_upgraded_device
echo "PASS: upgrade under Xvfb; screenshots in $shots"
