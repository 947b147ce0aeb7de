#!/usr/bin/env bash
# One whole upgrade with the real zoq-upgrade on the Qt front end, driven from outside as a
# person would (keys typed into real windows under Xvfb), against the simulated device, in a
# private network namespace. Its restart wait is real (about 35 s): this is the only such test.
#   upgrade_under_xvfb.sh BUILD_DIR [SHOT_DIR]
set -euo pipefail
build=$(cd "$1" && pwd)
shots=${2:-$build/screenshots-e2e}

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

ip link set lo up
work=$(mktemp -d)
mkdir -p "$shots"
sim_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Pictures along the way, for a person to look at when ImageMagick (bench set) is installed;
# the test itself does not need them.
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

# Waits for a window whose title is exactly $1 and which is not one of the ids in $2.
wait_window() {
  local title=$1 not=${2:-} id pattern
  # xdotool takes a regular expression: escape what the titles hold.
  pattern=$(printf '%s' "$title" | sed 's/[][().*+?^$|\\]/\\&/g')
  for _ in $(seq 1 ${3:-300}); do
    for id in $(xdotool search --onlyvisible --name "^${pattern}\$" 2>/dev/null); do
      case " $not " in *" $id "*) ;; *) echo "$id"; return 0 ;; esac
    done
    sleep 0.2
  done
  return 1
}

type_into() {  # window, keys...
  local id=$1
  shift
  xdotool windowfocus --sync "$id"
  sleep 0.3
  "$@"
}

"$build/tools/zoq-device-sim" --address 127.0.0.2 --auth qop --password s3cret \
  --save "$work/received.bin" --restart-ms 2000 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do grep -q '^ready' "$work/sim.log" && break; sleep 0.1; done
grep -q '^ready' "$work/sim.log" || fail "the simulated device did not start"

"$build/zoq-upgrade" >"$work/app.log" 2>&1 &
app_pid=$!

notice=$(wait_window "ZOQ-4502 Firmware Upgrade") || fail "no notice dialog"
shot 1-notice.png
# Cancel has the focus: one step back is Continue.
type_into "$notice" xdotool key shift+Tab space

address=$(wait_window "ZOQ-4502 Firmware Upgrade" "$notice") || fail "no address dialog"
type_into "$address" xdotool type --delay 50 "127.0.0.2"
shot 2-address.png
xdotool key Return

password=$(wait_window "Enter Password Information") || fail "no password dialog"
type_into "$password" xdotool type --delay 50 "s3cret"
xdotool key Return

confirm=$(wait_window "Confirm Upgrade to Ver. 5.2.13(004)") || fail "no confirmation dialog"
shot 3-confirm.png
type_into "$confirm" xdotool key Return

success=$(wait_window "ZOQ@127.0.0.2 Upgrade Successful!" "" 900) || fail "no success dialog"
shot 4-success.png
type_into "$success" xdotool key Return

for _ in $(seq 1 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the utility did not end after the success dialog"
set +e
wait "$app_pid"
code=$?
set -e
app_pid=""
[ "$code" -eq 0 ] || fail "exit code $code"
grep -q 'upgrade result: ok' "$work/sim.log" || fail "the device did not get a good image"
cmp -s "$work/received.bin" "$build/res/zoq-firmware.bin" || fail "received bytes differ"
grep -q 'back with version 5.2.13(004)' "$work/sim.log" || fail "the device did not come back"
echo "PASS: upgrade under Xvfb"
