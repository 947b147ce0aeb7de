// SPDX-License-Identifier: MIT
// Private networks for tests that need fixed ports (69, 80), a second address, or a LAN: the
// test process moves into a network namespace of its own, where nothing of the host's is seen
// or touched.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zoq::test {

// Enters a new network namespace (and a user namespace when not root) and brings lo up.
// Must run while the process has one thread. False (with a reason on stderr) when the kernel
// refuses.
bool enter_private_network();

// Gives an interface of this network one more IPv4 address (host order) with a prefix of
// `prefix` bits, under the name or alias `label` ("lo:1", "zoq-lan:1"). False (with a reason on
// stderr) when the kernel refuses.
bool add_address(const char* label, std::uint32_t ip, int prefix);
inline bool add_loopback_address(std::uint32_t ip, const char* label) {
    return add_address(label, ip, 8);
}

// The LAN of the whole-upgrade tests, as a user's desk has it: the PC and the device in two
// network namespaces joined by a veth pair, addresses with no zero octet and with different
// middle octets, so that an octet out of place shows. tests/support/lan.sh builds the same
// network for the scripts.
inline constexpr std::uint32_t LAN_PC_IP = 0xC0A84D0Au;      // 192.168.77.10
inline constexpr std::uint32_t LAN_DEVICE_IP = 0xC0A84D14u;  // 192.168.77.20
inline constexpr const char* LAN_PC = "192.168.77.10";
inline constexpr const char* LAN_DEVICE = "192.168.77.20";
inline constexpr const char* LAN_PC_LINK = "zoq-lan";      // the PC's end of the pair
inline constexpr const char* LAN_DEVICE_LINK = "zoq-dev";  // the device's end

// Enters a private network (the PC's: lo and the LAN link at LAN_PC_IP/24) and builds the
// device's beside it (lo and the other end at LAN_DEVICE_IP/24). Must run while the process has
// one thread. False (with a reason on stderr) when the kernel refuses.
bool enter_lan();

// Runs `body` with the calling thread in the device's network: the sockets it opens and the
// programs it starts (a Process) live there, and stay there afterwards. False when there is no
// device network or the thread cannot enter it or come back.
bool in_device_network(const std::function<void()>& body);

// Runs ip(8) with these arguments in this network. False (with its output on stderr) when it
// fails.
bool run_ip(const std::vector<std::string>& args);

// Adds a pair of linked interfaces `name` and `peer`, both in this network and down.
bool add_veth_pair(const char* name, const char* peer);
// Marks an interface of this network up.
bool set_link_up(const char* name);

}  // namespace zoq::test
