#!/bin/sh
# SPDX-License-Identifier: MIT
# Transfer time of the embedded image to curl over loopback: our TFTP server next to tftpd-hpa
# serving the same bytes to the same client in the same run (both 512-byte blocks), and the
# lock-step floor (as many bare UDP round trips of the same sizes). Prints medians and ratios.
#
#   bench/tftp_bench.sh [RUNS]          (default 21)
#
# Runs inside a private network namespace of its own (nothing touches the host's network); as
# root `unshare --net`, else a user namespace as well. Every process is pinned to one core so
# that the two cores' scheduling does not decide the figures, and the two servers alternate.
# Builds the helper in build/bench (Release) when ZOQ_BENCH_HELPER does not name one.
# Installs what it needs first (scripts/setup run test bench); tftpd-hpa is unpacked into
# build/peers and started here by hand, never installed as a service.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-21}

if [ "${ZOQ_BENCH_INSIDE:-}" != 1 ]; then
    "$root/scripts/setup" run test bench
    tftpd=${ZOQ_PEERS_DIR:-$root/build/peers}/usr/sbin/in.tftpd
    [ -x "$tftpd" ] || { echo "missing: $tftpd" >&2; exit 1; }
    helper=${ZOQ_BENCH_HELPER:-$root/build/bench/bench/zoq-tftp-bench}
    if [ ! -x "$helper" ]; then
        cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DZOQ_BUILD_QT=OFF -DZOQ_BUILD_TESTS=OFF >/dev/null
        cmake --build "$root/build/bench" -j2 --target zoq-tftp-bench >/dev/null
    fi
    for tool in curl taskset ip ss; do
        command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] ||
            { echo "missing: $tool" >&2; exit 1; }
    done
    if [ "$(id -u)" = 0 ]; then ns="unshare --net"; else ns="unshare --user --map-root-user --net"; fi
    ZOQ_BENCH_INSIDE=1 ZOQ_BENCH_HELPER=$helper ZOQ_BENCH_TFTPD=$tftpd exec $ns taskset -c "${ZOQ_BENCH_CPU:-1}" "$0" "$runs"
fi

PATH=$PATH:/usr/sbin
helper=$ZOQ_BENCH_HELPER
# shellcheck source=scripts/lib/listening.sh
. "$root/scripts/lib/listening.sh"
ip link set lo up
# tftpd-hpa will not start where 127.0.0.1 is the only address; nothing is ever sent to this one.
ip addr add 192.0.2.1/32 dev lo

work=$(mktemp -d)
hpa_pid=
ours_pid=
# A server that has ended already (ours does after its last transfer) is no failure: under
# set -e a failed kill would end the clean-up before the work folder goes.
cleanup() {
    if [ -n "$hpa_pid" ]; then kill "$hpa_pid" 2>/dev/null || true; fi
    if [ -n "$ours_pid" ]; then kill "$ours_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

name=zoqbench.bi1
"$helper" write-image "$work/$name"
size=$(stat -c %s "$work/$name")
"$ZOQ_BENCH_TFTPD" -L -s -u root -a 127.0.0.1:6969 "$work" &
hpa_pid=$!
wait_listening udp 6969 "$hpa_pid"

# curl's own clock of the transfer, without its process start. The doubled slash keeps the
# leading slash of the name in curl's read request.
fetch() {
    curl -sS -o "$work/out" -w '%{time_total}\n' "tftp://127.0.0.1:$1//$name"
    cmp -s "$work/out" "$work/$name" || { echo "corrupt download from port $1" >&2; exit 1; }
    rm -f "$work/out"
}

# One warm server process for all runs, as tftpd-hpa is. It prints the port before each
# transfer, that is once the previous transfer's completion phase is over: reading that line
# before the next measurement keeps its work out of the other server's time.
mkfifo "$work/ports"
"$helper" serve "/$name" $((runs + 2)) >"$work/ports" 2>/dev/null &
ours_pid=$!
exec 3<"$work/ports"
read -r _ port <&3
ours() {
    fetch "$port"
    read -r _ port <&3
}
hpa() { fetch 6969 >>"$work/hpa"; }

: >"$work/ours"
: >"$work/hpa"
# Warm-up of both servers and the page cache.
fetch 6969 >/dev/null
ours >/dev/null
i=0
while [ "$i" -lt "$runs" ]; do
    if [ $((i % 2)) = 0 ]; then ours >>"$work/ours"; hpa; else hpa; ours >>"$work/ours"; fi
    i=$((i + 1))
done
"$helper" floor "$runs" >"$work/floor"
if [ -n "${ZOQ_BENCH_RAW:-}" ]; then paste "$work/ours" "$work/hpa" "$work/floor" >&2; fi

median() { sort -g "$1" | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ours_ms=$(awk '{print $1*1000}' "$work/ours" >"$work/ours_ms"; median "$work/ours_ms")
hpa_ms=$(awk '{print $1*1000}' "$work/hpa" >"$work/hpa_ms"; median "$work/hpa_ms")
floor_ms=$(median "$work/floor")

echo "embedded image: $size bytes, $((size / 512 + 1)) blocks of 512; $runs runs each, pinned to CPU ${ZOQ_BENCH_CPU:-1}"
printf '%-34s %10s ms (median)\n' "zoq-upgrade TFTP server -> curl" "$ours_ms"
printf '%-34s %10s ms (median)\n' "tftpd-hpa -> curl" "$hpa_ms"
printf '%-34s %10s ms (median)\n' "lock-step floor (bare UDP)" "$floor_ms"
awk -v o="$ours_ms" -v h="$hpa_ms" -v f="$floor_ms" 'BEGIN {
    printf "ours / tftpd-hpa   %.2f\n", o / h
    printf "ours / floor       %.2f\n", o / f
    printf "tftpd-hpa / floor  %.2f\n", h / f
}'
