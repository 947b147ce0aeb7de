// SPDX-License-Identifier: MIT
// Whole upgrades: the utility's entry routine on the scripted toolkit with the fast clock, the
// simulated device at 192.168.77.20 on its real ports, the PC at 192.168.77.10, on this test's
// own LAN. Each test checks what the user saw, the exit code, and what the device got.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>

#include "common/net.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/e2e/e2e.h"
#include "tests/net/fake_device.h"
#include "tests/support/netns.h"
#include "tests/support/peer.h"

namespace zoq {
namespace {

constexpr std::uint32_t LAN_STRANGER_IP = 0xC0A84D1Eu;  // 192.168.77.30
constexpr const char* LAN_STRANGER = "192.168.77.30";

TEST_F(Upgrade, SucceedsWithoutPassword) {
    start_device({});
    run(upgrade_without_password);
    expect_success_seen();
    EXPECT_EQ(count("open 104"), 0);
    // The PC's LAN address is offered first and chosen, the loopback one after it; every
    // address that went onto the wire is the LAN's, octet by octet.
    expect_in_order({std::string("list 101 1017 add ") + test::LAN_PC,
                     "list 101 1017 add 127.0.0.1", "select 101 1017 0", "end 101 1"});
    EXPECT_EQ(count("list 101 1017 add"), 2) << seen();
    expect_lan_traffic(test::LAN_PC, 69);
}

TEST_F(Upgrade, StrangerAskingForEveryNameFirstGetsNothing) {
    // A second host on the device's side of the link: it asks for all 32,768 names before the
    // device asks for its own, and keeps an HTTP port where credentials could be sent.
    bool added = false;
    ASSERT_TRUE(test::in_device_network(
        [&] { added = test::add_address("zoq-dev:1", LAN_STRANGER_IP, 24); }));
    ASSERT_TRUE(added);
    start_device({"--stranger", LAN_STRANGER, "--auth", "qop", "--password", "s3cret"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        answer_password(ui, "s3cret");
        confirm_and_close_success(ui);
    });
    expect_success_seen();
    expect_lan_traffic(test::LAN_PC, 69);
    const std::string stranger = std::string("stranger ") + LAN_STRANGER + ": ";
    EXPECT_TRUE(sim_.wait_for(stranger + "asked 192.168.77.10:69 for 32768 names", 100))
        << sim_.output();
    EXPECT_TRUE(sim_.wait_for(stranger + "got 0 datagrams", 100)) << sim_.output();
    EXPECT_FALSE(sim_.wait_for(stranger + "http", 10)) << sim_.output();
}

// Other devices' TFTP clients in the device's place: busybox asks for tsize and gets the OACK,
// tftp-hpa's asks for no option and gets DATA 1 at once.
struct ClientCase {
    const char* label;
    const char* program;
    const char* client;
};
void PrintTo(const ClientCase& c, std::ostream* os) {
    *os << c.label;
}

class ThirdPartyClient : public test::E2eRun, public testing::WithParamInterface<ClientCase> {};

TEST_P(ThirdPartyClient, FetchesTheImageByteForByte) {
    ZOQ_REQUIRE_PEER(GetParam().program);
    start_device({"--tftp-client", GetParam().client});
    run(upgrade_without_password);
    expect_success_seen();
    const std::string client = GetParam().client;
    EXPECT_TRUE(sim_.wait_for("tftp: " + client + " exit 0, 981328 bytes", 100)) << sim_.output();
}

INSTANTIATE_TEST_SUITE_P(Clients, ThirdPartyClient,
                         testing::Values(ClientCase{"Busybox", "/usr/bin/busybox", "busybox"},
                                         ClientCase{"TftpHpa", "/usr/bin/tftp", "tftp-hpa"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(Upgrade, SucceedsWithPasswordAskedOnceAcrossTheRestart) {
    // The device changes its nonce on restart: the status read after it repeats silently.
    start_device({"--auth", "qop", "--password", "s3cret"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        answer_password(ui, "s3cret");
        confirm_and_close_success(ui);
    });
    expect_success_seen();
    EXPECT_EQ(count("open 104"), 1) << seen();
    EXPECT_TRUE(saw("text 104 1003 admin"));
}

TEST_F(Upgrade, WrongPasswordIsAskedAgain) {
    start_device({"--auth", "md5-sess", "--password", "right"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_PASSWORD, {A::type(IDC_PASSWORD, "wrong"), A::press(ID_OK)});
        answer_password(ui, "right");
        confirm_and_close_success(ui);
    });
    expect_success_seen();
    EXPECT_EQ(count("open 104"), 2) << seen();
}

TEST_F(Upgrade, InvalidAddressThenValid) {
    start_device({"--auth", "noqop"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, "300.1.1.1"), A::press(ID_OK),
                                 A::type(IDC_IP_ADDRESS, test::LAN_DEVICE), A::press(ID_OK)});
        answer_password(ui, "admin");
        confirm_and_close_success(ui);
    });
    EXPECT_EQ(count("message Error|Invalid IP Address"), 1);
    expect_device_got_the_image();
}

TEST_F(Upgrade, CancelAtTheNoticeEndsSilently) {
    start_device({});
    run([](ScriptedToolkit& ui) { ui.on_open(IDD_NOTICE, {A::press(ID_CANCEL)}); });
    EXPECT_TRUE(saw("returned 0"));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(count("open 101"), 0);
}

TEST_F(Upgrade, CancelAtTheAddressEndsSilently) {
    start_device({});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, test::LAN_DEVICE), A::press(ID_CANCEL)});
    });
    EXPECT_TRUE(saw("returned 0"));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(count("open 105"), 0);
}

TEST_F(Upgrade, CancelAtThePasswordAborts) {
    start_device({"--auth", "qop"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_PASSWORD, {A::press(ID_CANCEL)});
    });
    expect_only_error("Upgrade Failed: User Abort");
    EXPECT_EQ(count("returned"), 0);
    EXPECT_EQ(count("open 103"), 0);
}

TEST_F(Upgrade, CancelWhileConnectingAborts) {
    start_device({"--no-reply"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_PROGRESS, {A::wait_pumps(50), A::press(ID_CANCEL)});
    });
    expect_only_error("Upgrade Failed: User Abort");
    EXPECT_EQ(count("returned"), 0);
}

TEST_F(Upgrade, CancelAtTheConfirmationAborts) {
    start_device({});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_CONFIRM, {A::press(ID_CANCEL)});
    });
    expect_only_error("Upgrade Failed: User Abort");
    EXPECT_TRUE(saw("returned 0"));
    EXPECT_EQ(count("open 114"), 0) << "no TFTP port is opened";
    EXPECT_FALSE(sim_.wait_for("upgrade request", 200));
}

TEST_F(Upgrade, CancelWhileWaitingForTheDevice) {
    // A device that answers both requests but never asks for the file, so that the waiting
    // dialog is certain to be up when Cancel is pressed. It runs inside the child (the test
    // process must have no thread when it forks), in the device's network.
    run([](ScriptedToolkit& ui) {
        test::in_device_network([] {
            new test::FakeDevice(
                [](int, const std::string&) {
                    return test::Reply{test::Reply::Close, test::page_answer(), {}};
                },
                test::LAN_DEVICE_IP);
        });
        reach_the_upgrade(ui);
        ui.on_open(IDD_WAITING, {A::wait_ms(300), A::press(ID_CANCEL)});
    });
    expect_only_error("Upgrade Failed: User Abort");
    expect_in_order({"open 114", "command 114 2", "destroy 114"});
    EXPECT_EQ(count("open 110"), 0);
}

TEST_F(Upgrade, CancelWhileUploading) {
    start_device({"--stop-ack-at", "50"});
    run([](ScriptedToolkit& ui) {
        reach_the_upgrade(ui);
        ui.on_open(IDD_UPLOADING, {A::wait_pumps(20), A::press(ID_CANCEL)});
    });
    expect_only_error("Upgrade Failed: User Abort");
    expect_in_order({"open 110", "command 110 2", "destroy 110"});
}

TEST_F(Upgrade, NoAnswerToTheStatusRead) {
    start_device({"--no-answer"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
    });
    expect_only_error("Upgrade Failed: No Response From ZOQ");
    EXPECT_TRUE(saw("returned 0"));
    EXPECT_EQ(count("open 103"), 0);
}

TEST_F(Upgrade, TakenPortsMoveUp) {
    // Another program holds TFTP port 69 and HTTP port 23456 on the PC's address.
    Socket udp(::socket(AF_INET, SOCK_DGRAM, 0));
    Socket tcp(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    fill_sockaddr(test::LAN_PC_IP, 69, addr);
    ASSERT_EQ(::bind(udp.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    fill_sockaddr(test::LAN_PC_IP, 23456, addr);
    ASSERT_EQ(::bind(tcp.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    start_device({});
    run(upgrade_without_password);
    expect_success_seen();
    EXPECT_TRUE(sim_.wait_for("tftp server 192.168.77.10:70 file /zoq", 100)) << sim_.output();
    EXPECT_TRUE(sim_.wait_for("from 192.168.77.10:23457", 100)) << sim_.output();
}

TEST_F(Upgrade, DeviceStopsAcknowledging) {
    start_device({"--stop-ack-at", "700"});
    run([](ScriptedToolkit& ui) { reach_the_upgrade(ui); });
    // The full restart wait runs, under the updating title, before the failure is told.
    expect_in_order({"open 110", "caption 110 Updating Target Firmware to " + AT_DEVICE,
                     "destroy 110",
                     std::string(ERROR_BOX) + "Upgrade Failed: Firmware Upload Incomplete"});
    EXPECT_EQ(messages().size(), 1u);
    EXPECT_EQ(count("open 111"), 0);
}

TEST_F(Upgrade, WrongVersionAfterTheRestart) {
    start_device({"--wrong-version-after", "5.2.13(004)-beta"});
    run([](ScriptedToolkit& ui) { reach_the_upgrade(ui); });
    expect_only_error("Upgrade Failed: Version not matching");
    EXPECT_EQ(count("open 111"), 0);
    expect_device_got_the_image();
}

TEST_F(Upgrade, DeviceNeverComesBack) {
    start_device({"--never-return", "--restart-mode", "refuse"});
    run([](ScriptedToolkit& ui) { reach_the_upgrade(ui); });
    // Ending silently after a transfer would leave the user not knowing the device's state.
    expect_only_error("Upgrade Failed: No Response From ZOQ");
    EXPECT_EQ(count("open 105"), 2 + 10) << "status, upgrade request, ten reads after";
}

TEST_F(Upgrade, UpgradeRequestThatNeverClosesDoesNotStopTheRun) {
    start_device({"--never-close-upgrade", "--auth", "qop"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        answer_password(ui, "admin");
        confirm_and_close_success(ui);
    });
    expect_success_seen();
}

}  // namespace
}  // namespace zoq
