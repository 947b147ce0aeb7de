// SPDX-License-Identifier: MIT
// What the listener and the session make of one datagram, byte for byte. Each input lives in a
// buffer of exactly its own length, so that a read beyond it shows under the address sanitizer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tftp/listener.h"
#include "tftp/session.h"

namespace zoq {
namespace {

constexpr std::string_view NAME = "/zoq1a2b.bi1";

struct ListenerCase {
    const char* label;
    std::string bytes;
    ListenerInput input;
    std::string requested;
};
void PrintTo(const ListenerCase& c, std::ostream* os) {
    *os << c.label;
}

class ListenerDispatchTable : public testing::TestWithParam<ListenerCase> {};

TEST_P(ListenerDispatchTable, Classifies) {
    const ListenerCase& c = GetParam();
    auto exact = std::make_unique<std::uint8_t[]>(c.bytes.size() + 1);
    std::memcpy(exact.get(), c.bytes.data(), c.bytes.size());
    ListenerDispatch d =
        classify_listener_datagram(exact.get(), static_cast<long>(c.bytes.size()), NAME);
    EXPECT_EQ(d.input, c.input);
    EXPECT_EQ(std::string(d.requested_name), c.requested);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Datagrams, ListenerDispatchTable,
    testing::Values(
        ListenerCase{"Empty", ""s, ListenerInput::Silence, ""},
        ListenerCase{"OneByte", "\1"s, ListenerInput::Silence, ""},
        ListenerCase{"Match", "\0\1/zoq1a2b.bi1\0octet\0"s, ListenerInput::Serve, "/zoq1a2b.bi1"},
        ListenerCase{"MatchNoMode", "\0\1/zoq1a2b.bi1\0"s, ListenerInput::Serve, "/zoq1a2b.bi1"},
        ListenerCase{"OtherCase", "\0\1/zoq1A2b.bi1\0octet\0"s, ListenerInput::BadName,
                     "/zoq1A2b.bi1"},
        ListenerCase{"Prefix", "\0\1/zoq1a2b.bi\0octet\0"s, ListenerInput::BadName, "/zoq1a2b.bi"},
        ListenerCase{"Unterminated", "\0\1/zoq1a2b.bi1"s, ListenerInput::BadName, "/zoq1a2b.bi1"},
        ListenerCase{"OpcodeOnly", "\0\1"s, ListenerInput::BadName, ""},
        ListenerCase{"EmptyName", "\0\1\0octet\0"s, ListenerInput::BadName, ""},
        ListenerCase{"Wrq", "\0\2/zoq1a2b.bi1\0octet\0"s, ListenerInput::Wrq, ""},
        ListenerCase{"Data", "\0\3\0\1"s, ListenerInput::Data, ""},
        ListenerCase{"Ack", "\0\4\0\0"s, ListenerInput::Ack, ""},
        ListenerCase{"Error", "\0\5\0\1x\0"s, ListenerInput::Error, ""},
        ListenerCase{"Oack", "\0\6"s, ListenerInput::Other, ""},
        ListenerCase{"HighOpcode", "\1\1/zoq1a2b.bi1\0"s, ListenerInput::Other, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ListenerDispatch, NothingReceivedIsSilence) {
    std::uint8_t b[2] = {0, 1};
    EXPECT_EQ(classify_listener_datagram(b, -1, NAME).input, ListenerInput::Silence);
}

struct SessionCase {
    const char* label;
    std::string bytes;
    bool from_device;
    SessionInput input;
};
void PrintTo(const SessionCase& c, std::ostream* os) {
    *os << c.label;
}

class SessionReceiveTable : public testing::TestWithParam<SessionCase> {};

TEST_P(SessionReceiveTable, Classifies) {
    const SessionCase& c = GetParam();
    TftpSession s;
    s.device_ip = 0x7F000002;
    s.device_port = 40000;
    s.block = 7;
    // The buffer still holds our DATA 7: a runt must not borrow its block number.
    build_data_block(s.packet.data(), nullptr, 0, 7);
    std::memcpy(s.packet.data(), c.bytes.data(), c.bytes.size());
    EXPECT_EQ(classify_session_datagram(s, static_cast<long>(c.bytes.size()),
                                        c.from_device ? 0x7F000002 : 0x7F000003, 40000),
              c.input);
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, SessionReceiveTable,
    testing::Values(SessionCase{"Empty", ""s, true, SessionInput::Silence},
                    SessionCase{"OneByte", "\0"s, true, SessionInput::Silence},
                    SessionCase{"TwoByteAck", "\0\4"s, true, SessionInput::Silence},
                    SessionCase{"ThreeByteAck", "\0\4\0"s, true, SessionInput::Silence},
                    SessionCase{"AckInFlight", "\0\4\0\7"s, true, SessionInput::AckBlock},
                    SessionCase{"AckWithTrailer", "\0\4\0\7xyz"s, true, SessionInput::AckBlock},
                    SessionCase{"AckPrevious", "\0\4\0\6"s, true, SessionInput::AckOther},
                    SessionCase{"AckNext", "\0\4\0\10"s, true, SessionInput::AckOther},
                    SessionCase{"Error", "\0\5\0\0\0"s, true, SessionInput::Silence},
                    SessionCase{"Stranger", "\0\4\0\7"s, false, SessionInput::Stranger}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SessionReceive, OtherPortOfTheDeviceIsAStranger) {
    TftpSession s;
    s.device_ip = 0x7F000002;
    s.device_port = 40000;
    put_be16(s.packet.data(), TFTP_ACK);
    put_be16(s.packet.data() + 2, 0);
    EXPECT_EQ(classify_session_datagram(s, 4, 0x7F000002, 40001), SessionInput::Stranger);
    EXPECT_EQ(classify_session_datagram(s, -1, 0, 0), SessionInput::Silence);
}

}  // namespace
}  // namespace zoq
