// SPDX-License-Identifier: MIT
// The transfer session on loopback: a raw-datagram device at 127.0.0.2 against the session on
// the listener's socket at 127.0.0.1, packet by packet.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/firmware.h"
#include "os/image.h"
#include "tests/net/session_rig.h"

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

struct SizeCase {
    const char* name;
    std::size_t size;  // 0: the embedded image
};
void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.name;
}

class WholeTransfer : public testing::TestWithParam<SizeCase> {};

TEST_P(WholeTransfer, EveryBlockMatchesTheImage) {
    Bytes storage;
    std::span<const std::uint8_t> image = embedded_image();
    if (GetParam().size != 981328) {
        storage = patterned_image(GetParam().size);
        image = std::span<const std::uint8_t>(storage.data(), GetParam().size);
    }
    ASSERT_EQ(image.size(), GetParam().size);
    SessionRig rig(image);
    auto oack = rig.next();
    ASSERT_TRUE(oack);
    EXPECT_EQ(oack->bytes, test::expected_oack(static_cast<std::uint32_t>(image.size())));
    EXPECT_EQ(oack->ip, LOOPBACK_PC);
    EXPECT_EQ(oack->port, rig.listener.port);
    ASSERT_NO_FATAL_FAILURE(play_to_end(rig, image, 0));
    // After ACK k the bar stands at k + 1 and the title counts the bytes of blocks 1 to k.
    const std::string total = std::to_string(image.size());
    std::vector<std::string> captions;
    std::vector<std::string> positions;
    for (const std::string& r : rig.ui.records()) {
        if (r.rfind("caption 110 ", 0) == 0) captions.push_back(r.substr(12));
        if (r.rfind("progress 110 1010 ", 0) == 0) positions.push_back(r.substr(18));
    }
    const std::size_t acks = image.size() / 512 + 2;
    ASSERT_EQ(captions.size(), acks);
    ASSERT_EQ(positions.size(), acks);
    for (std::size_t k = 0; k < acks; ++k) {
        const std::string acked = std::to_string(std::min(k * 512, image.size()));
        ASSERT_EQ(captions[k],
                  "Uploading Target Firmware to ZOQ@127.0.0.2 " + acked + "/" + total + " Bytes")
            << "after ACK " << k;
        ASSERT_EQ(positions[k], std::to_string(k + 1)) << "after ACK " << k;
    }
    // Nothing follows the last block.
    EXPECT_FALSE(rig.next(150));
}

INSTANTIATE_TEST_SUITE_P(Sizes, WholeTransfer,
                         testing::Values(SizeCase{"Embedded", 981328},
                                         SizeCase{"MultipleOf512", 1024}, SizeCase{"Empty", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TftpSession, OackIs25BytesForTheEmbeddedImage) {
    std::array<std::uint8_t, TFTP_PACKET_SIZE> packet{};
    ASSERT_EQ(embedded_image().size(), 981328u);
    EXPECT_EQ(build_oack(packet.data(), 981328), 25u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 25), test::expected_oack(981328));
}

// The wire carries the low 16 bits of the block counter; an ACK is matched against the whole
// counter, so a number that has wrapped never acknowledges the block in flight.
TEST(TftpSession, AckNumberIsMatchedAgainstTheWholeCounter) {
    struct Case {
        std::uint32_t in_flight;
        unsigned acked;
        SessionInput expected;
    };
    const Case cases[] = {
        {0, 0, SessionInput::AckBlock},          {1, 0, SessionInput::AckOther},
        {65535, 0xFFFF, SessionInput::AckBlock}, {65536, 0, SessionInput::AckOther},
        {65537, 1, SessionInput::AckOther},
    };
    for (const Case& c : cases) {
        TftpSession session;
        session.device_ip = LOOPBACK_DEVICE;
        session.device_port = 4000;
        session.block = c.in_flight;
        const Bytes ack = ack_packet(c.acked);
        std::copy(ack.begin(), ack.end(), session.packet.begin());
        EXPECT_EQ(classify_session_datagram(session, 4, LOOPBACK_DEVICE, 4000), c.expected)
            << "ACK " << c.acked << " with block " << c.in_flight << " in flight";
    }
    // The last block of the largest image goes out as 0xFFFF.
    std::array<std::uint8_t, TFTP_PACKET_SIZE> packet{};
    const std::uint8_t payload[3] = {7, 8, 9};
    ASSERT_EQ(build_data_block(packet.data(), payload, 65535), 7u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 7), (Bytes{0, 3, 0xFF, 0xFF, 7, 8, 9}));
}

TEST(TftpSession, DuplicateAckZeroAfterDataOneIsDropped) {
    Bytes image = patterned_image(1024);
    std::span<const std::uint8_t> view(image.data(), 1024);
    SessionRig rig(view);
    ASSERT_TRUE(rig.next());
    rig.ack(0);
    auto first = rig.next();
    ASSERT_TRUE(first);
    ASSERT_EQ(first->block(), 1u);
    rig.ack(0);
    // A resend answering the duplicate would come at once; the timer's own resend cannot come
    // before 100 polls of 1 ms.
    EXPECT_FALSE(rig.next(50));
    ASSERT_NO_FATAL_FAILURE(play_to_end(rig, view, 1));
}

TEST(TftpSession, UnansweredOackIsSentThirtyTimesThenFails) {
    Bytes image = patterned_image(1024);
    SessionRig rig(std::span<const std::uint8_t>(image.data(), 1024));
    int oacks = 0;
    while (auto d = rig.next(1000)) {
        EXPECT_EQ(d->bytes, test::expected_oack(1024));
        ++oacks;
    }
    EXPECT_TRUE(rig.done);
    EXPECT_EQ(rig.wait_end(), TransferOutcome::Failed);
    EXPECT_EQ(oacks, 30);
}

// Anything but the ACK of the block in flight from the requester is silence: the packet in
// flight is sent again after the interval, byte for byte, and nothing goes to a stranger.
struct SilenceCase {
    const char* name;
    std::uint32_t in_flight;  // the block it answers; 0: the OACK
    bool from_other_port;
    Bytes bytes;
};
void PrintTo(const SilenceCase& c, std::ostream* os) {
    *os << c.name;
}

class CountsAsSilence : public testing::TestWithParam<SilenceCase> {};

TEST_P(CountsAsSilence, PacketInFlightIsResent) {
    const SilenceCase& c = GetParam();
    // Three blocks, the last one short.
    Bytes image = patterned_image(1100);
    std::span<const std::uint8_t> view(image.data(), 1100);
    SessionRig rig(view);
    UdpPeer stranger(LOOPBACK_DEVICE);
    auto first = rig.next();
    ASSERT_TRUE(first);
    for (std::uint32_t block = 1; block <= c.in_flight; ++block) {
        rig.ack(block - 1);
        first = rig.next_new(block - 1);
        ASSERT_TRUE(first);
        ASSERT_NO_FATAL_FAILURE(expect_block(*first, view, block));
    }
    if (c.from_other_port) {
        stranger.send(LOOPBACK_PC, rig.listener.port, c.bytes);
    } else {
        rig.send(c.bytes);
    }
    auto again = rig.next();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->bytes, first->bytes);
    EXPECT_FALSE(stranger.receive(0));
    ASSERT_NO_FATAL_FAILURE(play_to_end(rig, view, c.in_flight));
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, CountsAsSilence,
    testing::Values(SilenceCase{"ErrorAnsweringOack", 0, false,
                                test::bytes_of({"\0\5\0\1Not found\0", 14})},
                    SilenceCase{"AckZeroFromOtherPort", 0, true, ack_packet(0)},
                    SilenceCase{"AckOneFromOtherPort", 1, true, ack_packet(1)},
                    SilenceCase{"Empty", 1, false, Bytes{}},
                    SilenceCase{"OneByte", 1, false, Bytes{0}},
                    // Read with our DATA 1 header behind it, these two would be ACK 1.
                    SilenceCase{"TwoByteAck", 1, false, Bytes{0, 4}},
                    SilenceCase{"ThreeByteAck", 1, false, Bytes{0, 4, 0}},
                    SilenceCase{"ReadRequest", 1, false, test::rrq_packet("/zoq1.bi1")},
                    // The short last block or its ACK was lost, and the device repeats ACK 2.
                    SilenceCase{"LastBlockAckLost", 3, false, ack_packet(2)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zoq
