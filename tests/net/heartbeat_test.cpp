// SPDX-License-Identifier: MIT
// The system's beat, both kinds: the beats follow the monotonic clock whether or not datagrams
// keep arriving. Bounds only, from the clock measured around each wait, so a loaded machine
// cannot make these fail.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "os/heartbeat_posix.h"
#include "tests/net/tftp_peer.h"

namespace zoq {
namespace {

using test::LOOPBACK_DEVICE;
using test::LOOPBACK_PC;
using test::UdpPeer;
using Clock = std::chrono::steady_clock;

long whole_ms(Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

struct Kind {
    const char* name;
    std::unique_ptr<Heartbeat> (*make)();
};
void PrintTo(const Kind& k, std::ostream* os) {
    *os << k.name;
}

class SystemHeartbeat : public testing::TestWithParam<Kind> {};

TEST_P(SystemHeartbeat, SilenceBringsBeatsAndNothingReadable) {
    UdpPeer server(LOOPBACK_PC);
    const Clock::time_point before = Clock::now();
    std::unique_ptr<Heartbeat> heartbeat = GetParam().make();
    ASSERT_TRUE(heartbeat);
    unsigned beats = 0;
    for (int i = 0; i < 20; ++i) {
        const Wake wake = heartbeat->wait(server.fd());
        EXPECT_FALSE(wake.readable);
        EXPECT_GE(wake.beats, 1u) << "a wait came back with neither a datagram nor a beat";
        beats += wake.beats;
    }
    EXPECT_LE(static_cast<long>(beats), whole_ms(Clock::now() - before) + 1);
}

// A waiting datagram (here never read, so it waits at every wake) is reported, and the beats
// go on with the clock beside it: a stream of datagrams can neither stand in for beats nor
// hold them back.
TEST_P(SystemHeartbeat, BeatsFollowTheClockWhileDatagramsWait) {
    UdpPeer server(LOOPBACK_PC);
    UdpPeer stranger(LOOPBACK_DEVICE);
    const Clock::time_point before = Clock::now();
    std::unique_ptr<Heartbeat> heartbeat = GetParam().make();
    ASSERT_TRUE(heartbeat);
    const Clock::time_point created = Clock::now();
    stranger.send(LOOPBACK_PC, server.port(), test::ack_packet(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));

    Wake wake = heartbeat->wait(server.fd());
    EXPECT_TRUE(wake.readable);
    EXPECT_GE(wake.beats, 29u) << "30 ms passed before this wait";
    unsigned beats = wake.beats;
    Clock::time_point last_wait;
    while (Clock::now() - created < std::chrono::milliseconds(80)) {
        last_wait = Clock::now();
        wake = heartbeat->wait(server.fd());
        ASSERT_TRUE(wake.readable);
        beats += wake.beats;
    }
    // Every whole millisecond up to the last wait is a beat, and no beat comes early.
    EXPECT_GE(static_cast<long>(beats), whole_ms(last_wait - created) - 1);
    EXPECT_LE(static_cast<long>(beats), whole_ms(Clock::now() - before) + 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SystemHeartbeat,
                         testing::Values(Kind{"TimerDescriptor", make_timer_heartbeat},
                                         Kind{"MonotonicClock", make_clock_heartbeat},
                                         Kind{"SystemsChoice", make_system_heartbeat}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zoq
