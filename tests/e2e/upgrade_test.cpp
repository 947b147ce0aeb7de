// SPDX-License-Identifier: MIT
// Whole upgrades: the utility's entry routine on the scripted toolkit with the fast clock, the
// simulated device at 127.0.0.2 on its real ports, the PC at 127.0.0.1, all inside this test's
// private network. Each test checks what the user saw, the exit code, and what the device got.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/firmware.h"
#include "app/workflow.h"
#include "common/clock.h"
#include "common/net.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/net/fake_device.h"
#include "tests/support/child.h"
#include "tests/support/process.h"

namespace zoq {
namespace {

using A = ScriptAction;

constexpr const char* SIM = ZOQ_BINARY_DIR "/tools/zoq-device-sim";
constexpr const char* ERROR_BOX = "message ZOQ Firwmare Upgrade Error|";

class Upgrade : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/zoq-e2e-XXXXXX";
        int fd = ::mkstemp(name);
        ASSERT_GE(fd, 0);
        ::close(fd);
        saved_ = name;
    }
    void TearDown() override {
        sim_.stop();
        ::unlink(saved_.c_str());
    }

    void start_device(std::vector<std::string> options) {
        std::vector<std::string> argv = {SIM,    "--address",        "127.0.0.2", "--save",
                                         saved_, "--restart-ms",     "300",       "--restart-mode",
                                         "hold", "--progress-every", "0"};
        argv.insert(argv.end(), options.begin(), options.end());
        ASSERT_TRUE(sim_.start(argv));
        ASSERT_TRUE(sim_.wait_for("ready http", 10000)) << sim_.output();
    }

    // Runs the utility to its end in a child process, as a person would run the program.
    void run(const std::function<void(ScriptedToolkit&)>& script) {
        result_ = test::run_in_child(
            [&](int fd) {
                // Never freed: the process ends with them, as the real program's do.
                auto* ui = new ScriptedToolkit;
                auto* clock = new FastClock;
                auto* state = new UpgradeState;
                ui->set_record_fd(fd);
                ui->set_unscripted_timeout_ms(20000);
                state->instance = ui;
                state->clock = clock;
                script(*ui);
                int rc = run_upgrade(*state);
                std::string line = "returned " + std::to_string(rc) + "\n";
                [[maybe_unused]] auto n = ::write(fd, line.data(), line.size());
                ::_exit(rc);
            },
            90000);
        ASSERT_TRUE(result_.exited)
            << "signal " << result_.signal << " timed out " << result_.timed_out << "\n"
            << seen() << "device:\n"
            << sim_.output();
        EXPECT_EQ(result_.exit_code, 0) << seen();
    }

    std::string seen() const {
        std::string all;
        for (const auto& l : result_.lines) all += "  " + l + "\n";
        return all;
    }
    bool saw(const std::string& line) const {
        return std::find(result_.lines.begin(), result_.lines.end(), line) != result_.lines.end();
    }
    int count(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(result_.lines.begin(), result_.lines.end(),
                          [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
    // The lines appear in this order (others may stand between them).
    void expect_in_order(const std::vector<std::string>& wanted) const {
        auto at = result_.lines.begin();
        for (const auto& w : wanted) {
            at = std::find(at, result_.lines.end(), w);
            ASSERT_NE(at, result_.lines.end()) << "missing or out of order: " << w << "\n"
                                               << seen();
            ++at;
        }
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& l : result_.lines) {
            if (l.rfind("message ", 0) == 0) out.push_back(l);
        }
        return out;
    }
    // Exactly one message box: the failure, with the program's error caption.
    void expect_only_error(const char* text) const {
        EXPECT_EQ(messages(), std::vector<std::string>{std::string(ERROR_BOX) + text}) << seen();
    }
    void expect_device_got_the_image() {
        ASSERT_TRUE(sim_.wait_for("upgrade result: ok", 5000)) << sim_.output();
        std::ifstream f(saved_, std::ios::binary);
        std::vector<std::uint8_t> got((std::istreambuf_iterator<char>(f)),
                                      std::istreambuf_iterator<char>());
        auto image = embedded_image();
        ASSERT_EQ(got.size(), image.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), image.begin()));
    }

    static void continue_notice(ScriptedToolkit& ui) { ui.on_open(IDD_NOTICE, {A::press(IDOK)}); }
    static void enter_device(ScriptedToolkit& ui) {
        ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, "127.0.0.2"), A::press(IDOK)});
    }
    static void reach_the_upgrade(ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_CONFIRM, {A::press(IDOK)});
    }
    static void confirm_and_close_success(ScriptedToolkit& ui) {
        ui.on_open(IDD_CONFIRM, {A::press(IDOK)});
        ui.on_open(IDD_SUCCESS, {A::press(IDOK)});
    }
    // What a person does when the device asks for no password and all goes well.
    static void upgrade_without_password(ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        confirm_and_close_success(ui);
    }
    static void answer_password(ScriptedToolkit& ui, const char* password) {
        ui.on_open(IDD_PASSWORD, {A::type(IDC_PASSWORD, password), A::press(IDOK)});
    }

    void expect_success_seen() {
        expect_in_order(
            {"open 139",
             "caption 139 ZOQ-4502 Firmware Upgrade",
             "end 139 1",
             "open 101",
             "end 101 1",
             "open 105",
             "caption 105 Connecting with ZOQ@127.0.0.2",
             "destroy 105",
             "open 103",
             "caption 103 Confirm Upgrade to Ver. 5.2.13(004)",
             "text 103 1004 5.2.10(001)",
             "end 103 1",
             "open 114",
             "destroy 114",
             "open 110",
             "caption 110 Uploading Target Firmware to ZOQ@127.0.0.2 0/981328 Bytes",
             "caption 110 Uploading Target Firmware to ZOQ@127.0.0.2 981328/981328 Bytes",
             "caption 110 Updating Target Firmware to ZOQ@127.0.0.2",
             "destroy 110",
             "open 111",
             "caption 111 ZOQ@127.0.0.2 Upgrade Successful!",
             "text 111 1004 5.2.13(004)",
             "end 111 1"});
        EXPECT_TRUE(messages().empty()) << seen();
        EXPECT_EQ(count("returned"), 0) << "the listener, not the entry routine, ends a run";
        EXPECT_EQ(count("unscripted"), 0) << seen();
        expect_device_got_the_image();
    }

    test::Process sim_;
    test::ChildResult result_;
    std::string saved_;
};

TEST_F(Upgrade, SucceedsWithoutPassword) {
    start_device({});
    run(upgrade_without_password);
    expect_success_seen();
    EXPECT_EQ(count("open 104"), 0);
}

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
        ui.on_open(IDD_PASSWORD, {A::type(IDC_PASSWORD, "wrong"), A::press(IDOK)});
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
        ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, "300.1.1.1"), A::press(IDOK),
                                 A::type(IDC_IP_ADDRESS, "127.0.0.2"), A::press(IDOK)});
        answer_password(ui, "admin");
        confirm_and_close_success(ui);
    });
    EXPECT_EQ(count("message Error|Invalid IP Address"), 1);
    expect_device_got_the_image();
}

TEST_F(Upgrade, CancelAtTheNoticeEndsSilently) {
    start_device({});
    run([](ScriptedToolkit& ui) { ui.on_open(IDD_NOTICE, {A::press(IDCANCEL)}); });
    EXPECT_TRUE(saw("returned 0"));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(count("open 101"), 0);
}

TEST_F(Upgrade, CancelAtTheAddressEndsSilently) {
    start_device({});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, "127.0.0.2"), A::press(IDCANCEL)});
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
        ui.on_open(IDD_PASSWORD, {A::press(IDCANCEL)});
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
        ui.on_open(IDD_PROGRESS, {A::wait_pumps(50), A::press(IDCANCEL)});
    });
    expect_only_error("Upgrade Failed: User Abort");
    EXPECT_EQ(count("returned"), 0);
}

TEST_F(Upgrade, CancelAtTheConfirmationAborts) {
    start_device({});
    run([](ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_CONFIRM, {A::press(IDCANCEL)});
    });
    expect_only_error("Upgrade Failed: User Abort");
    EXPECT_TRUE(saw("returned 0"));
    EXPECT_EQ(count("open 114"), 0) << "no TFTP port is opened";
    EXPECT_FALSE(sim_.wait_for("upgrade request", 200));
}

TEST_F(Upgrade, CancelWhileWaitingForTheDevice) {
    // A device that answers both requests but never asks for the file, so that the waiting
    // dialog is certain to be up when Cancel is pressed. It runs inside the child: the test
    // process must have no thread when it forks.
    run([](ScriptedToolkit& ui) {
        new test::FakeDevice([](int, const std::string&) {
            return test::Reply{test::Reply::Close, test::page_answer(), {}};
        });
        reach_the_upgrade(ui);
        ui.on_open(IDD_WAITING, {A::wait_ms(300), A::press(IDCANCEL)});
    });
    expect_only_error("Upgrade Failed: User Abort");
    expect_in_order({"open 114", "command 114 2", "destroy 114"});
    EXPECT_EQ(count("open 110"), 0);
}

TEST_F(Upgrade, CancelWhileUploading) {
    start_device({"--stop-ack-at", "50"});
    run([](ScriptedToolkit& ui) {
        reach_the_upgrade(ui);
        ui.on_open(IDD_UPLOADING, {A::wait_pumps(20), A::press(IDCANCEL)});
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
    fill_sockaddr(0x7F000001u, 69, addr);
    ASSERT_EQ(::bind(udp.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    fill_sockaddr(0x7F000001u, 23456, addr);
    ASSERT_EQ(::bind(tcp.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    start_device({});
    run(upgrade_without_password);
    expect_success_seen();
    EXPECT_TRUE(sim_.wait_for("tftp server 127.0.0.1:70 file /zoq", 100)) << sim_.output();
    EXPECT_TRUE(sim_.wait_for("from 127.0.0.1:23457", 100)) << sim_.output();
}

TEST_F(Upgrade, DeviceStopsAcknowledging) {
    start_device({"--stop-ack-at", "700"});
    run([](ScriptedToolkit& ui) { reach_the_upgrade(ui); });
    // The full restart wait runs, under the updating title, before the failure is told.
    expect_in_order({"open 110", "caption 110 Updating Target Firmware to ZOQ@127.0.0.2",
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
