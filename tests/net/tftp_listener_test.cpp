// SPDX-License-Identifier: MIT
// The listener on loopback: the port search, the waiting loop's dispatch of read requests and
// other packets, and the hand-over to the session on the same socket.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "app/firmware.h"
#include "app/trigger.h"
#include "common/clock.h"
#include "common/text.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/net/tftp_peer.h"
#include "tests/support/child.h"
#include "tests/support/sockets.h"
#include "tftp/listener.h"

namespace zoq {
namespace {

using test::Bytes;
using test::LOOPBACK_DEVICE;
using test::LOOPBACK_PC;
using test::UdpPeer;

constexpr const char* FILE_NAME = "/zoq1a2b.bi1";

struct ListenerRig {
    ScriptedToolkit ui;
    TransferDialogs dialogs{ui, "127.0.0.2"};
    Bytes image;
    TftpListener listener;
    UdpPeer device{LOOPBACK_DEVICE};
    std::thread thread;
    std::atomic<bool> done{false};
    TransferOutcome outcome = TransferOutcome::Failed;

    ListenerRig() : image(1024) {
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<std::uint8_t>(i % 251);
        ui.record_progress(true);
        EXPECT_EQ(tftp_listener_bind(listener, LOOPBACK_PC), ListenerBind::Bound);
        thread = std::thread([this] {
            outcome = tftp_listener_serve(listener, {FILE_NAME, LOOPBACK_DEVICE, image}, dialogs);
            done = true;
        });
        EXPECT_TRUE(ui.wait_open(IDD_WAITING, 5000));
    }
    ~ListenerRig() {
        if (thread.joinable()) thread.join();
    }
    void send(const Bytes& bytes) const { device.send(LOOPBACK_PC, listener.port, bytes); }

    // Takes the OACK (only when the request carried options: else DATA 1 comes first), then
    // acknowledges the three blocks of the 1024-byte image; the listener then returns with the
    // uploading dialog still open.
    void take_whole_image(bool oack_first = false) {
        if (oack_first) {
            auto oack = device.receive(3000);
            ASSERT_TRUE(oack);
            EXPECT_EQ(oack->bytes, test::expected_oack(1024));
            EXPECT_EQ(oack->port, listener.port);
            device.send(LOOPBACK_PC, listener.port, test::ack_packet(0));
        }
        Bytes received;
        for (unsigned block = 1; block <= 3; ++block) {
            auto d = device.receive(3000);
            while (d && d->opcode() == 3 && d->block() == block - 1) d = device.receive(3000);
            ASSERT_TRUE(d);
            ASSERT_EQ(d->opcode(), 3u) << "block " << block;
            EXPECT_EQ(d->port, listener.port);
            ASSERT_EQ(d->block(), block);
            received.insert(received.end(), d->bytes.begin() + 4, d->bytes.end());
            device.send(LOOPBACK_PC, listener.port, test::ack_packet(block));
        }
        EXPECT_EQ(received, image);
        thread.join();
        EXPECT_TRUE(done);
        EXPECT_EQ(outcome, TransferOutcome::Complete);
        EXPECT_TRUE(ui.is_open(IDD_UPLOADING));
    }
};

struct RequestCase {
    const char* name;
    std::vector<std::string> tail;  // mode and options after the file name
    bool oack;                      // answered with the OACK (else with DATA 1 at once)
};
void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << c.name;
}

class MatchingRequest : public testing::TestWithParam<RequestCase> {};

// Every mode gets the raw bytes; only a request with options gets the OACK (RFC 2347).
TEST_P(MatchingRequest, IsServedRawWithOackOnlyForOptions) {
    ListenerRig rig;
    rig.send(test::rrq_packet(FILE_NAME, GetParam().tail));
    ASSERT_NO_FATAL_FAILURE(rig.take_whole_image(GetParam().oack));
    // The waiting dialog goes before the uploading dialog comes.
    auto records = rig.ui.records();
    auto waiting_gone = std::find(records.begin(), records.end(), "destroy 114");
    auto uploading = std::find(records.begin(), records.end(), "open 110");
    EXPECT_NE(waiting_gone, records.end());
    EXPECT_LT(waiting_gone, uploading);
    EXPECT_NE(std::find(records.begin(), records.end(), "range 110 1010 0 3"), records.end());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, MatchingRequest,
    testing::Values(
        RequestCase{
            "OctetWithOptions", {"octet", "tsize", "0", "blksize", "512", "timeout", "6"}, true},
        RequestCase{"OnlyAnOptionWeDoNotTake", {"octet", "blksize", "1428"}, true},
        RequestCase{"NetasciiWithTsize", {"netascii", "tsize", "0"}, true},
        RequestCase{"Netascii", {"netascii"}, false}, RequestCase{"NoOptions", {"octet"}, false},
        RequestCase{"PaddedWithNuls", {"octet", "", ""}, false}, RequestCase{"NoMode", {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TftpListener, OtherPacketsAreDroppedAndTheWaitingGoesOn) {
    ListenerRig rig;
    const std::vector<Bytes> ignored = {
        test::rrq_packet("/zoq1a2c.bi1"),
        test::rrq_packet("/ZOQ1A2B.BI1"),
        test::rrq_packet("/zoq1a2b.bi"),
        test::rrq_packet("/zoq1a2b.bi1x"),
        test::rrq_packet("zoq1a2b.bi1"),           // the leading slash is part of the name
        test::bytes_of({"\0\1/zoq1a2b.bi1", 14}),  // not terminated within the datagram
        Bytes{0, 2, '/', 'z', 0, 'o', 'c', 't', 'e', 't', 0},
        Bytes{0, 3, 0, 1, 'x'},
        test::ack_packet(0),
        Bytes{0, 5, 0, 1, 'e', 0},
        Bytes{0, 6},
        Bytes{0, 99, 1, 2},
        Bytes{},
        Bytes{0},
        Bytes{0, 1},
        Bytes{0, 1, '/'},
    };
    for (const Bytes& b : ignored) rig.send(b);
    EXPECT_FALSE(rig.device.receive(300));
    EXPECT_TRUE(rig.ui.is_open(IDD_WAITING));
    EXPECT_FALSE(rig.done);
    // The same socket still takes the right request.
    rig.send(test::rrq_packet(FILE_NAME));
    ASSERT_NO_FATAL_FAILURE(rig.take_whole_image());
}

// Only the device's address is served, whatever another host asks for. (Under Wine every
// loopback peer sends from 127.0.0.2, so a stranger's datagrams on the wire are left to the
// whole upgrades on the LAN.)
TEST(TftpListener, ReadRequestFromAnotherAddressIsAStrangers) {
    constexpr std::uint32_t STRANGER = 0x7F000003;
    struct Case {
        Bytes bytes;
        std::uint32_t sender;
        ListenerInput expected;
    };
    const Case cases[] = {
        {test::rrq_packet(FILE_NAME), LOOPBACK_DEVICE, ListenerInput::Serve},
        {test::rrq_packet(FILE_NAME), STRANGER, ListenerInput::Stranger},
        {test::rrq_packet(FILE_NAME, {"octet", "tsize", "0"}), STRANGER, ListenerInput::Stranger},
        {test::rrq_packet(FILE_NAME), LOOPBACK_PC, ListenerInput::Stranger},
        {test::rrq_packet("/zoq1a2c.bi1"), STRANGER, ListenerInput::Stranger},
        {test::bytes_of({"\0\1/zoq1a2b.bi1", 14}), STRANGER, ListenerInput::Stranger},
        {test::ack_packet(0), STRANGER, ListenerInput::Ack},
    };
    for (const Case& c : cases) {
        const ListenerDispatch d =
            classify_listener_datagram(c.bytes, FILE_NAME, c.sender, LOOPBACK_DEVICE);
        EXPECT_EQ(d.input, c.expected) << std::hex << c.sender << " " << c.bytes.size();
        if (c.expected == ListenerInput::Stranger) {
            EXPECT_FALSE(d.options);
        }
    }
}

TEST(TftpListener, WaitingDialogShowsInstructionsAndActivity) {
    ListenerRig rig;
    // Empty polls until the bar has wrapped after 999 (a little over a second).
    auto progress_lines = [&rig] {
        auto r = rig.ui.records();
        return std::count_if(r.begin(), r.end(), [](const std::string& line) {
            return line.rfind("progress 114 1010 ", 0) == 0;
        });
    };
    for (int i = 0; i < 600 && progress_lines() < 1100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    rig.send(test::rrq_packet(FILE_NAME));
    ASSERT_NO_FATAL_FAILURE(rig.take_whole_image());
    auto records = rig.ui.records();
    EXPECT_NE(std::find(records.begin(), records.end(), "range 114 1010 0 1000"), records.end());
    auto text = std::find_if(records.begin(), records.end(), [](const std::string& r) {
        return r.rfind("text 114 1022 ", 0) == 0;
    });
    ASSERT_NE(text, records.end());
    EXPECT_NE(text->find("starting at port number 69.\\r\\n\\r\\nIf firmware"), std::string::npos);
    std::vector<int> positions;
    for (const auto& r : records) {
        if (r.rfind("progress 114 1010 ", 0) == 0) positions.push_back(std::stoi(r.substr(18)));
    }
    ASSERT_GT(positions.size(), 1001u);
    for (std::size_t i = 1; i < positions.size(); ++i) {
        ASSERT_EQ(positions[i], (positions[i - 1] + 1) % 1000) << "step " << i;
    }
}

TEST(TftpListener, TakenPortSixtyNineGivesSeventy) {
    UdpPeer blocker(LOOPBACK_PC, 69);
    ASSERT_TRUE(blocker.bound());
    TftpListener listener;
    ASSERT_EQ(tftp_listener_bind(listener, LOOPBACK_PC), ListenerBind::Bound);
    EXPECT_EQ(listener.port, 70);
    EXPECT_EQ(listener.local_ip, LOOPBACK_PC);
    // Bound on the chosen address itself, not on the wildcard.
    sockaddr_in a{};
    ASSERT_TRUE(test::socket_local_address(listener.socket.fd(), a));
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    read_sockaddr(a, ip, port);
    EXPECT_EQ(ip, LOOPBACK_PC);
    // Another program cannot share the port by asking to reuse it (Windows lets it unless the
    // listener holds the port exclusively).
    Socket rival(open_udp_socket());
    ASSERT_TRUE(test::try_to_share_address(rival.fd()));
    sockaddr_in same{};
    fill_sockaddr(LOOPBACK_PC, 70, same);
    EXPECT_FALSE(bind_socket(rival.fd(), same));
    EXPECT_TRUE(test::holds_port_exclusively(listener.socket.fd()));
}

TEST(TftpListener, StartReturnsTheBoundPortAndShowsTheWaitingDialog) {
    auto result = test::run_in_child([](int fd) {
        UdpPeer blocker(LOOPBACK_PC, 69);
        ScriptedToolkit ui;
        ui.set_record_fd(fd);
        FastClock clock;
        auto* state = new UpgradeState{};
        state->instance = &ui;
        state->clock = &clock;
        load_firmware_image(*state);
        std::uint16_t port = tftp_listener_start(*state, LOOPBACK_PC);
        std::string line = "port " + std::to_string(port) + "\n";
        [[maybe_unused]] auto n = ::write(fd, line.data(), line.size());
        ui.wait_open(IDD_WAITING, 5000);
    });
    EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), "port 70"), result.lines.end());
    EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), "open 114"), result.lines.end());
}

TEST(TftpListener, OnlyPortsSixtyNineToOneSixtyEightAreTried) {
    std::vector<std::unique_ptr<UdpPeer>> blockers;
    for (std::uint16_t port = 69; port <= 168; ++port) {
        blockers.push_back(std::make_unique<UdpPeer>(LOOPBACK_PC, port));
    }
    TftpListener listener;
    EXPECT_EQ(tftp_listener_bind(listener, LOOPBACK_PC), ListenerBind::NoPort);
}

TEST(TftpListener, CancelInTheWaitingDialogEndsTheServing) {
    ScriptedToolkit ui;
    ui.on_open(IDD_WAITING, {ScriptAction::wait_pumps(5), ScriptAction::press(ID_CANCEL)});
    TransferDialogs dialogs(ui, "127.0.0.2");
    TftpListener listener;
    ASSERT_EQ(tftp_listener_bind(listener, LOOPBACK_PC), ListenerBind::Bound);
    EXPECT_EQ(tftp_listener_serve(listener, {FILE_NAME, LOOPBACK_DEVICE, {}}, dialogs),
              TransferOutcome::Cancelled);
    EXPECT_EQ(ui.records().back(), "destroy 114");
}

}  // namespace
}  // namespace zoq
