// SPDX-License-Identifier: MIT
// Bringing the program up: the socket layer, the PC's addresses, an empty Digest state, the seeded
// generator, and the identified image.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "app/state.h"
#include "os/interfaces.h"

namespace zoq {

// The addresses the program keeps, in host order: those of interfaces that are up, without
// 0.0.0.0, non-loopback first (so that the default is one a device on the LAN can reach) and
// loopback last, each group in the system's order; at most eight.
std::vector<std::uint32_t> order_local_ips(std::span<const InterfaceAddress> interfaces);

// The PC's IPv4 addresses as the program keeps them: order_local_ips of the system's list.
std::vector<std::uint32_t> system_ipv4_addresses();

// Fills `local_ips` with the first eight of `addresses` (the first 0 ends the list) and sets
// `local_ip` to the first.
void collect_local_ips(UpgradeState& state, std::span<const std::uint32_t> addresses);

// Start-up as a whole, on the main thread before any dialog. Needs `instance` and `clock`.
void start_up(UpgradeState& state);

}  // namespace zoq
