// SPDX-License-Identifier: MIT
// Hostile devices and strangers on the TFTP side, against the transfer session on loopback:
// ACKs from the device's address but another port, ERROR packets, datagrams longer than a
// block, a stranger's read requests in the middle of the transfer, and the largest image whose
// block numbers still fit into 16 bits (a larger one is refused when the program is built).
// Each transfer ends in a defined way: the image delivered byte for byte, or the retry limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/net/session_rig.h"
#include "tests/support/process.h"

namespace zoq {
namespace {

using test::ack_packet;
using test::Bytes;
using test::Datagram;
using test::expect_block;
using test::LOOPBACK_DEVICE;
using test::LOOPBACK_PC;
using test::patterned_image;
using test::play_to_end;
using test::SessionRig;
using test::UdpPeer;

constexpr std::uint32_t STRANGER = 0x7F000003;  // 127.0.0.3

TEST(HostileTftp, AcksFromTheDevicesAddressButAnotherPortAreIgnored) {
    const Bytes image = patterned_image(3000);
    SessionRig rig(image);
    UdpPeer other_port(LOOPBACK_DEVICE);
    ASSERT_NE(other_port.port(), rig.device.port());
    auto oack = rig.device.receive(5000);
    ASSERT_TRUE(oack);
    ASSERT_EQ(oack->opcode(), 6u);
    for (int i = 0; i < 50; ++i) rig.send_from(other_port, ack_packet(0));
    // Only the OACK's resend may come: the other port's ACKs moved nothing.
    auto d = rig.device.receive(3000);
    ASSERT_TRUE(d) << "the OACK is resent after 100 ms of silence";
    EXPECT_EQ(d->opcode(), 6u);
    EXPECT_FALSE(other_port.receive(50)) << "no answer, not even an ERROR, to another port";
    play_to_end(rig, image, 0);
    EXPECT_FALSE(other_port.receive(10));
}

TEST(HostileTftp, ErrorPacketsAreSilence) {
    const Bytes image = patterned_image(1500);
    SessionRig rig(image);
    ASSERT_TRUE(rig.device.receive(5000));  // OACK
    Bytes error = {0, 5, 0, 1};
    const std::string text = "File not found";
    error.insert(error.end(), text.begin(), text.end());
    error.push_back(0);
    for (int i = 0; i < 3; ++i) rig.send(error);
    auto again = rig.device.receive(3000);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->opcode(), 6u) << "the OACK goes again, as after silence";
    play_to_end(rig, image, 0);
}

TEST(HostileTftp, DatagramsLongerThanABlock) {
    const Bytes image = patterned_image(2048);
    SessionRig rig(image);
    ASSERT_TRUE(rig.device.receive(5000));
    rig.send(ack_packet(0));
    auto d1 = rig.next_new(0);
    ASSERT_TRUE(d1);
    ASSERT_NO_FATAL_FAILURE(expect_block(*d1, image, 1));
    // A 9000-byte DATA lookalike and a 4000-byte ERROR: silence, whatever their length.
    Bytes big_data(9000, 0xAB);
    put_be16(big_data.data(), 3);
    rig.send(big_data);
    Bytes big_error(4000, 'e');
    put_be16(big_error.data(), 5);
    rig.send(big_error);
    // An ACK of block 1 with 1500 bytes of trailer: its first four bytes are the ACK.
    Bytes long_ack(1500, 0xCD);
    put_be16(long_ack.data(), 4);
    put_be16(long_ack.data() + 2, 1);
    rig.send(long_ack);
    auto d2 = rig.next_new(1);
    ASSERT_TRUE(d2);
    ASSERT_NO_FATAL_FAILURE(expect_block(*d2, image, 2));
    play_to_end(rig, image, 2);
}

TEST(HostileTftp, StrangersReadRequestsDuringTheTransfer) {
    const Bytes image = patterned_image(512 * 40 + 17);
    SessionRig rig(image);
    // Another host, from the very port the device uses.
    UdpPeer stranger(STRANGER, rig.device.port());
    ASSERT_TRUE(stranger.bound());
    ASSERT_TRUE(rig.device.receive(5000));
    const auto count = static_cast<std::uint32_t>(image.size() / 512 + 1);
    rig.send(ack_packet(0));
    for (std::uint32_t block = 1; block <= count; ++block) {
        // Before every block the stranger asks for the same file, and ACKs too.
        rig.send_from(stranger, test::rrq_packet("/zoq1.bi1", {"octet", "tsize", "0"}));
        rig.send_from(stranger, ack_packet(block));
        auto d = rig.next_new((block - 1) & 0xFFFFu);
        ASSERT_TRUE(d) << "no block " << block;
        ASSERT_NO_FATAL_FAILURE(expect_block(*d, image, block));
        if (block <= 5) {
            // The stranger's ACK of the block in flight must not move the transfer on: no
            // next block before the device's own ACK (at most a resend of this one).
            auto early = rig.device.receive(30);
            EXPECT_TRUE(!early || early->block() == block) << "block " << block;
        }
        rig.send(ack_packet(block));
    }
    EXPECT_EQ(rig.wait_end(), TransferOutcome::Complete);
    EXPECT_FALSE(stranger.receive(50)) << "the stranger is never answered";
}

TEST(HostileTftp, LargestImageEndsAtBlock65535) {
    // 65,535 blocks: the most that 16-bit block numbers carry without wrapping to 0.
    const Bytes image = patterned_image(std::size_t{65535} * 512 - 1);
    SessionRig rig(image);
    auto oack = rig.device.receive(5000);
    ASSERT_TRUE(oack);
    EXPECT_EQ(oack->bytes, test::expected_oack(33553919));
    rig.send(ack_packet(0));
    std::uint32_t last = 0;
    for (std::uint32_t block = 1; block <= 65535; ++block) {
        auto d = rig.next_new((block - 1) & 0xFFFFu);
        ASSERT_TRUE(d) << "no block " << block;
        // Every 1000th block in full; the rest by number and length.
        if (block % 1000 == 0 || block == 65535) {
            ASSERT_NO_FATAL_FAILURE(expect_block(*d, image, block));
        } else {
            ASSERT_EQ(d->block(), block);
            ASSERT_EQ(d->bytes.size(), block == 65535 ? 4u + 511u : 516u);
        }
        last = d->block();
        rig.send(ack_packet(block));
    }
    EXPECT_EQ(last, 65535u);
    EXPECT_EQ(rig.wait_end(), TransferOutcome::Complete);
    EXPECT_EQ(rig.session.bytes_acked, 33553919u);
}

TEST(HostileTftp, ImageThatWouldWrapTheBlockNumberIsRefusedAtBuildTime) {
    const std::string tool = ZOQ_BINARY_DIR "/zoq-mkimage";
    char dir[] = "/tmp/zoq-wrap-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string fits = std::string(dir) + "/fits.bin";
    const std::string wraps = std::string(dir) + "/wraps.bin";
    std::string out;
    ASSERT_EQ(test::run_program({tool, "make", fits, "33553919"}, &out, 60000), 0) << out;
    ASSERT_EQ(test::run_program({tool, "make", wraps, "33553920"}, &out, 60000), 0) << out;
    EXPECT_EQ(test::run_program({tool, "check", fits}, &out, 60000), 0) << out;
    EXPECT_NE(test::run_program({tool, "check", wraps}, &out, 60000), 0);
    EXPECT_NE(out.find("more than 65535 blocks"), std::string::npos) << out;
    std::remove(fits.c_str());
    std::remove(wraps.c_str());
    ::rmdir(dir);
}

}  // namespace
}  // namespace zoq
