// SPDX-License-Identifier: MIT
// The transfer session's counts, beat by beat: the test plays the heartbeat and the device from
// inside each of the session's waits, so resend intervals, the retry limit and the counters'
// reset are checked to the exact beat, without waiting for real time.
#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/firmware.h"
#include "app/state.h"
#include "common/clock.h"
#include "common/text.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/net/tftp_peer.h"
#include "tests/support/scripted_heartbeat.h"
#include "tftp/listener.h"
#include "tftp/session.h"

namespace zoq {
namespace {

using test::ack_packet;
using test::Bytes;
using test::Datagram;
using test::LOOPBACK_DEVICE;
using test::LOOPBACK_PC;
using test::ScriptedHeartbeat;
using test::UdpPeer;

// What happens in one of the session's waits: an optional datagram (from the device, or from
// a stranger on the device's address) and the beats that pass.
struct Step {
    Bytes datagram;
    bool from_stranger = false;
    unsigned beats = 0;
};

Step silence(unsigned beats = 1) {
    return {{}, false, beats};
}
Step ack(unsigned block) {
    return {ack_packet(block), false, 0};
}
Step from_device(Bytes bytes, unsigned beats) {
    return {std::move(bytes), false, beats};
}
Step from_stranger(Bytes bytes, unsigned beats) {
    return {std::move(bytes), true, beats};
}

using Script = std::vector<Step>;

void add(Script& script, const Script& steps, unsigned times = 1) {
    for (unsigned i = 0; i < times; ++i) script.insert(script.end(), steps.begin(), steps.end());
}

// A datagram the session sent, with the beats the script had let pass when it was sent.
struct Sent {
    unsigned at_beat;
    Datagram datagram;
};

struct BeatRig {
    ScriptedToolkit ui;
    FastClock clock;
    std::unique_ptr<UpgradeState> state = std::make_unique<UpgradeState>();
    TftpListener listener;
    TftpSession session;
    UdpPeer device{LOOPBACK_DEVICE};
    UdpPeer stranger{LOOPBACK_DEVICE};
    Bytes image;
    Script script;
    unsigned beats = 0;
    std::vector<Sent> sent;
    ScriptedHeartbeat heartbeat{[this](int socket, unsigned wake) { return play(socket, wake); }};

    explicit BeatRig(std::size_t image_size) : image(image_size + 1) {
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);
        state->instance = &ui;
        state->clock = &clock;
        state->heartbeat = &heartbeat;
        load_image_bytes(*state, std::span<const std::uint8_t>(image.data(), image_size));
        copy_text(state->device_ip_text, "127.0.0.2");
        EXPECT_EQ(tftp_listener_bind(listener, LOOPBACK_PC), ListenerBind::Bound);
        tftp_session_init(session, static_cast<std::uint32_t>(image_size), listener.socket.fd(),
                          LOOPBACK_DEVICE, device.port());
    }

    // Loopback delivers inside sendto, so what the session sent is queued by now.
    void collect() {
        while (auto d = device.receive(0)) sent.push_back({beats, std::move(*d)});
    }

    Wake play(int socket, unsigned wake) {
        collect();
        if (wake > script.size()) {
            throw std::runtime_error("the session still waits after the script's last step");
        }
        const Step& step = script[wake - 1];
        if (!step.datagram.empty()) {
            (step.from_stranger ? stranger : device)
                .send(LOOPBACK_PC, listener.port, step.datagram);
        }
        beats += step.beats;
        return {test::datagram_waiting(socket), step.beats};
    }

    TransferOutcome run() {
        TransferDialogs dialogs(ui, "127.0.0.2");
        dialogs.start(session.block_count);
        TransferOutcome outcome = tftp_session_exchange(
            session, {state->image.data, state->image.size}, dialogs, &heartbeat);
        collect();
        return outcome;
    }

    // The beats at which a packet with `opcode` and `block` went out.
    std::vector<unsigned> sends_of(unsigned opcode, unsigned block = 0) const {
        std::vector<unsigned> at;
        for (const Sent& s : sent) {
            if (s.datagram.opcode() == opcode && (opcode == 6 || s.datagram.block() == block)) {
                at.push_back(s.at_beat);
            }
        }
        return at;
    }
    bool stranger_got_anything() const { return static_cast<bool>(stranger.receive(0)); }
};

// Beats at which the packet goes out when it is first sent at `first` and resent after every
// `interval` beats, `resends` times.
std::vector<unsigned> every(unsigned first, unsigned interval, unsigned resends) {
    std::vector<unsigned> at{first};
    for (unsigned i = 1; i <= resends; ++i) at.push_back(first + i * interval);
    return at;
}

// What arrives while DATA 1 waits for its ACK. Each beat comes in a wake of its own, and
// every datagram case also arrives in extra wakes between the beats, without a beat: those
// wakes must not count, and the datagrams in the beat wakes must not hold the beat back.
struct Disturbance {
    const char* name;
    bool stranger;
    Bytes bytes;  // empty: plain silence
};
void PrintTo(const Disturbance& d, std::ostream* os) {
    *os << d.name;
}

class ResendInterval : public testing::TestWithParam<Disturbance> {};

TEST_P(ResendInterval, DataIsResentAfterExactlyOneHundredBeats) {
    const Disturbance& d = GetParam();
    BeatRig rig(600);  // DATA 1 of 512 bytes, DATA 2 of 88
    rig.script.push_back(ack(0));
    Script one_beat;
    if (d.bytes.empty()) {
        one_beat.push_back(silence());
    } else if (d.stranger) {
        one_beat = {from_stranger(d.bytes, 0), from_stranger(d.bytes, 1)};
    } else {
        one_beat = {from_device(d.bytes, 0), from_device(d.bytes, 1)};
    }
    add(rig.script, one_beat, 250);
    rig.script.push_back(ack(1));
    rig.script.push_back(ack(2));

    ASSERT_EQ(rig.run(), TransferOutcome::Complete);
    EXPECT_EQ(rig.sends_of(3, 1), every(0, 100, 2));
    EXPECT_EQ(rig.sends_of(3, 2), std::vector<unsigned>{250});
    EXPECT_EQ(rig.sends_of(6), std::vector<unsigned>{0}) << "the OACK was sent again";
    EXPECT_FALSE(rig.stranger_got_anything());
}

INSTANTIATE_TEST_SUITE_P(Arrivals, ResendInterval,
                         testing::Values(Disturbance{"Silence", false, {}},
                                         Disturbance{"StrangersAck", true, ack_packet(1)},
                                         Disturbance{"ErrorPacket", false,
                                                     test::bytes_of({"\0\5\0\1Not found\0", 14})},
                                         Disturbance{"DuplicateAck", false, ack_packet(0)},
                                         Disturbance{"AckOfAnotherBlock", false, ack_packet(7)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ResendInterval, BeatsOfLateWakesAddUpAndALateWakeEndsOneInterval) {
    BeatRig rig(100);
    // 40 + 59 beats: one short of the interval; the next beat completes it.
    rig.script = {silence(40), silence(59), silence(1)};
    // A wake 250 beats late ends one interval, not two: no burst of resends after a stall.
    rig.script.push_back(silence(250));
    rig.script.push_back(silence(99));
    rig.script.push_back(silence(1));
    rig.script.push_back(ack(0));
    rig.script.push_back(ack(1));
    ASSERT_EQ(rig.run(), TransferOutcome::Complete);
    EXPECT_EQ(rig.sends_of(6), (std::vector<unsigned>{0, 100, 350, 450}));
}

TEST(RetryLimit, UnansweredOackFailsAtTheEndOfTheThirtiethInterval) {
    BeatRig rig(1024);
    add(rig.script, {silence()}, 3000);
    add(rig.script, {silence()}, 10);  // never reached
    ASSERT_EQ(rig.run(), TransferOutcome::Failed);
    EXPECT_EQ(rig.heartbeat.wakes(), 3000u) << "the transfer failed at the wrong beat";
    EXPECT_EQ(rig.sends_of(6), every(0, 100, 29));
}

TEST(RetryLimit, UnacknowledgedLastBlockFailsTheSameWay) {
    BeatRig rig(100);  // one block
    rig.script.push_back(ack(0));
    add(rig.script, {from_device(ack_packet(0), 1)}, 3000);  // a device stuck on ACK 0
    add(rig.script, {silence()}, 10);
    ASSERT_EQ(rig.run(), TransferOutcome::Failed);
    EXPECT_EQ(rig.heartbeat.wakes(), 3001u);
    EXPECT_EQ(rig.sends_of(3, 1), every(0, 100, 29));
}

// Twenty-nine lost intervals before every ACK: a counter that survived an ACK would reach 30.
TEST(Counters, EveryAcceptedAckStartsBothCountsAfresh) {
    BeatRig rig(1100);  // blocks 1 and 2 of 512 bytes, block 3 of 76
    add(rig.script, {silence()}, 2900);
    rig.script.push_back(ack(0));
    add(rig.script, {silence()}, 2900);
    rig.script.push_back(ack(1));
    // Half an interval, then the ACK: the next block gets a whole interval of its own.
    add(rig.script, {silence()}, 50);
    rig.script.push_back(ack(2));
    add(rig.script, {silence()}, 2900);
    rig.script.push_back(ack(3));
    ASSERT_EQ(rig.run(), TransferOutcome::Complete);
    EXPECT_EQ(rig.sends_of(6), every(0, 100, 29));
    EXPECT_EQ(rig.sends_of(3, 1), every(2900, 100, 29));
    EXPECT_EQ(rig.sends_of(3, 2), std::vector<unsigned>{5800});
    EXPECT_EQ(rig.sends_of(3, 3), every(5850, 100, 29));
}

}  // namespace
}  // namespace zoq
