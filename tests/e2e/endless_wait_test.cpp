// SPDX-License-Identifier: MIT
// Every wait of the utility that has no limit of its own ends when the user presses Cancel:
// a connect that the device never completes, an answer that never ends, a password asked for
// again and again, a read request that never arrives (with or without the upgrade request
// still open), and the same waits in the status read after the device's restart. Each ends with
// "Upgrade Failed: User Abort" and exit code 0.
#include <sys/socket.h>

#include "common/net.h"
#include "tests/e2e/sim_run.h"

namespace zoq::test {
namespace {

using EndlessWait = SimRun;

constexpr const char* USER_ABORT = "Upgrade Failed: User Abort";

TEST_F(EndlessWait, ConnectThatNeverCompletes) {
    run([](ScriptedToolkit& ui) {
        // A device whose queue of connections is full drops every further SYN: the connect
        // call blocks for minutes. Built inside the child, which the test process must not
        // share threads with, in the device's network; the sockets end with the child.
        in_device_network([] {
            Socket* device = new Socket(::socket(AF_INET, SOCK_STREAM, 0));
            sockaddr_in addr{};
            fill_sockaddr(LAN_DEVICE_IP, 80, addr);
            if (::bind(device->fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
                ::listen(device->fd(), 0) != 0) {
                ::_exit(3);
            }
            for (int i = 0; i < 2; ++i) {
                auto* filler = new Socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
                ::connect(filler->fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            }
        });
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_PROGRESS, {A::wait_ms(1000), A::press(ID_CANCEL)});
    });
    expect_only_error(USER_ABORT);
    EXPECT_EQ(count("returned"), 0);
}

TEST_F(EndlessWait, AnswerThatNeverEnds) {
    // One byte every ten seconds: the status line alone would take minutes.
    start_device({"--slow-http-ms", "10000"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_PROGRESS, {A::wait_ms(500), A::press(ID_CANCEL)});
    });
    expect_only_error(USER_ABORT);
    EXPECT_TRUE(sim_.wait_for("http: GET /admin/advanced", 1000)) << sim_.output();
}

TEST_F(EndlessWait, PasswordRefusedAgainAndAgain) {
    start_device({"--auth", "qop", "--password", "right"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        for (int i = 0; i < 4; ++i) {
            ui.on_open(IDD_PASSWORD, {A::type(IDC_PASSWORD, "wrong"), A::press(ID_OK)});
        }
        ui.on_open(IDD_PASSWORD, {A::press(ID_CANCEL)});
    });
    expect_only_error(USER_ABORT);
    EXPECT_EQ(count("open 104"), 5) << seen();
    EXPECT_EQ(count("open 103"), 0);
}

TEST_F(EndlessWait, ReadRequestLostOnTheWay) {
    // Every datagram from the device is lost: the listener waits for a read request that
    // never comes.
    start_device({"--drop", "100", "--net-direction", "from-device", "--net-protocol", "tftp",
                  "--tftp-retries", "0"});
    run([](ScriptedToolkit& ui) {
        reach_the_upgrade(ui);
        ui.on_open(IDD_WAITING, {A::wait_ms(1500), A::press(ID_CANCEL)});
    });
    expect_only_error(USER_ABORT);
    expect_in_order({"open 114", "command 114 2", "destroy 114"});
    EXPECT_EQ(count("open 110"), 0);
    EXPECT_TRUE(sim_.wait_for("tftp: RRQ sent", 1000)) << sim_.output();
}

TEST_F(EndlessWait, UpgradeRequestThatNeverEndsWhileNoReadRequestComes) {
    // The device keeps the upgrade request's connection open and its read request is lost:
    // the main thread's request and the listener both wait; Cancel in the request's dialog
    // ends the run.
    start_device({"--never-close-upgrade", "--drop", "100", "--net-direction", "from-device",
                  "--net-protocol", "tftp", "--tftp-retries", "0"});
    run([](ScriptedToolkit& ui) {
        reach_the_upgrade(ui);
        ui.on_open(IDD_PROGRESS, {});  // the status read
        ui.on_open(IDD_PROGRESS, {A::wait_ms(1000), A::press(ID_CANCEL)});
    });
    expect_only_error(USER_ABORT);
    expect_in_order({"open 114", "command 105 2", "destroy 105"});
    EXPECT_EQ(count("open 110"), 0);
    EXPECT_TRUE(sim_.wait_for("keeping the upgrade request's connection open", 1000))
        << sim_.output();
}

TEST_F(EndlessWait, StatusReadAfterTheRestartThatIsNeverAnswered) {
    // After the upgrade the device takes connections into its queue but never serves them.
    start_device({"--never-return", "--restart-mode", "hold"});
    run([](ScriptedToolkit& ui) {
        reach_the_upgrade(ui);
        ui.on_open(IDD_PROGRESS, {});  // the status read
        ui.on_open(IDD_PROGRESS, {});  // the upgrade request
        ui.on_open(IDD_PROGRESS, {A::wait_ms(1000), A::press(ID_CANCEL)});
    });
    expect_only_error(USER_ABORT);
    expect_in_order({"destroy 110", "open 105", "command 105 2", "destroy 105"});
    EXPECT_EQ(count("open 105"), 3) << seen();
    expect_device_got_the_image();
}

TEST_F(EndlessWait, PasswordAskedAgainAfterTheRestart) {
    // The device comes back with another password: the stored one is refused, the prompt is
    // shown, and the user gives up there.
    start_device({"--auth", "qop", "--password", "admin", "--password-after", "changed"});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_PASSWORD, {A::type(IDC_PASSWORD, "admin"), A::press(ID_OK)});
        ui.on_open(IDD_CONFIRM, {A::press(ID_OK)});
        ui.on_open(IDD_PASSWORD, {A::press(ID_CANCEL)});
    });
    expect_only_error(USER_ABORT);
    expect_in_order({"destroy 110", "open 104", "end 104 0"});
    EXPECT_EQ(count("open 104"), 2) << seen();
    EXPECT_EQ(count("open 111"), 0);
}

}  // namespace
}  // namespace zoq::test
