// SPDX-License-Identifier: MIT
// The completion phase on the fast clock: each model's restart wait and success template, the
// clock's wrap, the version check, and the status reads against a small web responder at
// 127.0.0.2:80.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <memory>
#include <string>
#include <thread>

#include "app/completion.h"
#include "app/firmware.h"
#include "common/clock.h"
#include "common/net.h"
#include "common/text.h"
#include "os/socket.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/net/tftp_peer.h"
#include "tests/support/sockets.h"

namespace zoq {
namespace {

using test::LOOPBACK_DEVICE;
using test::LOOPBACK_PC;

// Answers status-page reads at 127.0.0.2:80: the first `silent` connections are closed without
// a byte (the device not up yet), the others get a page with `version`.
class StatusResponder {
  public:
    StatusResponder(std::string version, int silent)
        : version_(std::move(version)), silent_(silent) {
        listen_ = Socket(open_tcp_socket());
        test::reuse_address(listen_.fd());
        sockaddr_in a{};
        fill_sockaddr(LOOPBACK_DEVICE, 80, a);
        EXPECT_TRUE(bind_socket(listen_.fd(), a));
        EXPECT_TRUE(test::listen_socket(listen_.fd(), 16));
        thread_ = std::thread([this] { serve(); });
    }
    ~StatusResponder() {
        stop_ = true;
        thread_.join();
    }
    int connections() const { return connections_; }

  private:
    void serve() {
        while (!stop_) {
            if (!wait_readable(listen_.fd(), 20)) continue;
            Socket c(test::accept_connection(listen_.fd(), nullptr));
            if (!c.valid()) continue;
            if (connections_++ < silent_) continue;
            std::string request;
            char buf[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                if (!wait_readable(c.fd(), 2000)) break;
                long n = receive_stream(c.fd(), buf, sizeof buf);
                if (n <= 0) break;
                request.append(buf, static_cast<std::size_t>(n));
            }
            std::string page =
                "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><table>"
                "<tr><td>Software Version:</td><td>" +
                version_ + "</td></tr></table></html>";
            [[maybe_unused]] auto n = send_stream(c.fd(), page.data(), page.size());
        }
    }

    std::string version_;
    int silent_;
    Socket listen_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
};

struct CompletionRig {
    ScriptedToolkit ui;
    FastClock clock;
    std::unique_ptr<UpgradeState> state = std::make_unique<UpgradeState>();

    explicit CompletionRig(std::uint32_t clock_start = 0, const char* model = nullptr)
        : clock(clock_start) {
        state->instance = &ui;
        state->clock = &clock;
        load_firmware_image(*state);
        identify_model(*state);
        if (model) copy_text(state->model_name, model);
        state->local_ip = LOOPBACK_PC;
        state->device_ip = LOOPBACK_DEVICE;
        copy_text(state->device_ip_text, "127.0.0.2");
        ui.record_progress(true);
        ui.set_unscripted_timeout_ms(2000);
    }
    std::string version() const { return state->image.version(); }
    // Runs the completion with a fresh uploading dialog; returns the clock's advance in ms.
    std::uint32_t run(TransferOutcome outcome) {
        TransferDialogs dialogs(ui, "127.0.0.2");
        dialogs.start(1);
        std::uint32_t start = clock.now_ms();
        upgrade_completion(*state, outcome, dialogs);
        return clock.now_ms() - start;
    }
    bool recorded(const std::string& line) const {
        auto r = ui.records();
        return std::find(r.begin(), r.end(), line) != r.end();
    }
    int count(const std::string& line) const {
        auto r = ui.records();
        return static_cast<int>(std::count(r.begin(), r.end(), line));
    }
};

struct ModelCase {
    const char* model;
    std::uint32_t wait_ms;
    int success_template;
};
void PrintTo(const ModelCase& c, std::ostream* os) {
    *os << c.model;
}

class ModelCompletion : public testing::TestWithParam<ModelCase> {};

TEST_P(ModelCompletion, WaitsItsRestartTimeThenShowsItsTemplate) {
    const ModelCase& c = GetParam();
    CompletionRig rig(0, c.model);
    EXPECT_EQ(restart_wait_units(c.model) * 32, c.wait_ms);
    StatusResponder device(rig.version(), 0);
    const std::string t = std::to_string(c.success_template);
    rig.ui.on_open(c.success_template, {ScriptAction::press(ID_OK)});
    EXPECT_EQ(rig.run(TransferOutcome::Complete), c.wait_ms);
    const std::string units = std::to_string(c.wait_ms / 32);
    EXPECT_TRUE(rig.recorded("range 110 1010 0 " + units));
    EXPECT_TRUE(rig.recorded("progress 110 1010 " + units));
    EXPECT_TRUE(rig.recorded("caption 110 Updating Target Firmware to ZOQ@127.0.0.2"));
    EXPECT_TRUE(rig.recorded("destroy 110"));
    EXPECT_TRUE(rig.recorded("open " + t));
    EXPECT_TRUE(rig.recorded("caption " + t + " ZOQ@127.0.0.2 Upgrade Successful!"));
    EXPECT_TRUE(rig.recorded("text " + t + " 1004 " + rig.version()));
    EXPECT_TRUE(
        rig.recorded("text " + t +
                     " 1007 Your ZOQ has been successfully\\r\\nupgraded to the version shown"
                     "\\r\\nbelow."));
    EXPECT_TRUE(rig.recorded("end " + t + " 1"));
    EXPECT_EQ(rig.count("open 105"), 1);
    for (const auto& r : rig.ui.records())
        EXPECT_EQ(r.rfind("message ", 0), std::string::npos) << r;
}

INSTANTIATE_TEST_SUITE_P(Models, ModelCompletion,
                         testing::Values(ModelCase{"ZOQ6600", 200000, 111},
                                         ModelCase{"ZOQ6688", 200000, 113},
                                         ModelCase{"ZOQ5x5h", 104928, 113},
                                         ModelCase{"ZOQ53xH", 150368, 111},
                                         ModelCase{"ZOQ-4502", 34976, 111}),
                         [](const auto& info) {
                             std::string name = info.param.model;
                             name.erase(std::remove_if(name.begin(), name.end(),
                                                       [](char ch) { return !std::isalnum(ch); }),
                                        name.end());
                             return name;
                         });

TEST(TftpCompletion, PrefixComparisonIsCaseSensitiveOnSevenCharacters) {
    EXPECT_EQ(restart_wait_units("ZOQ6688-Plus"), 6250u);
    EXPECT_EQ(restart_wait_units("zoq6688"), 1093u);
    EXPECT_EQ(restart_wait_units("ZOQ668"), 1093u);
    EXPECT_EQ(restart_wait_units("ZOQ53XH"), 1093u);
    EXPECT_EQ(restart_wait_units(""), 1093u);
    EXPECT_EQ(success_template("ZOQ5x5hW"), 113);
    EXPECT_EQ(success_template("ZOQ5X5H"), 111);
}

TEST(TftpCompletion, FailedTransferWaitsInFullThenReportsIncomplete) {
    CompletionRig rig;
    StatusResponder device(rig.version(), 0);
    EXPECT_EQ(rig.run(TransferOutcome::Failed), 34976u);
    EXPECT_TRUE(rig.recorded("caption 110 Updating Target Firmware to ZOQ@127.0.0.2"));
    // The uploading dialog stays through the wait and is gone before the message.
    auto r = rig.ui.records();
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ(r[r.size() - 2], "destroy 110");
    EXPECT_EQ(r.back(),
              "message ZOQ Firwmare Upgrade Error|Upgrade Failed: Firmware Upload Incomplete");
    EXPECT_EQ(device.connections(), 0);
}

TEST(TftpCompletion, ClockWrapDuringTheWaitIsCarriedThrough) {
    // 5 s before the 32-bit millisecond counter wraps.
    CompletionRig rig(0xFFFFFFFFu - 5000u);
    std::uint32_t elapsed = rig.run(TransferOutcome::Failed);
    // The start reading is cut to a 32 ms unit, so the wait may end up to one unit early.
    EXPECT_GE(elapsed, 34976u - 32u);
    EXPECT_LE(elapsed, 34976u);
    EXPECT_TRUE(rig.recorded("progress 110 1010 1093"));
    auto r = rig.ui.records();
    int previous = -1;
    for (const auto& line : r) {
        if (line.rfind("progress 110 1010 ", 0) != 0) continue;
        int pos = std::stoi(line.substr(18));
        EXPECT_GE(pos, previous);
        EXPECT_LE(pos, 1093);
        previous = pos;
    }
}

struct VersionCase {
    const char* name;
    bool is_phone;
    bool change_case;
    bool success;
};
void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
}

class VersionCheck : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionCheck, AdaptersMustReportTheImageVersionExactly) {
    const VersionCase& c = GetParam();
    CompletionRig rig;
    rig.state->is_phone = c.is_phone;
    // A version with letters in it, so that letter case can differ.
    auto& header = rig.state->image.header;
    copy_text(reinterpret_cast<char*>(header.data() + IMAGE_VERSION_OFFSET),
              IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET, "5.2.13b(004)-Rel");
    std::string reported = rig.version();
    if (c.change_case) {
        for (char& ch : reported)
            ch = static_cast<char>(std::islower(ch) ? std::toupper(ch) : std::tolower(ch));
    }
    StatusResponder device(reported, 0);
    rig.ui.on_open(IDD_SUCCESS, {ScriptAction::press(ID_CANCEL)});
    rig.run(TransferOutcome::Complete);
    if (c.success) {
        EXPECT_TRUE(rig.recorded("text 111 1004 " + reported));
        EXPECT_TRUE(rig.recorded("end 111 0"));
    } else {
        EXPECT_FALSE(rig.recorded("open 111"));
        EXPECT_EQ(rig.ui.records().back(),
                  "message ZOQ Firwmare Upgrade Error|Upgrade Failed: Version not matching");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionCheck,
                         testing::Values(VersionCase{"AdapterSame", false, false, true},
                                         VersionCase{"AdapterOtherCase", false, true, false},
                                         VersionCase{"PhoneOtherCase", true, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TftpCompletion, ThreeUnansweredReadsThenTheFourthAnswers) {
    CompletionRig rig;
    StatusResponder device(rig.version(), 3);
    rig.ui.on_open(IDD_SUCCESS, {ScriptAction::press(ID_OK)});
    rig.run(TransferOutcome::Complete);
    EXPECT_EQ(device.connections(), 4);
    EXPECT_EQ(rig.count("open 105"), 4);
    EXPECT_TRUE(rig.recorded("end 111 1"));
}

TEST(TftpCompletion, NoAnswerToAnyReadIsReported) {
    CompletionRig rig;
    StatusResponder device(rig.version(), 1000);
    rig.run(TransferOutcome::Complete);
    EXPECT_EQ(device.connections(), 10);
    EXPECT_EQ(rig.count("open 105"), 10);
    EXPECT_EQ(rig.ui.records().back(),
              "message ZOQ Firwmare Upgrade Error|Upgrade Failed: No Response From ZOQ");
}

}  // namespace
}  // namespace zoq
