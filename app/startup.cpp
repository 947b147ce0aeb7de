// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include "app/failure.h"
#include "app/firmware.h"
#include "common/clock.h"
#include "common/trace.h"
#include "os/interfaces.h"
#include "os/socket.h"
#include "res/texts.h"

namespace zoq {

std::vector<std::uint32_t> order_local_ips(std::span<const InterfaceAddress> interfaces) {
    std::vector<std::uint32_t> kept;
    for (bool loopback : {false, true}) {
        for (const InterfaceAddress& a : interfaces) {
            if (kept.size() == LOCAL_IP_COUNT) return kept;
            if (a.up && a.ip != 0 && a.loopback == loopback) kept.push_back(a.ip);
        }
    }
    return kept;
}

std::vector<std::uint32_t> system_ipv4_addresses() {
    const std::vector<InterfaceAddress> interfaces = system_interface_addresses();
    return order_local_ips(interfaces);
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
    if (!open_socket_layer()) end_run(*state.instance, MSG_WINSOCK_INIT);
    auto addresses = system_ipv4_addresses();
    collect_local_ips(state, addresses);
    {
        LockGuard lock(state.shared_mutex);
        state.digest = DigestChallenge{};
        state.rng.seed(state.clock->now_ms());
    }
    load_firmware_image(state);
    identify_model(state);
}

}  // namespace zoq
