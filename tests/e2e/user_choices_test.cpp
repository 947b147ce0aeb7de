// SPDX-License-Identifier: MIT
// Whole upgrades in which the user's choices matter late: Cancel while the device restarts,
// and a PC address that is not the first one offered.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/net.h"
#include "res/templates.h"
#include "tests/e2e/e2e.h"
#include "tests/support/netns.h"

namespace zoq {
namespace {

constexpr const char* UPDATING = "Updating Target Firmware to ZOQ@127.0.0.2";

TEST_F(Upgrade, CancelDuringTheRestartWait) {
    // The real clock keeps the restart wait at its 35 s, so Cancel lands inside it.
    real_clock_ = true;
    start_device({});
    run([](ScriptedToolkit& ui) {
        reach_the_upgrade(ui);
        // Pressed as soon as the uploading dialog turns into the updating one; the thread ends
        // with the process.
        std::thread([&ui] {
            for (;;) {
                if (ui.caption_of(IDD_UPLOADING) == UPDATING) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    ui.press(IDD_UPLOADING, ID_CANCEL);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }).detach();
    });
    expect_only_error("Upgrade Failed: User Abort");
    expect_in_order({"open 110", std::string("caption 110 ") + UPDATING, "command 110 2",
                     "destroy 110", std::string(ERROR_BOX) + "Upgrade Failed: User Abort"});
    EXPECT_EQ(count("returned"), 0) << "the listener, not the entry routine, ends the run";
    EXPECT_EQ(count("open 105"), 2) << "status read and upgrade request; no read after Cancel";
    EXPECT_EQ(count("open 111"), 0);
    expect_device_got_the_image();
}

// The PC has 127.0.0.1 and 127.0.0.3; the user picks the second. Port 69 and the first HTTP
// port are taken on 127.0.0.1 only, so a server or a connection on the first address (or on
// every address) would have to move up, and show it.
TEST_F(Upgrade, SecondPcAddressIsUsedThroughout) {
    ASSERT_TRUE(test::add_loopback_address(0x7F000003u, "lo:1"));
    Socket udp(::socket(AF_INET, SOCK_DGRAM, 0));
    Socket tcp(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    fill_sockaddr(0x7F000001u, 69, addr);
    ASSERT_EQ(::bind(udp.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    fill_sockaddr(0x7F000001u, HTTP_LOCAL_PORT, addr);
    ASSERT_EQ(::bind(tcp.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    start_device({});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, "127.0.0.2"), A::select(IDC_LOCAL_IPS, 1),
                                 A::press(ID_OK)});
        confirm_and_close_success(ui);
    });
    expect_in_order({"list 101 1017 add 127.0.0.1", "list 101 1017 add 127.0.0.3"});
    expect_success_seen();
    // The link names the second address and port 69; both requests come from it.
    EXPECT_TRUE(sim_.wait_for("tftp server 127.0.0.3:69 file /zoq", 100)) << sim_.output();
    EXPECT_TRUE(sim_.wait_for("from 127.0.0.3:23456", 100)) << sim_.output();
    EXPECT_EQ(sim_.output().find("from 127.0.0.1:"), std::string::npos) << sim_.output();
    EXPECT_EQ(sim_.output().find("unknown host"), std::string::npos) << sim_.output();
}

}  // namespace
}  // namespace zoq
