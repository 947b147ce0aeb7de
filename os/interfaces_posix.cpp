// SPDX-License-Identifier: MIT
// The PC's IPv4 addresses from the interface list, in the list's order, each with whether its
// interface is up and whether it is a loopback; choosing and ordering them is the program's.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "os/interfaces.h"

namespace zoq {

std::vector<InterfaceAddress> system_interface_addresses() {
    std::vector<InterfaceAddress> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        InterfaceAddress a;
        a.ip = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        a.up = (i->ifa_flags & IFF_UP) != 0;
        a.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        out.push_back(a);
    }
    ::freeifaddrs(list);
    return out;
}

}  // namespace zoq
