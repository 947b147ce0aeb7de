// SPDX-License-Identifier: MIT
// Prints how the transfer's 1 ms beat behaves on this system: wake-ups per second with no
// traffic, milliseconds per wake-up (the granularity a resend interval is measured in), and
// the longest wake-up. A timer that fell back to the system's default tick shows as about 16 ms
// per wake-up. Run by hand (under Wine for the Windows build); prints figures, no verdict.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "common/net.h"
#include "os/heartbeat.h"
#include "os/socket.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 2;
    if (!zoq::open_socket_layer()) {
        std::fprintf(stderr, "no socket layer\n");
        return 1;
    }
    zoq::Socket s(zoq::open_udp_socket());
    sockaddr_in a{};
    zoq::fill_sockaddr(0x7F000001u, 0, a);
    if (!s.valid() || !zoq::bind_socket(s.fd(), a)) {
        std::fprintf(stderr, "no socket on 127.0.0.1\n");
        return 1;
    }
    auto heartbeat = zoq::make_system_heartbeat();
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    unsigned long wakes = 0;
    unsigned long beats = 0;
    double longest_ms = 0;
    auto last = start;
    while (Clock::now() < end) {
        zoq::Wake wake = heartbeat->wait(s.fd());
        const auto now = Clock::now();
        const double ms = std::chrono::duration<double, std::milli>(now - last).count();
        if (ms > longest_ms) longest_ms = ms;
        last = now;
        beats += wake.beats;
        ++wakes;
    }
    const double total_ms = std::chrono::duration<double, std::milli>(last - start).count();
    std::printf(
        "heartbeat: %.0f ms, %lu wake-ups (%.0f/s), %.2f ms per wake-up, longest %.2f ms, "
        "%lu beats reported\n",
        total_ms, wakes, wakes * 1000.0 / total_ms, total_ms / wakes, longest_ms, beats);
    return 0;
}
