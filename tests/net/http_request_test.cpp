// SPDX-License-Identifier: MIT
// The request runner on the scripted toolkit against the in-process device: the progress
// dialog, the password prompt and its repeats, Cancel while the worker is blocked, and two
// requests at once (the upgrade trigger and the completion check).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/text.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/net/fake_device.h"
#include "tests/support/child.h"
#include "web/request.h"

namespace zoq {
namespace {

using test::DEVICE_IP;
using test::FakeDevice;
using test::PC_IP;
using test::Reply;

const char* const TRIGGER_PATH = "/admin/upgrade?tftp://127.0.0.1:69/zoq1a2b.bi1";
const std::string CANCELLED = "run_request returned Cancelled";

// Tells the parent that run_request came back with a Cancel.
void record_outcome(int fd, const RequestResult& result) {
    if (result.outcome != RequestOutcome::Cancelled) return;
    const std::string line = CANCELLED + "\n";
    [[maybe_unused]] auto n = ::write(fd, line.data(), line.size());
}

// A device that wants `password`: without good credentials it answers 401 with its current
// nonce; with `fresh_nonce` every challenge brings a new one.
FakeDevice::Handler digest_device(const std::string& password, bool fresh_nonce) {
    auto nonce = std::make_shared<std::string>("nonce-0");
    auto issued = std::make_shared<int>(0);
    return [=](int, const std::string& request) {
        if (test::digest_ok(request, password, "ZOQ", *nonce)) {
            return Reply{Reply::Close, test::page_answer(), {}};
        }
        if (fresh_nonce) *nonce = "nonce-" + std::to_string(++*issued);
        return Reply{
            Reply::Close,
            test::challenge_answer("realm=\"ZOQ\", nonce=\"" + *nonce + "\", qop=\"auth\""),
            {}};
    };
}

struct RunRequest : ::testing::Test {
    ScriptedToolkit ui;
    std::unique_ptr<UpgradeState> state = std::make_unique<UpgradeState>();
    RunRequest() {
        state->instance = &ui;
        copy_text(state->device_ip_text, "127.0.0.2");
        state->rng.seed(99);
    }
    int run(const char* path = STATUS_PAGE_PATH) { return test::request_device(*state, path); }
    int count(const std::string& line) const { return test::count_records(ui, line); }
    // Credentials typed earlier in the run, under a nonce the device no longer accepts.
    void store_stale_credentials() {
        copy_text(state->digest.username, "admin");
        copy_text(state->digest.password, "stale");
        copy_text(state->digest.realm, "ZOQ");
        copy_text(state->digest.nonce, "old");
        copy_text(state->digest.last_nonce, "old");
        state->digest.nonce_count = 4;
    }
    static bool has_auth(const test::Received& r) {
        return r.request.find("Authorization:") != std::string::npos;
    }
};

TEST_F(RunRequest, DeviceWithoutPasswordTakesOneAttempt) {
    FakeDevice device([](int, const std::string&) {
        return Reply{Reply::Close, test::page_answer(), {}};
    });
    ASSERT_TRUE(device.ok());
    EXPECT_EQ(run(), static_cast<int>(test::page_answer().size()));
    EXPECT_EQ(device.count(), 1u);
    EXPECT_EQ(count("open 105"), 1);
    EXPECT_EQ(count("caption 105 Connecting with ZOQ@127.0.0.2"), 1);
    EXPECT_EQ(count("range 105 1010 0 100"), 1);
    EXPECT_EQ(count("destroy 105"), 1);
    EXPECT_EQ(count("open 104"), 0);
    EXPECT_STREQ(state->device_info.product_name.data(), "ZOQ-4502");
}

TEST_F(RunRequest, PromptPresetsAdminAndTheAnswerIsUsed) {
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "secret"), ScriptAction::press(ID_OK)});
    FakeDevice device(digest_device("secret", false));
    ASSERT_TRUE(device.ok());
    EXPECT_GT(run(), 0);
    auto got = device.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_FALSE(has_auth(got[0]));
    EXPECT_EQ(test::auth_param(got[1].request, "username"), "admin");
    EXPECT_EQ(count("open 104"), 1);
    EXPECT_EQ(count("text 104 1003 admin"), 1);
    EXPECT_EQ(count("focus 104 1005"), 1);
    EXPECT_EQ(count("end 104 1"), 1);
    EXPECT_STREQ(state->device_info.serial_number.data(), "SN0123456");

    // Credentials typed once serve the next request (the upgrade trigger) without a prompt.
    EXPECT_GT(run(TRIGGER_PATH), 0);
    EXPECT_EQ(count("open 104"), 1);
    EXPECT_EQ(test::auth_param(device.received().at(2).request, "nc"), "00000002");
}

TEST_F(RunRequest, RejectedPasswordUnderTheSameNonceAsksAgain) {
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "wrong"), ScriptAction::press(ID_OK)});
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "secret"), ScriptAction::press(ID_OK)});
    FakeDevice device(digest_device("secret", false));
    ASSERT_TRUE(device.ok());
    EXPECT_GT(run(), 0);
    EXPECT_EQ(device.count(), 3u);
    EXPECT_EQ(count("open 104"), 2);
}

TEST_F(RunRequest, NewNonceWithStoredPasswordRepeatsOnceSilentlyThenAsks) {
    store_stale_credentials();
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "secret"), ScriptAction::press(ID_OK)});
    FakeDevice device(digest_device("secret", true));
    ASSERT_TRUE(device.ok());
    EXPECT_GT(run(), 0);
    auto got = device.received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(test::auth_param(got[0].request, "nonce"), "old");
    EXPECT_EQ(test::auth_param(got[1].request, "nonce"), "nonce-1");
    EXPECT_EQ(test::auth_param(got[2].request, "nonce"), "nonce-2");
    EXPECT_EQ(count("open 104"), 1);
    EXPECT_EQ(count("open 105"), 3);
}

TEST_F(RunRequest, PromptStartsTheSilentRepeatAgainAndTheBarRunsOnAcrossAttempts) {
    store_stale_credentials();
    ui.record_progress(true);
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "wrong"), ScriptAction::press(ID_OK)});
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "secret"), ScriptAction::press(ID_OK)});
    // Each answer takes long enough for the bar to move a few steps in every attempt.
    FakeDevice device([inner = digest_device("secret", true)](int index, const std::string& r) {
        Reply reply = inner(index, r);
        reply.before = [] { std::this_thread::sleep_for(std::chrono::milliseconds(60)); };
        return reply;
    });
    ASSERT_TRUE(device.ok());
    EXPECT_GT(run(), 0);
    // stale (old nonce), stale silently (nonce-1), prompt: wrong (nonce-2), wrong silently
    // (nonce-3), prompt: secret (nonce-4).
    auto got = device.received();
    ASSERT_EQ(got.size(), 5u);
    const char* const nonces[] = {"old", "nonce-1", "nonce-2", "nonce-3", "nonce-4"};
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(test::auth_param(got[i].request, "nonce"), nonces[i]) << i;
    }
    EXPECT_EQ(count("open 104"), 2);
    EXPECT_EQ(count("open 105"), 5);
    std::vector<int> positions;
    for (const auto& line : ui.records()) {
        if (line.rfind("progress 105 1010 ", 0) == 0) {
            positions.push_back(std::stoi(line.substr(18)));
        }
    }
    ASSERT_GE(positions.size(), 5u);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        EXPECT_EQ(positions[i], static_cast<int>(i % 101)) << i;
    }
}

TEST_F(RunRequest, StoredCredentialsSurviveANewNonceWithoutAPrompt) {
    copy_text(state->digest.username, "admin");
    copy_text(state->digest.password, "secret");
    copy_text(state->digest.realm, "ZOQ");
    copy_text(state->digest.nonce, "before-restart");
    copy_text(state->digest.last_nonce, "before-restart");
    state->digest.nonce_count = 2;
    FakeDevice device(digest_device("secret", false));
    ASSERT_TRUE(device.ok());
    EXPECT_GT(run(), 0);
    EXPECT_EQ(device.count(), 2u);
    EXPECT_EQ(count("open 104"), 0);
    EXPECT_EQ(state->digest.nonce_count, 1u);
}

TEST_F(RunRequest, EmptyPasswordSendsNoCredentialsAndThePromptReturns) {
    ui.on_open(IDD_PASSWORD, {ScriptAction::press(ID_OK)});
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "secret"), ScriptAction::press(ID_OK)});
    FakeDevice device(digest_device("secret", false));
    ASSERT_TRUE(device.ok());
    EXPECT_GT(run(), 0);
    auto got = device.received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_FALSE(has_auth(got[1]));
    EXPECT_TRUE(has_auth(got[2]));
    EXPECT_EQ(count("open 104"), 2);
}

TEST_F(RunRequest, ProgressBarStepsAndWrapsWhileTheRequestLasts) {
    ui.record_progress(true);
    auto wrapped = [this] {
        auto r = ui.records();
        auto at100 = std::find(r.begin(), r.end(), "progress 105 1010 100");
        return at100 != r.end() && std::find(at100, r.end(), "progress 105 1010 1") != r.end();
    };
    // The device answers only once the bar has run through 100 and started again.
    FakeDevice device([&](int, const std::string&) {
        return Reply{Reply::Close, test::page_answer(), [&] {
                         for (int i = 0; i < 6000 && !wrapped(); ++i) {
                             std::this_thread::sleep_for(std::chrono::milliseconds(5));
                         }
                     }};
    });
    ASSERT_TRUE(device.ok());
    EXPECT_GT(run(), 0);
    std::vector<int> positions;
    for (const auto& line : ui.records()) {
        if (line.rfind("progress 105 1010 ", 0) == 0)
            positions.push_back(std::stoi(line.substr(18)));
    }
    ASSERT_GE(positions.size(), 103u);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        EXPECT_EQ(positions[i], static_cast<int>(i % 101)) << i;
    }
}

// The device of these tests runs inside the child: forking while a server thread of the parent
// holds a lock (the allocator's, say) could leave the child stuck on it.
TEST_F(RunRequest, CancelInThePasswordDialogReturnsCancelled) {
    auto result = test::run_in_child([](int fd) {
        FakeDevice device(digest_device("secret", false));
        if (!device.ok()) return;
        ScriptedToolkit ui;
        ui.set_record_fd(fd);
        ui.on_open(IDD_PASSWORD, {ScriptAction::press(ID_CANCEL)});
        auto state = std::make_unique<UpgradeState>();
        state->instance = &ui;
        record_outcome(fd, run_device_request(*state, PC_IP, DEVICE_IP, STATUS_PAGE_PATH,
                                              state->response_buffer.data(), nullptr));
    });
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 99);  // the body returned
    ASSERT_GE(result.lines.size(), 2u);
    EXPECT_EQ(result.lines[result.lines.size() - 2], "end 104 0");
    EXPECT_EQ(result.lines.back(), CANCELLED);
}

// Cancel pressed in the progress dialog while the worker cannot return by itself.
test::ChildResult cancel_in_progress(
    const std::function<std::unique_ptr<FakeDevice>(int)>& device) {
    return test::run_in_child(
        [&device](int fd) {
            auto running = device(fd);
            ScriptedToolkit ui;
            ui.set_record_fd(fd);
            ui.on_open(IDD_PROGRESS, {ScriptAction::wait_ms(300), ScriptAction::press(ID_CANCEL)});
            // The worker stays blocked after the Cancel: the state must outlive it (the child
            // ends as soon as the body returns).
            auto* state = new UpgradeState;
            state->instance = &ui;
            record_outcome(fd, run_device_request(*state, PC_IP, DEVICE_IP, STATUS_PAGE_PATH,
                                                  state->response_buffer.data(), nullptr));
        },
        20000);
}

TEST_F(RunRequest, CancelWhileTheDeviceNeverClosesReturnsAtOnce) {
    auto result = cancel_in_progress([](int fd) {
        return std::make_unique<FakeDevice>([fd](int, const std::string&) {
            const char line[] = "device holds the request\n";
            [[maybe_unused]] auto n = ::write(fd, line, sizeof line - 1);
            return Reply{Reply::Hold, "HTTP/1.1 200 OK\r\n\r\nProduct Name:<b>x", {}};
        });
    });
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 99);
    EXPECT_EQ(std::count(result.lines.begin(), result.lines.end(), "device holds the request"), 1);
    ASSERT_GE(result.lines.size(), 3u);
    EXPECT_EQ(result.lines[result.lines.size() - 3], "command 105 2");
    EXPECT_EQ(result.lines[result.lines.size() - 2], "destroy 105");
    EXPECT_EQ(result.lines.back(), CANCELLED);
}

TEST_F(RunRequest, CancelWhileConnectIsBlockedReturnsAtOnce) {
    // A listener whose queue is full drops further connection requests: connect hangs. The
    // device and the connection that fills its queue are the child's own, so that a child that
    // is a fresh run of this program (Windows) has them too.
    auto result = cancel_in_progress([](int) {
        auto device = std::make_unique<FakeDevice>(nullptr, DEVICE_IP, 80, 0);
        Socket filler(open_tcp_socket());
        sockaddr_in addr{};
        fill_sockaddr(DEVICE_IP, 80, addr);
        if (!device->ok() || !connect_socket(filler.fd(), addr)) {
            return std::unique_ptr<FakeDevice>();
        }
        filler.release();  // stays connected until the child ends
        return device;
    });
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 99);
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines.back(), CANCELLED);
}

TEST_F(RunRequest, CompletionCheckRunsWhileTheTriggerIsStillBlocked) {
    copy_text(state->digest.username, "admin");
    copy_text(state->digest.password, "secret");
    copy_text(state->digest.realm, "ZOQ");
    copy_text(state->digest.nonce, "nonce-0");
    copy_text(state->digest.last_nonce, "nonce-0");
    copy_text(state->digest.qop, "auth");
    FakeDevice device(
        [inner = digest_device("secret", false)](int index, const std::string& request) {
            // The device takes the trigger and never closes that connection.
            if (index == 0) return Reply{Reply::Hold, "", {}};
            return inner(index, request);
        });
    ASSERT_TRUE(device.ok());
    int trigger_result = -5;
    std::thread trigger([&] { trigger_result = run(TRIGGER_PATH); });
    for (int i = 0; i < 2000 && device.count() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(device.count(), 1u);
    const RequestResult check = run_device_request(*state, PC_IP, DEVICE_IP, STATUS_PAGE_PATH,
                                                   state->completion_buffer.data(), nullptr);
    EXPECT_GT(check.received, 0);
    keep_device_info(*state, state->completion_buffer.data(), check.received);
    EXPECT_EQ(std::string(state->completion_buffer.data()), test::page_answer());
    device.stop();
    trigger.join();
    EXPECT_EQ(trigger_result, 0);
    EXPECT_EQ(state->digest.nonce_count, 2u);
    auto got = device.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(test::auth_param(got[0].request, "nc"), "00000001");
    EXPECT_EQ(test::auth_param(got[1].request, "nc"), "00000002");
    EXPECT_NE(got[1].peer_port, got[0].peer_port);
    EXPECT_STREQ(state->device_info.mac_address.data(), "02:00:00:AA:BB:CC");
}

}  // namespace
}  // namespace zoq
