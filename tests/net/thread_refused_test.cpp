// SPDX-License-Identifier: MIT
// Fatal conditions the run learns of below it: a system that refuses the request worker's or
// the TFTP listener's thread, and a request worker without a local port. One message box, then
// the process ends with exit code 0, from the thread that learnt of it; never an abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/failure.h"
#include "app/request_page.h"
#include "app/state.h"
#include "app/trigger.h"
#include "os/socket.h"
#include "os/thread.h"
#include "platform/scripted/scripted_toolkit.h"
#include "tests/support/child.h"

namespace zoq {
namespace {

constexpr std::uint32_t PC_IP = 0x7F000001;      // 127.0.0.1
constexpr std::uint32_t DEVICE_IP = 0x7F000002;  // 127.0.0.2

class RefusingStarter final : public ThreadStarter {
  public:
    std::thread start(std::function<void()>) override {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread for the test");
    }
};

// Runs `call` in a child, on a state whose threads are refused unless `refuse` is false;
// what the user saw comes back.
test::ChildResult run_refused(const std::function<void(UpgradeState&)>& call, bool refuse = true) {
    return test::run_in_child(
        [&](int fd) {
            auto* ui = new ScriptedToolkit;
            auto* state = new UpgradeState;
            ui->set_record_fd(fd);
            state->instance = ui;
            if (refuse) state->threads = new RefusingStarter;
            call(*state);
        },
        20000);
}

std::vector<std::string> messages(const test::ChildResult& r) {
    std::vector<std::string> out;
    std::copy_if(r.lines.begin(), r.lines.end(), std::back_inserter(out),
                 [](const std::string& l) { return l.rfind("message ", 0) == 0; });
    return out;
}

TEST(ThreadRefused, RequestWorkerEndsWithTheHttpOpenMessage) {
    const test::ChildResult r = run_refused([](UpgradeState& state) {
        request_page(state, PC_IP, DEVICE_IP, STATUS_PAGE_PATH, state.response_buffer.data());
    });
    ASSERT_TRUE(r.exited) << "signal " << r.signal << (r.timed_out ? ", timed out" : "");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(messages(r), std::vector<std::string>{"message ZOQ Firwmare Upgrade Error|"
                                                    "Upgrade Failed: Can't open HTTP socket"});
    // The connecting dialog does not stay behind the message with a frozen bar.
    const auto open = std::find(r.lines.begin(), r.lines.end(), "open 105");
    const auto destroy = std::find(r.lines.begin(), r.lines.end(), "destroy 105");
    const auto message = std::find_if(r.lines.begin(), r.lines.end(), [](const std::string& l) {
        return l.rfind("message ", 0) == 0;
    });
    EXPECT_TRUE(open < destroy && destroy < message);
}

TEST(ThreadRefused, ListenerEndsWithTheListenerMessage) {
    const test::ChildResult r =
        run_refused([](UpgradeState& state) { tftp_listener_start(state, PC_IP); });
    ASSERT_TRUE(r.exited) << "signal " << r.signal << (r.timed_out ? ", timed out" : "");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(messages(r), std::vector<std::string>{"message ZOQ Firwmare Upgrade Error|"
                                                    "Upgrade Failed: Can't malloc for TFTP "
                                                    "listener"});
    EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), "open 114"), 0);
}

TEST(WorkerFailure, NoFreeLocalPortEndsWithTheBindMessageWhileConnectingGoesOn) {
    const test::ChildResult r = run_refused(
        [](UpgradeState& state) {
            std::vector<Socket> taken;
            for (int port = HTTP_LOCAL_PORT; port <= HTTP_LOCAL_PORT + 100; ++port) {
                Socket s(open_tcp_socket());
                sockaddr_in addr{};
                fill_sockaddr(PC_IP, static_cast<std::uint16_t>(port), addr);
                if (!bind_socket(s.fd(), addr)) return;
                taken.push_back(std::move(s));
            }
            request_page(state, PC_IP, DEVICE_IP, STATUS_PAGE_PATH, state.response_buffer.data());
        },
        false);
    ASSERT_TRUE(r.exited) << "signal " << r.signal << (r.timed_out ? ", timed out" : "");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(messages(r), std::vector<std::string>{"message ZOQ Firwmare Upgrade Error|"
                                                    "Upgrade Failed: Can't bind HTTP socket"});
    // The box comes from the worker: the connecting dialog is still there behind it.
    EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), "destroy 105"), 0);
}

}  // namespace
}  // namespace zoq
