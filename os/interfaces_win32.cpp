// SPDX-License-Identifier: MIT
// The PC's addresses on Windows: the host name looked up, in the order the lookup returns them.
// That order is the one the user has always seen first; the system puts the address of the
// preferred interface first. Every address of the lookup is up; loopback shows by its network.
#include <winsock2.h>

#include <array>
#include <cstring>

#include "os/host.h"
#include "os/interfaces.h"

namespace zoq {

std::vector<InterfaceAddress> system_interface_addresses() {
    std::vector<InterfaceAddress> out;
    std::array<char, 128> name{};
    // Room for 127 bytes with the terminator, as the start-up's own host name.
    read_host_name(name.data(), 127);
    name[126] = 0;
    const hostent* found = ::gethostbyname(name.data());
    if (!found || found->h_addrtype != AF_INET || found->h_length != 4 || !found->h_addr_list) {
        return out;
    }
    for (char** entry = found->h_addr_list; *entry; ++entry) {
        unsigned char bytes[4];
        std::memcpy(bytes, *entry, sizeof bytes);
        InterfaceAddress address;
        address.ip = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                     (std::uint32_t{bytes[2]} << 8) | bytes[3];
        address.up = true;
        address.loopback = bytes[0] == 127;
        out.push_back(address);
    }
    return out;
}

}  // namespace zoq
