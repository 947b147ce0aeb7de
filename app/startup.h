// SPDX-License-Identifier: MIT
// Bringing the program up: host name, the PC's addresses, an empty Digest state, the seeded
// generator, and the identified image.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/state.h"

namespace zoq {

// The PC's IPv4 addresses in host order: interfaces that are up, non-loopback addresses first
// (so that the default is one a device on the LAN can reach), loopback last.
std::vector<std::uint32_t> system_ipv4_addresses();

// Fills `local_ips` with the first eight of `addresses` (the first 0 ends the list) and sets
// `local_ip` to the first.
void collect_local_ips(UpgradeState& state, std::span<const std::uint32_t> addresses);

// Starts the socket layer; false when the platform cannot give us IPv4 sockets.
bool start_socket_layer();

// Start-up as a whole, on the main thread before any dialog. Needs `instance` and `clock`.
void start_up(UpgradeState& state);

}  // namespace zoq
