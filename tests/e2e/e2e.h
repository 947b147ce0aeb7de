// SPDX-License-Identifier: MIT
// What every whole-upgrade test shares: the LAN (the PC at 192.168.77.10 here, the simulated
// device at 192.168.77.20 with its real ports in a network of its own, lan_main.cpp), the
// utility's entry routine in a child process on the scripted toolkit with the fast clock,
// and the checks of what the user saw and what the device got. `Upgrade` is the fixture of the
// tests on a good network; `test::SimRun` (sim_run.h) adds what the bad-network tests read from
// the device.
#pragma once

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
#include "os/image.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/net/fake_device.h"
#include "tests/support/child.h"
#include "tests/support/netns.h"
#include "tests/support/process.h"

namespace zoq {

inline constexpr const char* SIM = ZOQ_BINARY_DIR "/tools/zoq-device-sim";
inline constexpr const char* ERROR_BOX = "message ZOQ Firwmare Upgrade Error|";
// The device as the dialogs name it.
inline const std::string AT_DEVICE = std::string("ZOQ@") + test::LAN_DEVICE;

namespace test {

class E2eRun : public testing::Test {
  public:
    using A = ScriptAction;

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

    void start_device(const std::vector<std::string>& options) {
        std::vector<std::string> argv = {SIM,    "--address",        LAN_DEVICE, "--save",
                                         saved_, "--restart-ms",     "300",      "--restart-mode",
                                         "hold", "--progress-every", "0"};
        argv.insert(argv.end(), options.begin(), options.end());
        bool started = false;
        ASSERT_TRUE(in_device_network([&] { started = sim_.start(argv); }));
        ASSERT_TRUE(started);
        ASSERT_TRUE(sim_.wait_for("ready http", 10000)) << sim_.output();
    }

    // Runs the utility from its entry to the end of its process, as a person would run the
    // program; `limit_ms` only guards against a hang (a loaded machine may be slow).
    void run(const std::function<void(ScriptedToolkit&)>& script, int limit_ms = 120000) {
        result_ = run_in_child(
            [&](int fd) {
                // Never freed: the process ends with them, as the real program's do.
                auto* ui = new ScriptedToolkit;
                Clock* clock = real_clock_ ? static_cast<Clock*>(new RealClock)
                                           : static_cast<Clock*>(new FastClock);
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
            limit_ms);
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
        EXPECT_EQ(messages(), std::vector<std::string>{std::string(ERROR_BOX) + text})
            << seen() << "device:\n"
            << sim_.output();
    }
    // The device's own verdict and the bytes it saved, compared with the image here.
    void expect_device_got_the_image() {
        ASSERT_TRUE(sim_.wait_for("upgrade result: ok", 5000)) << sim_.output();
        std::ifstream f(saved_, std::ios::binary);
        std::vector<std::uint8_t> got((std::istreambuf_iterator<char>(f)),
                                      std::istreambuf_iterator<char>());
        auto image = embedded_image();
        ASSERT_EQ(got.size(), image.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), image.begin()));
    }

    static void continue_notice(ScriptedToolkit& ui) { ui.on_open(IDD_NOTICE, {A::press(ID_OK)}); }
    static void enter_device(ScriptedToolkit& ui) {
        ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, LAN_DEVICE), A::press(ID_OK)});
    }
    static void reach_the_upgrade(ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        ui.on_open(IDD_CONFIRM, {A::press(ID_OK)});
    }
    static void confirm_and_close_success(ScriptedToolkit& ui) {
        ui.on_open(IDD_CONFIRM, {A::press(ID_OK)});
        ui.on_open(IDD_SUCCESS, {A::press(ID_OK)});
    }
    // What a person does when the device asks for no password and all goes well.
    static void upgrade_without_password(ScriptedToolkit& ui) {
        continue_notice(ui);
        enter_device(ui);
        confirm_and_close_success(ui);
    }
    static void answer_password(ScriptedToolkit& ui, const char* password) {
        ui.on_open(IDD_PASSWORD, {A::type(IDC_PASSWORD, password), A::press(ID_OK)});
    }

    void expect_success_seen() {
        expect_in_order(
            {"open 139",
             "caption 139 ZOQ-4502 Firmware Upgrade",
             "end 139 1",
             "open 101",
             "end 101 1",
             "open 105",
             "caption 105 Connecting with " + AT_DEVICE,
             "destroy 105",
             "open 103",
             "caption 103 Confirm Upgrade to Ver. 5.2.13(004)",
             "text 103 1004 5.2.10(001)",
             "end 103 1",
             "open 114",
             "destroy 114",
             "open 110",
             "caption 110 Uploading Target Firmware to " + AT_DEVICE + " 0/981328 Bytes",
             "caption 110 Uploading Target Firmware to " + AT_DEVICE + " 981328/981328 Bytes",
             "caption 110 Updating Target Firmware to " + AT_DEVICE,
             "destroy 110",
             "open 111",
             "caption 111 " + AT_DEVICE + " Upgrade Successful!",
             "text 111 1004 5.2.13(004)",
             "end 111 1"});
        EXPECT_TRUE(messages().empty()) << seen();
        EXPECT_EQ(count("returned"), 0) << "the listener, not the entry routine, ends a run";
        EXPECT_EQ(count("unscripted"), 0) << seen();
        expect_device_got_the_image();
    }

    // What the device saw of the PC, and sent, across the LAN: the first status read from the
    // PC's address `pc` and first HTTP port, the TFTP server named in the link (every octet in
    // its place, the port `tftp_port`), the read request sent from the device's own address, and
    // the status read after the restart from `pc` again. A datagram from another address than
    // the link's would show as "unknown host".
    void expect_lan_traffic(const std::string& pc, unsigned tftp_port) {
        const std::string server = pc + ":" + std::to_string(tftp_port);
        const std::vector<std::string> wanted = {
            "http: GET /admin/advanced from " + pc + ":23456",
            "http: GET /admin/upgrade?tftp://" + server + "/zoq",
            "tftp: RRQ sent to " + server + " file /zoq",
            "upgrade result: ok",
            "http: GET /admin/advanced from " + pc + ":",
        };
        const auto lines = sim_.lines();
        auto at = lines.begin();
        for (const auto& w : wanted) {
            at = std::find_if(at, lines.end(),
                              [&](const std::string& l) { return l.rfind(w, 0) == 0; });
            ASSERT_NE(at, lines.end()) << "missing or out of order: " << w << "\n" << sim_.output();
            ++at;
        }
        const std::string device_from = std::string(" from ") + LAN_DEVICE + ":";
        for (const auto& l : lines) {
            if (l.rfind("tftp: RRQ sent", 0) == 0) {
                EXPECT_NE(l.find(device_from), std::string::npos) << l;
            }
            EXPECT_EQ(l.find("unknown host"), std::string::npos) << l;
        }
    }

    Process sim_;
    ChildResult result_;
    std::string saved_;
    // The restart wait in real time (35 s), for a test that acts during it.
    bool real_clock_ = false;
};

}  // namespace test

// The whole upgrade on a good network.
class Upgrade : public test::E2eRun {};

}  // namespace zoq
