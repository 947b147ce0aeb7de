// SPDX-License-Identifier: MIT
// How far apart the transfer's resends are, and how long it takes to give up, while datagrams
// pour in that must not count: duplicate ACKs from the device, or a stranger's datagrams. Run
// by hand; prints figures (about 100 ms between resends and about 3 s to the failure are the
// system's own timing).
//
//   zoq-tftp-interval-bench [timer|clock] [duplicates|stranger|none] [GAP_US]
//
// Loopback only: the session on 127.0.0.1, the device and the stranger on 127.0.0.2.
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/firmware.h"
#include "app/state.h"
#include "common/clock.h"
#include "common/net.h"
#include "common/text.h"
#include "os/heartbeat_posix.h"
#include "os/socket.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tftp/session.h"

namespace {

using namespace zoq;
using Steady = std::chrono::steady_clock;

constexpr std::uint32_t PC = 0x7F000001;
constexpr std::uint32_t DEVICE = 0x7F000002;

Socket udp_on(std::uint32_t ip, std::uint16_t& port) {
    Socket s(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in a{};
    fill_sockaddr(ip, 0, a);
    ::bind(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    ::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&a), &length);
    std::uint32_t host = 0;
    read_sockaddr(a, host, port);
    set_non_blocking(s.fd());
    return s;
}

void send_to(const Socket& s, std::uint16_t port, unsigned opcode, unsigned block) {
    std::uint8_t p[4];
    put_be16(p, opcode);
    put_be16(p + 2, block);
    sockaddr_in a{};
    fill_sockaddr(PC, port, a);
    ::sendto(s.fd(), p, sizeof p, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

// The DATA block number of a datagram waiting on `s`, or -1.
int received_block(const Socket& s) {
    std::uint8_t p[1024];
    long n = static_cast<long>(::recv(s.fd(), p, sizeof p, 0));
    if (n < 4) return -1;
    return get_be16(p) == TFTP_DATA ? get_be16(p + 2) : 0;
}

double ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string kind = argc > 1 ? argv[1] : "timer";
    const std::string flood = argc > 2 ? argv[2] : "duplicates";
    const long gap_us = argc > 3 ? std::atol(argv[3]) : 100;
    std::unique_ptr<Heartbeat> heartbeat =
        kind == "clock" ? make_clock_heartbeat() : make_timer_heartbeat();
    if (!heartbeat || (flood != "duplicates" && flood != "stranger" && flood != "none")) {
        std::fprintf(stderr, "usage: %s [timer|clock] [duplicates|stranger|none] [GAP_US]\n",
                     argv[0]);
        return 2;
    }

    ScriptedToolkit ui;
    FastClock clock;
    auto state = std::make_unique<UpgradeState>();
    state->instance = &ui;
    state->clock = &clock;
    state->heartbeat = heartbeat.get();
    const std::vector<std::uint8_t> image(2000, 0x5A);
    load_image_bytes(*state, image);
    copy_text(state->device_ip_text, "127.0.0.2");

    std::uint16_t server_port = 0, device_port = 0, stranger_port = 0;
    Socket server = udp_on(PC, server_port);
    Socket device = udp_on(DEVICE, device_port);
    Socket stranger = udp_on(DEVICE, stranger_port);
    TftpSession session;
    tftp_session_init(session, state->image.size, server.fd(), DEVICE, device_port);
    TransferDialogs dialogs(ui, "127.0.0.2");
    dialogs.start(session.block_count);
    std::atomic<bool> done{false};
    std::thread exchange([&] {
        tftp_session_exchange(session, {state->image.data, state->image.size}, dialogs,
                              state->heartbeat);
        done = true;
    });

    // ACK the OACK, then let DATA 1 go unanswered while the flood runs.
    while (!wait_readable(device.fd(), 1000)) {
    }
    received_block(device);
    send_to(device, server_port, TFTP_ACK, 0);
    while (!wait_readable(device.fd(), 1000)) {
    }
    const Steady::time_point first = Steady::now();
    received_block(device);
    std::vector<Steady::time_point> resends;
    unsigned flooded = 0;
    while (!done) {
        if (flood == "duplicates") send_to(device, server_port, TFTP_ACK, 0);
        if (flood == "stranger") send_to(stranger, server_port, TFTP_ACK, 1);
        if (flood != "none") ++flooded;
        while (received_block(device) == 1) resends.push_back(Steady::now());
        std::this_thread::sleep_for(std::chrono::microseconds(gap_us));
    }
    const Steady::time_point end = Steady::now();
    exchange.join();

    std::vector<double> gaps;
    Steady::time_point previous = first;
    for (Steady::time_point t : resends) {
        gaps.push_back(ms(t - previous));
        previous = t;
    }
    std::sort(gaps.begin(), gaps.end());
    std::printf("heartbeat %s, flood %s every %ld us (%u datagrams)\n", kind.c_str(), flood.c_str(),
                gap_us, flooded);
    std::printf("DATA 1 sent %zu times in all (29 resends expected)\n", resends.size() + 1);
    if (!gaps.empty()) {
        std::printf("resend interval ms: min %.1f, median %.1f, max %.1f\n", gaps.front(),
                    gaps[gaps.size() / 2], gaps.back());
    }
    std::printf("from DATA 1 to the failure: %.0f ms (3000 expected)\n", ms(end - first));
    return 0;
}
