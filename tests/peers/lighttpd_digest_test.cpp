// SPDX-License-Identifier: MIT
// The client against an independently written Digest server: lighttpd with mod_auth, started
// here on 127.0.0.2:80 inside the test's private network, closing each connection after its
// answer as the device does.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "common/net.h"
#include "common/text.h"
#include "os/socket.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/net/fake_device.h"
#include "tests/support/peer.h"
#include "web/digest.h"
#include "web/http.h"
#include "web/md5.h"
#include "web/request.h"

namespace zoq {
namespace {

// scripts/setup unpacks lighttpd into the build tree instead of installing it, so that it never
// runs as a service on the machine; its modules come from there too.
const std::string LIGHTTPD = std::string(ZOQ_PEERS_DIR) + "/usr/sbin/lighttpd";
const std::string LIGHTTPD_MODULES = std::string(ZOQ_PEERS_DIR) + "/usr/lib/lighttpd";
using test::DEVICE_IP;
using test::PC_IP;
using test::STATUS_PAGE;

std::string md5_hex(const std::string& text) {
    DigestHex out;
    hex_digest(md5(text).data(), out);
    return out.data();
}

// One lighttpd process with a digest-protected /admin/ and its own files; stopped by its id.
class Lighttpd {
  public:
    // `algorithm`: the value of mod_auth's "algorithm" option, empty for its default.
    explicit Lighttpd(const std::string& algorithm = "") {
        char templ[] = "/tmp/zoq-lighttpd-XXXXXX";
        dir_ = ::mkdtemp(templ);
        std::filesystem::create_directories(dir_ / "www/admin");
        std::ofstream(dir_ / "www/admin/advanced") << STATUS_PAGE;
        std::ofstream(dir_ / "users") << "admin:ZOQ:" << md5_hex("admin:ZOQ:secret") << "\n";
        std::string extra = algorithm.empty() ? "" : ", \"algorithm\" => \"" + algorithm + "\"";
        std::ofstream(dir_ / "lighttpd.conf")
            << "server.document-root = \"" << (dir_ / "www").string() << "\"\n"
            << "server.bind = \"127.0.0.2\"\n"
            << "server.port = 80\n"
            // The device closes after each answer; with keep-alive lighttpd would hold an idle
            // connection for seconds and every request would wait for it.
            << "server.max-keep-alive-requests = 0\n"
            << "server.errorlog = \"" << (dir_ / "error.log").string() << "\"\n"
            << "accesslog.filename = \"" << (dir_ / "access.log").string() << "\"\n"
            << "server.modules = (\"mod_auth\", \"mod_authn_file\", \"mod_accesslog\")\n"
            << "auth.backend = \"htdigest\"\n"
            << "auth.backend.htdigest.userfile = \"" << (dir_ / "users").string() << "\"\n"
            << "auth.require = (\"/admin/\" => (\"method\" => \"digest\", \"realm\" => \"ZOQ\", "
               "\"require\" => \"valid-user\""
            << extra << "))\n";
        std::string conf = (dir_ / "lighttpd.conf").string();
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl(LIGHTTPD.c_str(), LIGHTTPD.c_str(), "-D", "-m", LIGHTTPD_MODULES.c_str(), "-f",
                    conf.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Lighttpd() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status;
            ::waitpid(pid_, &status, 0);
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Waits until the server takes connections.
    bool ready() {
        for (int i = 0; i < 500; ++i) {
            Socket s(::socket(AF_INET, SOCK_STREAM, 0));
            sockaddr_in addr{};
            fill_sockaddr(DEVICE_IP, 80, addr);
            if (::connect(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                return true;
            }
            int status;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string log(const char* name) const {
        std::ifstream f(dir_ / name);
        return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }

  private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

struct LighttpdDigest : ::testing::Test {
    ScriptedToolkit ui;
    std::unique_ptr<UpgradeState> state = std::make_unique<UpgradeState>();

    void SetUp() override {
        ZOQ_REQUIRE_PEER(LIGHTTPD.c_str());
        state->instance = &ui;
        copy_text(state->device_ip_text, "127.0.0.2");
        state->rng.seed(2024);
    }
    int run(const char* path = STATUS_PAGE_PATH) { return test::request_device(*state, path); }
    int count(const std::string& line) const { return test::count_records(ui, line); }
    void expect_five_values() const { test::expect_status_page_values(state->device_info); }
};

TEST_F(LighttpdDigest, PasswordOpensTheStatusPageAndServesLaterRequests) {
    Lighttpd server;
    ASSERT_TRUE(server.ready()) << server.log("error.log");
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "secret"), ScriptAction::press(ID_OK)});
    int n = run();
    EXPECT_GT(n, 0);
    EXPECT_EQ(std::string(state->response_buffer.data()).rfind("HTTP/1.1 200 OK", 0), 0u)
        << state->response_buffer.data();
    expect_five_values();
    EXPECT_EQ(count("open 104"), 1);
    // lighttpd writes algorithm=MD5 unquoted: the client keeps its empty algorithm value.
    EXPECT_STREQ(state->digest.algorithm.data(), "");
    EXPECT_STREQ(state->digest.qop.data(), "auth");

    // Nonce counts 2 and 3 under the same nonce, without a prompt.
    state->device_info = DeviceInfo{};
    EXPECT_GT(run(), 0);
    expect_five_values();
    EXPECT_GT(run("/admin/upgrade?tftp://127.0.0.1:69/zoq1a2b.bi1"), 0);
    EXPECT_EQ(std::string(state->response_buffer.data()).rfind("HTTP/1.1 404", 0), 0u)
        << state->response_buffer.data();
    EXPECT_EQ(state->digest.nonce_count, 3u);
    EXPECT_EQ(count("open 104"), 1);
}

TEST_F(LighttpdDigest, WrongPasswordDrawsThePromptAgain) {
    Lighttpd server;
    ASSERT_TRUE(server.ready()) << server.log("error.log");
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "wrong"), ScriptAction::press(ID_OK)});
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "secret"), ScriptAction::press(ID_OK)});
    EXPECT_GT(run(), 0);
    expect_five_values();
    EXPECT_EQ(count("open 104"), 2);
}

TEST_F(LighttpdDigest, ExchangeWithoutTheRunner) {
    Lighttpd server;
    ASSERT_TRUE(server.ready()) << server.log("error.log");
    // The bytes that came back, or -1 for a usable challenge.
    auto get = [&] {
        const HttpResult r = http_get({PC_IP, HTTP_LOCAL_PORT, DEVICE_IP, 80}, STATUS_PAGE_PATH,
                                      state->response_buffer.data(), RESPONSE_CAPACITY,
                                      {&state->shared_mutex, &state->digest, &state->rng});
        if (r.outcome == HttpOutcome::Challenge) return -1;
        keep_device_info(*state, state->response_buffer.data(), r.received);
        return r.received;
    };
    EXPECT_EQ(get(), -1);
    EXPECT_STREQ(state->digest.realm.data(), "ZOQ");
    EXPECT_STRNE(state->digest.nonce.data(), "");
    copy_text(state->digest.username, "admin");
    copy_text(state->digest.password, "secret");
    EXPECT_GT(get(), 0);
    expect_five_values();
}

// With SHA-256 offered first, the client takes the first challenge's realm and nonce, answers
// with MD5 and an empty algorithm value, and lighttpd accepts that as MD5.
TEST_F(LighttpdDigest, ShaOfferedFirstStillAcceptsTheMd5Answer) {
    Lighttpd server("MD5|SHA-256");
    ASSERT_TRUE(server.ready()) << server.log("error.log");
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "secret"), ScriptAction::press(ID_OK)});
    EXPECT_GT(run(), 0);
    expect_five_values();
    EXPECT_EQ(count("open 104"), 1);
}

// A server that allows SHA-256 only refuses the client's MD5 answer (lighttpd logs
// "digest: (): invalid" for the empty algorithm value): the right password draws the prompt
// again, after one silent repeat under lighttpd's new nonce, until the user gives up.
TEST_F(LighttpdDigest, ShaOnlyServerKeepsAsking) {
    Lighttpd server("SHA-256");
    ASSERT_TRUE(server.ready()) << server.log("error.log");
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_PASSWORD, "secret"), ScriptAction::press(ID_OK)});
    ui.on_open(IDD_PASSWORD, {ScriptAction::press(ID_CANCEL)});
    const RequestResult r = run_device_request(*state, PC_IP, DEVICE_IP, STATUS_PAGE_PATH,
                                               state->response_buffer.data(), nullptr);
    EXPECT_EQ(r.outcome, RequestOutcome::Cancelled);
    EXPECT_EQ(count("open 104"), 2);
    EXPECT_EQ(count("open 105"), 3);
}

}  // namespace
}  // namespace zoq
