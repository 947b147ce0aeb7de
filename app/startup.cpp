// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/firmware.h"
#include "common/clock.h"
#include "common/net.h"
#include "common/process.h"
#include "common/trace.h"
#include "res/texts.h"
#include "ui/helpers.h"

namespace zoq {

bool start_socket_layer() {
    // POSIX sockets need no start-up call; what can fail is IPv4 itself (a kernel without it,
    // a sandbox that forbids sockets). One datagram socket tells.
    Socket probe(::socket(AF_INET, SOCK_DGRAM, 0));
    return probe.valid();
}

std::vector<std::uint32_t> system_ipv4_addresses() {
    std::vector<std::uint32_t> lan, loopback;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP)) continue;
        std::uint32_t ip =
            ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        if (ip == 0) continue;
        ((i->ifa_flags & IFF_LOOPBACK) ? loopback : lan).push_back(ip);
    }
    ::freeifaddrs(list);
    lan.insert(lan.end(), loopback.begin(), loopback.end());
    return lan;
}

void collect_local_ips(UpgradeState& state, std::span<const std::uint32_t> addresses) {
    state.local_ips.fill(0);
    std::size_t n = 0;
    for (std::uint32_t ip : addresses) {
        if (n == LOCAL_IP_COUNT || ip == 0) break;
        state.local_ips[n++] = ip;
        trace("Client IP = %x\n", ip);
    }
    state.local_ip = state.local_ips[0];
}

void start_up(UpgradeState& state) {
    if (!start_socket_layer()) {
        show_error(*state.instance, MSG_WINSOCK_INIT);
        end_process();
    }
    state.host_name.fill(0);
    // Room for 127 bytes with the terminator: at most 126 characters are kept.
    ::gethostname(state.host_name.data(), 127);
    state.host_name[126] = 0;
    auto addresses = system_ipv4_addresses();
    collect_local_ips(state, addresses);
    state.digest = DigestChallenge{};
    state.rng.seed(state.clock->now_ms());
    load_firmware_image(state);
    identify_model(state);
}

}  // namespace zoq
