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

const std::string UPDATING = "Updating Target Firmware to " + AT_DEVICE;

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

// The PC as a laptop has it: a second address on its LAN link, a second network interface, one
// that is down, and loopback, which the system lists first. The dialog offers the up, non-loopback
// addresses in the system's order and loopback last; the user picks the second. Port 69 and the
// first HTTP port are taken on the first address only, so a server or a connection on it (or on
// every address) would have to move up, and show it.
TEST_F(Upgrade, SecondPcAddressIsUsedThroughout) {
    ASSERT_TRUE(test::add_address("zoq-lan:1", 0xC0A84D0Bu, 24));  // 192.168.77.11
    ASSERT_TRUE(test::add_veth_pair("zoq-wifi", "zoq-off"));
    ASSERT_TRUE(test::add_address("zoq-wifi", 0xAC141E28u, 24));  // 172.20.30.40
    ASSERT_TRUE(test::set_link_up("zoq-wifi"));
    ASSERT_TRUE(test::add_address("zoq-off", 0x0A090807u, 24));  // 10.9.8.7, never up
    Socket udp(::socket(AF_INET, SOCK_DGRAM, 0));
    Socket tcp(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    fill_sockaddr(test::LAN_PC_IP, 69, addr);
    ASSERT_EQ(::bind(udp.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    fill_sockaddr(test::LAN_PC_IP, HTTP_LOCAL_PORT, addr);
    ASSERT_EQ(::bind(tcp.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    start_device({});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, test::LAN_DEVICE),
                                 A::select(IDC_LOCAL_IPS, 1), A::press(ID_OK)});
        confirm_and_close_success(ui);
    });
    expect_in_order({"list 101 1017 add 192.168.77.10", "list 101 1017 add 192.168.77.11",
                     "list 101 1017 add 172.20.30.40", "list 101 1017 add 127.0.0.1"});
    EXPECT_EQ(count("list 101 1017 add"), 4) << seen();
    expect_success_seen();
    // The link names the second address and port 69; every request comes from it.
    expect_lan_traffic("192.168.77.11", 69);
    EXPECT_EQ(sim_.output().find("from 192.168.77.10:"), std::string::npos) << sim_.output();
}

}  // namespace
}  // namespace zoq
