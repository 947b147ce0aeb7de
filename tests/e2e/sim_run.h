// SPDX-License-Identifier: MIT
// A whole run of the utility against the simulated device, for the e2e tests on bad networks
// and unending waits: the device at 127.0.0.2 with the options a test gives, the utility's
// entry routine on the scripted toolkit in a child process, and what the user saw.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/firmware.h"
#include "app/workflow.h"
#include "common/clock.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/support/child.h"
#include "tests/support/process.h"

namespace zoq::test {

inline constexpr const char* SIM_PATH = ZOQ_BINARY_DIR "/tools/zoq-device-sim";
inline constexpr const char* ERROR_CAPTION = "message ZOQ Firwmare Upgrade Error|";

class SimRun : public testing::Test {
  protected:
    using A = ScriptAction;

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
        std::vector<std::string> argv = {SIM_PATH, "--address",    "127.0.0.2", "--save",
                                         saved_,   "--restart-ms", "300",       "--progress-every",
                                         "0"};
        argv.insert(argv.end(), options.begin(), options.end());
        ASSERT_TRUE(sim_.start(argv));
        ASSERT_TRUE(sim_.wait_for("ready http", 10000)) << sim_.output();
    }

    // The utility from its entry to the end of its process; `limit_ms` only guards against a
    // hang (a loaded machine may be slow).
    void run(const std::function<void(ScriptedToolkit&)>& script, int limit_ms = 120000) {
        result_ = run_in_child(
            [&](int fd) {
                // Never freed: the process ends with them, as the real program's do.
                auto* ui = new ScriptedToolkit;
                auto* state = new UpgradeState;
                ui->set_record_fd(fd);
                ui->set_unscripted_timeout_ms(20000);
                state->instance = ui;
                state->clock = new FastClock;
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
    int count(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(result_.lines.begin(), result_.lines.end(),
                          [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& l : result_.lines) {
            if (l.rfind("message ", 0) == 0) out.push_back(l);
        }
        return out;
    }
    void expect_only_error(const char* text) const {
        EXPECT_EQ(messages(), std::vector<std::string>{std::string(ERROR_CAPTION) + text})
            << seen() << "device:\n"
            << sim_.output();
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
    void expect_success_dialog() {
        expect_in_order(
            {"caption 110 Uploading Target Firmware to ZOQ@127.0.0.2 981328/981328 Bytes",
             "destroy 110", "open 111", "text 111 1004 5.2.13(004)", "end 111 1"});
        EXPECT_TRUE(messages().empty()) << seen();
    }
    // The device's figure for the transfer, for the record of the run.
    void report_transfer_time() const {
        for (const auto& line : sim_.lines()) {
            if (line.rfind("tftp: transfer time", 0) == 0 || line.rfind("tftp: network", 0) == 0) {
                std::printf("[device] %s\n", line.c_str());
            }
        }
    }

    // How many datagrams the device's bad network treated with `fault` ("dropped",
    // "duplicated", "reordered", "delayed") in one direction ("to the PC", "to the device").
    int fault_count(const std::string& direction, const std::string& fault) const {
        const std::string head = "tftp: network " + direction + ": ";
        for (const auto& line : sim_.lines()) {
            if (line.rfind(head, 0) != 0) continue;
            std::size_t at = line.find(fault + " ");
            if (at == std::string::npos) return -1;
            return std::atoi(line.c_str() + at + fault.size() + 1);
        }
        return -1;
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
    static void upgrade_and_close_success(ScriptedToolkit& ui) {
        reach_the_upgrade(ui);
        ui.on_open(IDD_SUCCESS, {A::press(IDOK)});
    }

    Process sim_;
    ChildResult result_;
    std::string saved_;
};

}  // namespace zoq::test
