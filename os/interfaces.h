// SPDX-License-Identifier: MIT
// The PC's IPv4 addresses as the system lists them, before the program picks and orders them.
#pragma once

#include <cstdint>
#include <vector>

namespace zoq {

struct InterfaceAddress {
    std::uint32_t ip = 0;  // host order
    bool up = false;
    bool loopback = false;
};

// In the system's own order: the interface list on Linux, the host-name lookup on Windows.
std::vector<InterfaceAddress> system_interface_addresses();

}  // namespace zoq
