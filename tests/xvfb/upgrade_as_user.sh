#!/usr/bin/env bash
# The real zoq-upgrade run by an ordinary user (uid 65534) under Xvfb, against the simulated
# device across the test LAN (tests/support/lan.sh), in private network namespaces of the
# initial user namespace (file capabilities and
# other user ids mean nothing inside a user namespace, so this needs root and skips without).
#   upgrade_as_user.sh BUILD_DIR with-capability
#     the bind helper beside it carries cap_net_bind_service, the utility none: the whole upgrade
#     succeeds on port 69; from the notice on, and while it waits for the restart, none of its
#     threads holds a capability, and the helper is gone.
#   upgrade_as_user.sh BUILD_DIR without-capability
#     the helper carries none: the upgrade stops with the bind message, and the trace says why
#     (the helper's refusal, then EACCES for every port).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/xvfb/lib.sh
. "$here/lib.sh"
enter_private_display root "$@"

build=$(cd "$1" && pwd)
mode=$2
shots=$build/screenshots-user-$mode
work=$(mktemp -d)
mkdir -p "$shots"
sim_pid=""
app_pid=""
trap cleanup EXIT
lan_up || fail "cannot build the LAN"
device_ip=$LAN_DEVICE

# What the user may reach: the executable, its bind helper where the program was built to look
# for it (/usr/local/libexec, as make run installs it, on a root-owned tmpfs of this mount
# namespace alone; copies, so that the capability is ours to set), an X authority file it can
# read, a home and a runtime folder of its own.
chmod 755 "$work"
mount -t tmpfs -o mode=755 zoq-usr-local /usr/local
helper=/usr/local/libexec/zoq-upgrade/zoq-upgrade-bind
install -D -m 755 "$build/zoq-upgrade" "$work/bin/zoq-upgrade"
install -D -m 755 "$build/zoq-upgrade-bind" "$helper"
install -d -m 700 -o 65534 -g 65534 "$work/home" "$work/runtime"
install -m 600 -o 65534 -g 65534 "${XAUTHORITY:?xvfb-run sets XAUTHORITY}" "$work/xauthority"
case $mode in
  with-capability) setcap cap_net_bind_service=ep "$helper" ;;
  without-capability) ;;
  *) echo "unknown mode $mode"; exit 2 ;;
esac

# Replaces the (sub)shell it runs in, so that `as_user ... &` leaves the program's pid in $!.
# It starts in its own folder: the build's may be closed to that user (a home folder of mode 0700).
as_user() {
  cd "$work"
  exec setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" "$@"
}

if [ "$mode" = without-capability ]; then
  # No display at all: one line and status 1, before Qt could abort with its own text.
  set +e
  (as_user "$work/bin/zoq-upgrade") >"$work/nodisplay.out" 2>"$work/nodisplay.err"
  code=$?
  set -e
  [ "$code" -eq 1 ] || fail "without a display the exit code is $code"
  [ ! -s "$work/nodisplay.out" ] || fail "without a display it wrote to stdout"
  if [ "$(wc -l <"$work/nodisplay.err")" -ne 1 ] ||
    ! grep -q 'no graphical display' "$work/nodisplay.err"; then
    fail "without a display: $(cat "$work/nodisplay.err")"
  fi
  # A platform chosen through the environment still counts: the program starts.
  set +e
  (as_user QT_QPA_PLATFORM=offscreen timeout 5 "$work/bin/zoq-upgrade") >/dev/null 2>&1
  code=$?
  set -e
  [ "$code" -eq 124 ] || fail "with QT_QPA_PLATFORM=offscreen it ended with $code"
fi

start_device
# Options that Qt would take from a command line: the program has none, so its windows must
# still appear on this display, left to right.
as_user DISPLAY="$DISPLAY" XAUTHORITY="$work/xauthority" ZOQ_TRACE=1 \
  "$work/bin/zoq-upgrade" -platform offscreen -reverse >"$work/app.log" 2>&1 &
app_pid=$!

# The utility itself never holds a capability, nor runs under secure-exec (AT_SECURE, auxv
# entry 23, would make the C library drop variables from its environment): sampled while the
# notice is open.
wait_window "ZOQ-4502 Firmware Upgrade" >/dev/null || fail "no notice dialog"
for key in CapPrm CapEff; do
  grep -Eq "^$key:[[:space:]]*0+$" /proc/"$app_pid"/status ||
    fail "$key while the notice is open: $(grep "^$key:" /proc/"$app_pid"/status)"
done
# /proc files report no size: od reads them whole.
secure=$(od -An -v -tu8 /proc/"$app_pid"/auxv | tr -s ' ' '\n' | grep -v '^$' |
  awk 'NR % 2 == 1 { key = $1 } NR % 2 == 0 && key == 23 { print $1 }')
[ "$secure" = 0 ] || fail "the utility runs under secure-exec (AT_SECURE=$secure)"
confirm_upgrade

# Every thread of the utility, and any child it still has.
capabilities_held() {
  local task children
  for task in /proc/"$app_pid"/task/*; do
    grep -E '^Cap(Inh|Prm|Eff|Amb):' "$task/status" | grep -v ':[[:space:]]*0\+$' || true
    # /proc files report no size: read them.
    children=$(cat "$task/children")
    if [ -n "$children" ]; then echo "child processes: $children"; fi
  done
}

if [ "$mode" = without-capability ]; then
  error=$(wait_window "ZOQ Firwmare Upgrade Error" "" 150) || fail "no error message"
  shot 4-error.png
  grep -qx "Error box: Upgrade Failed: Can't bind TFTP listener socket" "$work/app.log" ||
    fail "the error message is not the bind failure"
  refused=$(grep -c '^TFTP bind port [0-9]*: EACCES$' "$work/app.log" || true)
  [ "$refused" -eq 100 ] || fail "the trace names EACCES for $refused ports, not 100"
  grep -qx "TFTP bind helper $helper: not granted cap_net_bind_service alone" "$work/app.log" ||
    fail "the trace does not say that the helper lacks its capability"
  type_into "$error" xdotool key Return
  expect_exit 0
  grep -q 'upgrade result' "$work/sim.log" && fail "the device was told to upgrade"
  echo "PASS: without the helper's capability, the bind message, its reason and EACCES on every port"
  exit 0
fi

# The transfer is over when the device says so; the utility then waits for the restart.
for _ in $(seq 1 600); do grep -q 'upgrade result' "$work/sim.log" && break; sleep 0.1; done
grep -q 'upgrade result: ok' "$work/sim.log" || fail "no transfer"
threads=$(find /proc/"$app_pid"/task -mindepth 1 -maxdepth 1 | wc -l)
[ "$threads" -gt 1 ] || fail "expected the toolkit's and the listener's threads, found $threads"
held=$(capabilities_held)
[ -z "$held" ] || fail "capabilities left during the restart wait: $held"
grep -q "^Uid:[[:space:]]*65534" /proc/"$app_pid"/status || fail "not running as 65534"
grep -q 'EACCES' "$work/app.log" && fail "a port was refused"
success=$(wait_window "ZOQ@$device_ip Upgrade Successful!" "" 900) || fail "no success dialog"
shot 5-success.png
type_into "$success" xdotool key Return
expect_exit 0
expect_upgraded_device
# Port 69 and the PC's LAN address in the link, every datagram from where it belongs.
why=$(expect_lan_traffic "$work/sim.log") || fail "$why"
echo "PASS: an ordinary user upgrades through the bind helper; no capability in $threads threads"
