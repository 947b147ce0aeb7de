// SPDX-License-Identifier: MIT
// The transfer session on loopback, for the tests that play the device datagram by datagram:
// the session on the listener's socket at 127.0.0.1 in a thread of its own, a raw-datagram
// device at 127.0.0.2, and the checks of the blocks it sends against the image.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <thread>

#include "app/firmware.h"
#include "app/state.h"
#include "common/clock.h"
#include "common/text.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/net/tftp_peer.h"
#include "tftp/listener.h"
#include "tftp/session.h"

namespace zoq::test {

// Bytes that differ from block to block, so that a block sent from the wrong place shows. The
// storage is never empty, so that even an empty image has a valid pointer.
inline Bytes patterned_image(std::size_t size) {
    Bytes b;
    b.reserve(size + 1);
    for (std::size_t i = 0; i < size; ++i) {
        b.push_back(static_cast<std::uint8_t>(i * 13 + i / 512));
    }
    return b;
}

struct SessionRig {
    ScriptedToolkit ui;
    FastClock clock;
    std::unique_ptr<UpgradeState> state = std::make_unique<UpgradeState>();
    TftpListener listener;
    TftpSession session;
    UdpPeer device{LOOPBACK_DEVICE};
    TransferDialogs dialogs{ui, "127.0.0.2"};
    std::thread server;
    std::atomic<bool> done{false};
    TransferOutcome outcome = TransferOutcome::Failed;

    explicit SessionRig(std::span<const std::uint8_t> image) {
        state->instance = &ui;
        state->clock = &clock;
        ui.record_progress(true);
        load_image_bytes(*state, image);
        copy_text(state->device_ip_text, "127.0.0.2");
        EXPECT_EQ(tftp_listener_bind(listener, LOOPBACK_PC), ListenerBind::Bound);
        tftp_session_init(session, state->image.size, listener.socket.fd(), LOOPBACK_DEVICE,
                          device.port());
        dialogs.start(session.block_count);
        server = std::thread([this] {
            outcome =
                tftp_session_exchange(session, {state->image.data, state->image.size}, dialogs);
            done = true;
        });
    }
    // The exchange always ends by itself: last ACK or retry limit (about 3 s).
    ~SessionRig() { server.join(); }

    void ack(unsigned block) const { send(ack_packet(block)); }
    void send(const Bytes& bytes) const { send_from(device, bytes); }
    // From another peer: a stranger, or the device's address on another port.
    void send_from(const UdpPeer& peer, const Bytes& bytes) const {
        peer.send(LOOPBACK_PC, listener.port, bytes);
    }
    std::optional<Datagram> next(int timeout_ms = 3000) const { return device.receive(timeout_ms); }
    // The next datagram that is neither a resent OACK nor a resend of DATA block `previous`:
    // on a loaded machine (a sanitizer) the session may resend before the device's ACK
    // reaches it.
    std::optional<Datagram> next_new(unsigned previous) const {
        for (;;) {
            auto d = next(5000);
            if (!d) return d;
            if (d->opcode() == 6) continue;
            if (d->opcode() == 3 && previous > 0 && d->block() == (previous & 0xFFFFu)) continue;
            return d;
        }
    }
    TransferOutcome wait_end() {
        server.join();
        server = std::thread([] {});
        return outcome;
    }
};

// Checks one DATA packet against the image: number, length and payload.
inline void expect_block(const Datagram& d, std::span<const std::uint8_t> image,
                         std::uint32_t block) {
    const std::size_t offset = std::size_t{block - 1} * 512;
    const std::size_t length = std::min<std::size_t>(512, image.size() - offset);
    ASSERT_EQ(d.opcode(), 3u);
    ASSERT_EQ(d.block(), block & 0xFFFFu);
    ASSERT_EQ(d.bytes.size(), 4 + length) << "block " << block;
    ASSERT_EQ(std::memcmp(d.bytes.data() + 4, image.data() + offset, length), 0)
        << "payload of block " << block;
}

// Plays the device from ACK `from` to the end, checking every block.
inline void play_to_end(SessionRig& rig, std::span<const std::uint8_t> image, std::uint32_t from) {
    const auto count = static_cast<std::uint32_t>(image.size() / 512 + 1);
    rig.ack(from);
    for (std::uint32_t block = from + 1; block <= count; ++block) {
        auto d = rig.next_new(block - 1);
        ASSERT_TRUE(d) << "no block " << block;
        ASSERT_NO_FATAL_FAILURE(expect_block(*d, image, block));
        rig.ack(block);
    }
    EXPECT_EQ(rig.wait_end(), TransferOutcome::Complete);
}

}  // namespace zoq::test
