// SPDX-License-Identifier: MIT
#include <ifaddrs.h>
#include <net/if.h>

#include "os/interfaces.h"
#include "os/sockaddr.h"

namespace zoq {

std::vector<InterfaceAddress> system_interface_addresses() {
    std::vector<InterfaceAddress> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        InterfaceAddress entry;
        std::uint16_t port = 0;
        read_sockaddr(*reinterpret_cast<const sockaddr_in*>(i->ifa_addr), entry.ip, port);
        entry.up = (i->ifa_flags & IFF_UP) != 0;
        entry.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        out.push_back(entry);
    }
    ::freeifaddrs(list);
    return out;
}

}  // namespace zoq
