#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The real zoq-upgrade measured as a user runs it: on Qt/xcb under Xvfb, driven through its
# dialogs with xdotool, serving the embedded image to a device at 127.0.0.2 whose TFTP client is
# curl (bench/gui_bench_device.pl). In every run the same client then fetches the same image
# from tftpd-hpa, half a second later, when the utility sits in its restart wait. Prints figures,
# not verdicts:
#   - the median transfer time of each server as the client clocks it, and their ratio;
#   - the share of a core the program uses while the notice dialog waits for the user and while
#     the uploading dialog counts down the device's restart (first run only);
#   - the peak resident memory (VmHWM) of one whole run, read at the success dialog.
#
#   bench/gui_transfer_bench.sh [RUNS]          (default 5)
#
# The first run goes through the restart wait (about 35 s) to the success dialog; the others
# end the program once both downloads are timed. Everything runs inside a private network
# namespace of its own (`unshare --net`), pinned to one core (ZOQ_BENCH_CPU, default 1; "all"
# leaves the scheduler free). Run it as root: in a user namespace tftpd-hpa serves nothing.
# Installs what it needs first (scripts/setup run test bench); tftpd-hpa is unpacked into
# build/peers and started here by hand, never installed as a service.
#   ZOQ_BENCH_EXE     the executable (default: build/bench-gui/zoq-upgrade, built when missing)
#   ZOQ_BENCH_IMAGE   the image it carries (default: res/zoq-firmware.bin beside the executable)
#   ZOQ_BENCH_WINDOW  seconds over which each CPU share is taken (default 10)
#   ZOQ_BENCH_RAW=1   also print every run's times
# The Windows executable under Wine is not measured yet: see launch_app below.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
case $runs in '' | *[!0-9]* | 0) echo "RUNS must be a number above 0" >&2; exit 2 ;; esac

if [ "${ZOQ_BENCH_INSIDE:-}" != 1 ]; then
    "$root/scripts/setup" run test bench
    tftpd=${ZOQ_PEERS_DIR:-$root/build/peers}/usr/sbin/in.tftpd
    [ -x "$tftpd" ] || { echo "missing: $tftpd" >&2; exit 1; }
    exe=${ZOQ_BENCH_EXE:-$root/build/bench-gui/zoq-upgrade}
    if [ ! -x "$exe" ]; then
        cmake -S "$root" -B "$root/build/bench-gui" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DZOQ_BUILD_TESTS=OFF >/dev/null
        cmake --build "$root/build/bench-gui" -j2 --target zoq-upgrade >/dev/null
    fi
    exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
    image=${ZOQ_BENCH_IMAGE:-$(dirname "$exe")/res/zoq-firmware.bin}
    [ -f "$image" ] || { echo "no image at $image (set ZOQ_BENCH_IMAGE)" >&2; exit 1; }
    for tool in curl taskset ip xvfb-run xdotool perl; do
        command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] ||
            { echo "missing: $tool" >&2; exit 1; }
    done
    if [ "$(id -u)" = 0 ]; then ns=(unshare --net); else ns=(unshare --user --map-root-user --net); fi
    cpu=${ZOQ_BENCH_CPU:-1}
    pin=(taskset -c "$cpu")
    [ "$cpu" = all ] && pin=()
    export ZOQ_BENCH_INSIDE=1 ZOQ_BENCH_TFTPD=$tftpd ZOQ_BENCH_EXE=$exe ZOQ_BENCH_IMAGE=$image ZOQ_BENCH_CPU=$cpu
    exec "${ns[@]}" "${pin[@]}" xvfb-run -a -s '-screen 0 1280x1024x24 -noreset' "$0" "$runs"
fi

PATH=$PATH:/usr/sbin
exe=$ZOQ_BENCH_EXE
image=$ZOQ_BENCH_IMAGE
window=${ZOQ_BENCH_WINDOW:-10}
device_ip=127.0.0.2

ip link set lo up
work=$(mktemp -d)
hpa_pid=
device_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$device_pid" ] && kill "$device_pid" 2>/dev/null
    [ -n "$hpa_pid" ] && kill "$hpa_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

fail() {
    echo "bench stopped: $*" >&2
    local id
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        echo "window on screen: $(xdotool getwindowname "$id")" >&2
    done
    for log in device app; do
        [ -s "$work/$log.log" ] && { echo "--- $log:" >&2; tail -20 "$work/$log.log" >&2; }
    done
    exit 1
}

# tftpd-hpa will not start where 127.0.0.1 is the only address. The extra address goes again
# before the utility starts, so that it is not among the utility's addresses; nothing is ever
# sent to it.
ip addr add 192.0.2.1/32 dev lo
cp "$image" "$work/zoqbench.bi1"
"$ZOQ_BENCH_TFTPD" -L -s -u root -a 127.0.0.1:6969 "$work" &
hpa_pid=$!
sleep 0.3
ip addr del 192.0.2.1/32 dev lo
# One download warms the page cache and proves the reference works: in a user namespace (not
# root) tftpd-hpa cannot drop its privileges and serves nothing.
if ! curl -sS -m 10 -o "$work/warm" "tftp://127.0.0.1:6969//zoqbench.bi1" 2>/dev/null ||
    ! cmp -s "$work/warm" "$image"; then
    fail "tftpd-hpa serves nothing here (in a user namespace it cannot drop its privileges: run the bench as root)"
fi
rm -f "$work/warm"

: >"$work/results"
# The device says on this pipe when a run's line is written, so that nothing of the bench's
# own (no grep, no sleep) runs on the core while the transfers are timed. Opened for reading
# and writing, so that neither side's open waits for the other.
mkfifo "$work/done"
exec {done_fd}<>"$work/done"
perl "$root/bench/gui_bench_device.pl" "$image" "tftp://127.0.0.1:6969//zoqbench.bi1" \
    "$work/results" "$work/done" >"$work/device.log" 2>&1 &
device_pid=$!
for _ in $(seq 1 50); do grep -q '^ready' "$work/device.log" && break; sleep 0.1; done
grep -q '^ready' "$work/device.log" || fail "the device did not start"

# Waits for a visible window whose title is exactly $1 and which is not one of the ids in $2.
wait_window() {
    local title=$1 not=${2:-} tries=${3:-300} id pattern
    pattern=$(printf '%s' "$title" | sed 's/[][().*+?^$|\\]/\\&/g')
    for _ in $(seq 1 "$tries"); do
        for id in $(xdotool search --onlyvisible --name "^${pattern}\$" 2>/dev/null); do
            case " $not " in *" $id "*) ;; *) echo "$id"; return 0 ;; esac
        done
        sleep 0.2
    done
    return 1
}

keys_into() {  # window, xdotool arguments...
    local id=$1
    shift
    xdotool windowfocus --sync "$id"
    sleep 0.3
    xdotool "$@"
}

# Nanoseconds of CPU that the process and all its threads have used (utime + stime of
# /proc/PID/stat, which counts ended threads too).
cpu_ns() {
    local stat ticks
    stat=$(cat "/proc/$1/stat")
    stat=${stat##*) }
    ticks=$(awk '{print $12 + $13}' <<<"$stat")
    echo $((ticks * 1000000000 / $(getconf CLK_TCK)))
}

# Share of one core that process $1 uses over $window seconds, in per cent.
cpu_share() {
    local before after t0 t1
    before=$(cpu_ns "$1")
    t0=$(date +%s%N)
    sleep "$window"
    after=$(cpu_ns "$1")
    t1=$(date +%s%N)
    awk -v c=$((after - before)) -v t=$((t1 - t0)) 'BEGIN {printf "%.2f", 100 * c / t}'
}

# The place for a second front end: the Windows executable under Wine would start here (and
# be found by the same window titles). Not measured yet.
launch_app() {
    "$exe" >"$work/app.log" 2>&1 &
    app_pid=$!
}

notice_cpu=
restart_cpu=
peak_kb=
run=1
while [ "$run" -le "$runs" ]; do
    launch_app
    notice=$(wait_window "ZOQ-4502 Firmware Upgrade") || fail "no notice dialog"
    if [ "$run" = 1 ]; then
        sleep 1
        notice_cpu=$(cpu_share "$app_pid")
    fi
    # Cancel has the focus: one step back is Continue.
    keys_into "$notice" key shift+Tab space
    address=$(wait_window "ZOQ-4502 Firmware Upgrade" "$notice") || fail "no address dialog"
    keys_into "$address" type --delay 20 "$device_ip"
    xdotool key Return
    confirm=$(wait_window "Confirm Upgrade to Ver. 5.2.13(004)") || fail "no confirmation dialog"
    keys_into "$confirm" key Return

    note=
    read -r -t 130 -u "$done_fd" note || true
    [ "$note" = "run $run" ] || fail "run $run: no transfer within two minutes"
    line=$(grep "^run $run " "$work/results") || fail "run $run: no result line"
    case $line in *error*) fail "$line" ;; esac
    awk '{print $4 * 1000}' <<<"$line" >>"$work/ours_ms"
    awk '{print $6 * 1000}' <<<"$line" >>"$work/hpa_ms"

    if [ "$run" = 1 ]; then
        wait_window "Updating Target Firmware to ZOQ@$device_ip" >/dev/null ||
            fail "no restart countdown"
        sleep 1
        restart_cpu=$(cpu_share "$app_pid")
        success=$(wait_window "ZOQ@$device_ip Upgrade Successful!" "" 600) ||
            fail "no success dialog"
        peak_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$app_pid/status")
        keys_into "$success" key Return
        for _ in $(seq 1 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=
    run=$((run + 1))
done

if [ -n "${ZOQ_BENCH_RAW:-}" ]; then paste "$work/ours_ms" "$work/hpa_ms" >&2; fi
median() { sort -g "$1" | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ours_ms=$(median "$work/ours_ms")
hpa_ms=$(median "$work/hpa_ms")
size=$(stat -c %s "$image")

echo "$(basename "$exe") on Qt/xcb under Xvfb; image $size bytes, $((size / 512 + 1)) blocks;" \
    "$runs runs; CPU ${ZOQ_BENCH_CPU}"
printf '%-40s %10s ms (median)\n' "zoq-upgrade -> curl" "$ours_ms"
printf '%-40s %10s ms (median)\n' "tftpd-hpa -> curl (same runs)" "$hpa_ms"
awk -v o="$ours_ms" -v h="$hpa_ms" 'BEGIN {printf "%-40s %10.2f\n", "zoq-upgrade / tftpd-hpa", o / h}'
printf '%-40s %10s %% of a core over %s s\n' "CPU, notice dialog waiting" "$notice_cpu" "$window"
printf '%-40s %10s %% of a core over %s s\n' "CPU, restart countdown" "$restart_cpu" "$window"
printf '%-40s %10s MB\n' "peak resident memory (VmHWM), one run" \
    "$(awk -v k="$peak_kb" 'BEGIN {printf "%.1f", k / 1024}')"
