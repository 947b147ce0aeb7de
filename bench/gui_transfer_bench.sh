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
#   bench/gui_transfer_bench.sh [RUNS]                (default 5)
#   bench/gui_transfer_bench.sh --wine [EXE] [RUNS]   the Windows executable under Wine instead
#
# The first run goes through the restart wait (about 35 s) to the success dialog; the others
# end the program once both downloads are timed. Everything runs inside a private network
# namespace of its own (`unshare --net`), pinned to one core (ZOQ_BENCH_CPU, default 1; "all"
# leaves the scheduler free). Run it as root: in a user namespace tftpd-hpa serves nothing.
# Installs what it needs first (scripts/setup run test bench, and windows with --wine);
# tftpd-hpa is unpacked into build/peers and started here by hand, never installed as a service.
#   ZOQ_BENCH_EXE     the executable (default: build/bench-gui/zoq-upgrade, built when missing;
#                     with --wine build/bench-windows/zoq-upgrade.exe, built when missing)
#   ZOQ_BENCH_IMAGE   the image it carries (default: res/zoq-firmware.bin beside the executable)
#   ZOQ_BENCH_WINDOW  seconds over which each CPU share is taken (default 10)
#   ZOQ_BENCH_RAW=1   also print every run's times
#   ZOQ_BENCH_WINE=1  the same as --wine
# --wine runs zoq-upgrade.exe (an EXE named after --wine, or ZOQ_BENCH_EXE) under Debian's Wine,
# found by the same window titles; it installs the windows set too. The Wine prefix is copied
# for each bench from one prepared in build/bench-windows/.wine-base (wineboot runs there once,
# never while anything is timed). One persistent wineserver serves every run, started before
# the first: its Windows services are up before any figure is taken, as they are on a PC. The
# CPU shares and the peak memory are those of the Linux process that runs the exe; wineserver's
# own share over the same windows is printed beside them, since each socket and window call of
# the exe is served there. The device stays a Linux program, so its datagrams leave from
# 127.0.0.2 as a device's would. Wine sends a bound UDP socket's datagrams from the interface's
# first address, here 127.0.0.1, which is the address the exe serves from anyway: the route
# change that tests/support/run_wine.sh makes for a device that is itself a Windows program is
# not needed.
set -euo pipefail

usage() {
    echo "usage: $0 [--wine [EXE.exe]] [RUNS]" >&2
    exit 2
}

root=$(cd "$(dirname "$0")/.." && pwd)
wine=0
[ "${ZOQ_BENCH_WINE:-}" = 1 ] && wine=1
while [ $# -gt 0 ]; do
    case $1 in
        --wine)
            wine=1
            shift
            case ${1:-} in *.exe | *.EXE) ZOQ_BENCH_EXE=$1; shift ;; esac
            ;;
        -h | --help) usage ;;
        -*) echo "unknown option: $1" >&2; usage ;;
        *) break ;;
    esac
done
[ $# -le 1 ] || usage
runs=${1:-5}
case $runs in '' | *[!0-9]* | 0) echo "RUNS must be a number above 0" >&2; exit 2 ;; esac

if [ "${ZOQ_BENCH_INSIDE:-}" != 1 ]; then
    if [ "$wine" = 1 ]; then
        "$root/scripts/setup" run test bench windows
        [ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null 2>&1 ||
            { echo "missing: wine64" >&2; exit 1; }
        exe=${ZOQ_BENCH_EXE:-$root/build/bench-windows/zoq-upgrade.exe}
        if [ -z "${ZOQ_BENCH_EXE:-}" ] && [ ! -f "$exe" ]; then
            # The windows preset's compiler and flags, without the test programs.
            cmake --preset windows -S "$root" -B "$root/build/bench-windows" \
                -DZOQ_BUILD_TESTS=OFF >/dev/null
            cmake --build "$root/build/bench-windows" -j2 --target zoq-upgrade >/dev/null
        fi
        [ -f "$exe" ] || { echo "no Windows executable at $exe" >&2; exit 1; }
    else
        "$root/scripts/setup" run test bench
        exe=${ZOQ_BENCH_EXE:-$root/build/bench-gui/zoq-upgrade}
        if [ ! -x "$exe" ]; then
            cmake -S "$root" -B "$root/build/bench-gui" -G Ninja -DCMAKE_BUILD_TYPE=Release \
                -DZOQ_BUILD_TESTS=OFF >/dev/null
            cmake --build "$root/build/bench-gui" -j2 --target zoq-upgrade >/dev/null
        fi
    fi
    tftpd=${ZOQ_PEERS_DIR:-$root/build/peers}/usr/sbin/in.tftpd
    [ -x "$tftpd" ] || { echo "missing: $tftpd" >&2; exit 1; }
    exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
    image=${ZOQ_BENCH_IMAGE:-$(dirname "$exe")/res/zoq-firmware.bin}
    [ -f "$image" ] || { echo "no image at $image (set ZOQ_BENCH_IMAGE)" >&2; exit 1; }
    for tool in curl taskset ip ss xvfb-run xdotool perl; do
        command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] ||
            { echo "missing: $tool" >&2; exit 1; }
    done
    if [ "$(id -u)" = 0 ]; then ns=(unshare --net); else ns=(unshare --user --map-root-user --net); fi
    cpu=${ZOQ_BENCH_CPU:-1}
    pin=(taskset -c "$cpu")
    [ "$cpu" = all ] && pin=()
    export ZOQ_BENCH_INSIDE=1 ZOQ_BENCH_TFTPD=$tftpd ZOQ_BENCH_EXE=$exe ZOQ_BENCH_IMAGE=$image ZOQ_BENCH_CPU=$cpu
    export ZOQ_BENCH_WINE=$wine
    exec "${ns[@]}" "${pin[@]}" xvfb-run -a -s '-screen 0 1280x1024x24 -noreset' "$0" "$runs"
fi

PATH=$PATH:/usr/sbin
# shellcheck source=scripts/lib/listening.sh
. "$root/scripts/lib/listening.sh"
exe=$ZOQ_BENCH_EXE
image=$ZOQ_BENCH_IMAGE
window=${ZOQ_BENCH_WINDOW:-10}
device_ip=127.0.0.2

ip link set lo up
work=$(mktemp -d)
hpa_pid=
device_pid=
app_pid=
proc_pid=
server_pid=
cleanup() {
    if [ -n "$proc_pid" ]; then kill "$proc_pid" 2>/dev/null || true; fi
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
    # -k ends only the server of this bench's prefix, and every Wine process it serves.
    if [ -n "$server_pid" ]; then
        "$ZOQ_WINESERVER" -k 2>/dev/null || true
        for _ in $(seq 1 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    if [ -n "$device_pid" ]; then kill "$device_pid" 2>/dev/null || true; fi
    if [ -n "$hpa_pid" ]; then kill "$hpa_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
# A signal ends the script, so that the clean-up runs once, on the way out.
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
    echo "bench stopped: $*" >&2
    local id
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        echo "window on screen: $(xdotool getwindowname "$id")" >&2
    done
    for log in device app wineserver; do
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
wait_listening udp 6969 "$hpa_pid" || fail "tftpd-hpa does not listen"
ip addr del 192.0.2.1/32 dev lo
# One download warms the page cache and proves the reference works: in a user namespace (not
# root) tftpd-hpa cannot drop its privileges and serves nothing.
if ! curl -sS -m 10 -o "$work/warm" "tftp://127.0.0.1:6969//zoqbench.bi1" 2>/dev/null ||
    ! cmp -s "$work/warm" "$image"; then
    fail "tftpd-hpa serves nothing here (in a user namespace it cannot drop its privileges: run the bench as root)"
fi
rm -f "$work/warm"

if [ "$wine" = 1 ]; then
    # shellcheck source=tests/wine/wine_env.sh
    . "$root/tests/wine/wine_env.sh"
    zoq_wine_base "$root/build/bench-windows/.wine-base"
    export WINEPREFIX=$work/prefix
    zoq_wine_prefix "$root/build/bench-windows/.wine-base" "$WINEPREFIX"
    # In the foreground (-f), so that $! is the server itself; persistent (-p, after the -p0
    # that Debian's wrapper puts first) until the clean-up's -k.
    "$ZOQ_WINESERVER" -f -p >"$work/wineserver.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 1 50); do
        case $(readlink "/proc/$server_pid/exe" 2>/dev/null) in */wineserver*) break ;; esac
        sleep 0.1
    done
    case $(readlink "/proc/$server_pid/exe" 2>/dev/null) in
        */wineserver*) ;;
        *) fail "wineserver did not start" ;;
    esac
    # The services, the desktop process and the device manager start with the first program.
    "$ZOQ_WINE" wineboot >/dev/null 2>&1 || fail "wineboot failed in $WINEPREFIX"
    wine_version=$("$ZOQ_WINE" --version 2>/dev/null) || wine_version=unknown
fi

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

# wait_window TITLE [NOT_IDS [TRIES]] and type_into WINDOW COMMAND...
# shellcheck source=tests/support/on_screen.sh
. "$root/tests/support/on_screen.sh"
keys_into() {  # window, xdotool arguments...
    local id=$1
    shift
    type_into "$id" xdotool "$@"
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

# Share of one core that each process named uses over the same $window seconds, in per cent,
# separated by spaces.
cpu_share() {
    local before=() after=() t0 t1 pid i
    for pid in "$@"; do before+=("$(cpu_ns "$pid")"); done
    t0=$(date +%s%N)
    sleep "$window"
    for pid in "$@"; do after+=("$(cpu_ns "$pid")"); done
    t1=$(date +%s%N)
    for i in "${!before[@]}"; do
        [ "$i" = 0 ] || printf ' '
        awk -v c=$((after[i] - before[i])) -v t=$((t1 - t0)) 'BEGIN {printf "%.2f", 100 * c / t}'
    done
}

# The Linux process that runs the exe: Wine names it by the exe in its argv[0] (a Unix or a
# Windows path). It is the process started here unless a loader forked it off; then it is a
# descendant.
wine_process() {
    local name pid argv0 candidates
    name=$(basename "$exe")
    for _ in $(seq 1 100); do
        kill -0 "$1" 2>/dev/null || return 1
        candidates="$1 $(descendants "$1")"
        for pid in $candidates; do
            argv0=
            IFS= read -r -d '' argv0 2>/dev/null <"/proc/$pid/cmdline" || true
            argv0=${argv0%"${argv0##*[! ]}"}
            if [ "${argv0##*[/\\]}" = "$name" ]; then echo "$pid"; return 0; fi
        done
        sleep 0.1
    done
    return 1
}

descendants() {
    local child
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
        echo "$child"
        descendants "$child"
    done
}

launch_app() {
    if [ "$wine" = 1 ]; then
        "$ZOQ_WINE" "$exe" >"$work/app.log" 2>&1 &
    else
        "$exe" >"$work/app.log" 2>&1 &
    fi
    app_pid=$!
}

# The process to measure, once its first dialog is on screen.
find_measured() {
    if [ "$wine" = 1 ]; then
        proc_pid=$(wine_process "$app_pid") || fail "no process runs $(basename "$exe") under Wine"
    else
        proc_pid=$app_pid
    fi
}

# Wine's IP-address control takes the address as a person types it, not at Qt's pace.
type_delay=20
[ "$wine" = 1 ] && type_delay=50

notice_cpu=
restart_cpu=
server_notice_cpu=
server_restart_cpu=
peak_kb=
run=1
while [ "$run" -le "$runs" ]; do
    launch_app
    notice=$(wait_window "ZOQ-4502 Firmware Upgrade") || fail "no notice dialog"
    find_measured
    if [ "$run" = 1 ]; then
        sleep 1
        if [ "$wine" = 1 ]; then
            read -r notice_cpu server_notice_cpu <<<"$(cpu_share "$proc_pid" "$server_pid")"
        else
            notice_cpu=$(cpu_share "$proc_pid")
        fi
    fi
    # Cancel has the focus: one step back is Continue.
    keys_into "$notice" key shift+Tab space
    address=$(wait_window "ZOQ-4502 Firmware Upgrade" "$notice") || fail "no address dialog"
    keys_into "$address" type --delay "$type_delay" "$device_ip"
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
        if [ "$wine" = 1 ]; then
            read -r restart_cpu server_restart_cpu <<<"$(cpu_share "$proc_pid" "$server_pid")"
        else
            restart_cpu=$(cpu_share "$proc_pid")
        fi
        success=$(wait_window "ZOQ@$device_ip Upgrade Successful!" "" 600) ||
            fail "no success dialog"
        peak_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$proc_pid/status")
        keys_into "$success" key Return
        for _ in $(seq 1 100); do kill -0 "$proc_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    kill "$proc_pid" 2>/dev/null || true
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    # A forked-off process is not this shell's child: wait until it has gone, so that the
    # next run does not start beside it.
    for _ in $(seq 1 100); do kill -0 "$proc_pid" 2>/dev/null || break; sleep 0.1; done
    app_pid=
    proc_pid=
    run=$((run + 1))
done

if [ -n "${ZOQ_BENCH_RAW:-}" ]; then paste "$work/ours_ms" "$work/hpa_ms" >&2; fi
median() { sort -g "$1" | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ours_ms=$(median "$work/ours_ms")
hpa_ms=$(median "$work/hpa_ms")
size=$(stat -c %s "$image")

if [ "$wine" = 1 ]; then
    major=${wine_version#wine-}
    echo "$(basename "$exe") under Wine ${major%%[!0-9]*} on Xvfb ($wine_version); image $size bytes," \
        "$((size / 512 + 1)) blocks; $runs runs; CPU ${ZOQ_BENCH_CPU}"
    name=zoq-upgrade.exe
else
    echo "$(basename "$exe") on Qt/xcb under Xvfb; image $size bytes, $((size / 512 + 1)) blocks;" \
        "$runs runs; CPU ${ZOQ_BENCH_CPU}"
    name=zoq-upgrade
fi
printf '%-40s %10s ms (median)\n' "$name -> curl" "$ours_ms"
printf '%-40s %10s ms (median)\n' "tftpd-hpa -> curl (same runs)" "$hpa_ms"
awk -v o="$ours_ms" -v h="$hpa_ms" -v n="$name / tftpd-hpa" 'BEGIN {printf "%-40s %10.2f\n", n, o / h}'
printf '%-40s %10s %% of a core over %s s\n' "CPU, notice dialog waiting" "$notice_cpu" "$window"
printf '%-40s %10s %% of a core over %s s\n' "CPU, restart countdown" "$restart_cpu" "$window"
if [ "$wine" = 1 ]; then
    printf '%-40s %10s %% of a core over %s s\n' "wineserver CPU, notice dialog waiting" \
        "$server_notice_cpu" "$window"
    printf '%-40s %10s %% of a core over %s s\n' "wineserver CPU, restart countdown" \
        "$server_restart_cpu" "$window"
fi
printf '%-40s %10s MB\n' "peak resident memory (VmHWM), one run" \
    "$(awk -v k="$peak_kb" 'BEGIN {printf "%.1f", k / 1024}')"
