#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The LAN of the whole-upgrade scripts, the same as tests/support/netns.cpp builds for the C++
# tests: the PC (this shell and what it starts) in the current network namespace, the device in
# a second one, joined by a veth pair: zoq-lan at 192.168.77.10/24 here, zoq-dev at
# 192.168.77.20/24 there. No octet is zero and the middle two differ, so an address written
# with an octet out of place reaches nobody. Sourced, in a private network namespace, as root
# (of a user namespace or of the machine).
#   lan_up                  builds it (and brings lo up on both sides)
#   "${in_device_net[@]}" CMD ARGS...
#                           runs a command in the device's network (here while no LAN is up);
#                           started with &, $! is the command's own process id
#   expect_lan_traffic LOG  checks the simulated device's log of a whole upgrade on the LAN
#   lan_down                ends the process that holds the device's network

LAN_PC=192.168.77.10
LAN_DEVICE=192.168.77.20
lan_holder_pid=""
in_device_net=()

lan_up() {
  local own
  ip link set lo up || return 1
  own=$(readlink /proc/self/ns/net)
  # The holder's process id names the device's network; it lives until lan_down (or an hour,
  # should a test be killed before its clean-up).
  unshare --net sleep 3600 &
  lan_holder_pid=$!
  for _ in $(seq 1 200); do
    case $(readlink "/proc/$lan_holder_pid/ns/net" 2>/dev/null) in
      "$own") sleep 0.01 ;;
      "") echo "the device's network did not start" >&2; return 1 ;;
      *) break ;;
    esac
  done
  # nsenter execs the command: no process of its own stays between.
  in_device_net=(nsenter "--net=/proc/$lan_holder_pid/ns/net" --)
  ip -batch - <<END || return 1
link add zoq-lan type veth peer name zoq-dev netns $lan_holder_pid
addr add $LAN_PC/24 dev zoq-lan
link set zoq-lan up
END
  "${in_device_net[@]}" ip -batch - <<END || return 1
link set lo up
addr add $LAN_DEVICE/24 dev zoq-dev
link set zoq-dev up
END
}

lan_down() {
  if [ -n "$lan_holder_pid" ]; then kill "$lan_holder_pid" 2>/dev/null || true; fi
  lan_holder_pid=""
  in_device_net=()
}

# What the device saw of the PC, and sent, in a whole upgrade: both status reads from the PC's
# LAN address, the upgrade request naming exactly the PC's LAN address and port 69, and its own
# read request sent from its own address. A datagram from any other address than the link's
# would show as "unknown host". Prints what is wrong and fails.
expect_lan_traffic() {
  local log=$1 pc=${LAN_PC//./\\.} device=${LAN_DEVICE//./\\.}
  grep -q "^http: GET /admin/advanced from $pc:" "$log" ||
    { echo "no status read from $LAN_PC"; return 1; }
  grep -q "^http: GET /admin/upgrade?tftp://$pc:69/zoq[0-9a-f]*\.bi1 from $pc:" "$log" ||
    { echo "the upgrade request does not name tftp://$LAN_PC:69/"; return 1; }
  grep -q "^tftp: RRQ sent to $pc:69 file /zoq.* from $device:" "$log" ||
    { echo "the device's read request did not leave from $LAN_DEVICE"; return 1; }
  sed -n '/^upgrade result: ok/,$p' "$log" | grep -q "^http: GET /admin/advanced from $pc:" ||
    { echo "no status read from $LAN_PC after the restart"; return 1; }
  if grep -q 'unknown host' "$log"; then echo "a datagram from an unknown host"; return 1; fi
}
