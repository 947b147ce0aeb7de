# shellcheck shell=sh
# SPDX-License-Identifier: MIT
# Waiting until a server started in the background listens, rather than sleeping for a guessed
# while: for the scripts and benchmarks that start a server and then talk to it. Sourced.

# Waits until a socket of protocol $1 (tcp or udp) listens on local port $2, up to 10 s; gives
# up at once when process $3, the server, has ended. Sees the sockets of the caller's network
# namespace (ss, from iproute2).
wait_listening() {
    _waits=0
    until ss -Hln --"$1" "sport = :$2" 2>/dev/null | grep -q .; do
        if ! kill -0 "$3" 2>/dev/null; then
            echo "the server (process $3) ended before it listened on $1 port $2" >&2
            return 1
        fi
        _waits=$((_waits + 1))
        if [ "$_waits" -ge 200 ]; then
            echo "nothing listens on $1 port $2 after 10 s" >&2
            return 1
        fi
        sleep 0.05
    done
}
