// SPDX-License-Identifier: MIT
// One HTTP exchange on real sockets against an in-process device at 127.0.0.2:80, from the PC
// address 127.0.0.1 (each test runs in a private network namespace).
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "common/trace.h"
#include "platform/scripted/scripted_toolkit.h"
#include "tests/net/fake_device.h"
#include "web/http.h"

namespace zoq {
namespace {

using test::DEVICE_IP;
using test::FakeDevice;
using test::PC_IP;
using test::Reply;

const std::string PLAIN_REQUEST = "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n";

struct HttpGet : ::testing::Test {
    ScriptedToolkit ui;
    std::unique_ptr<UpgradeState> state = std::make_unique<UpgradeState>();
    HttpGet() {
        state->instance = &ui;
        state->rng.seed(1234);
    }
    // The bytes that came back, or -1 for a usable challenge.
    int get(const char* path = STATUS_PAGE_PATH, int capacity = RESPONSE_CAPACITY) {
        const HttpResult r = http_get({PC_IP, HTTP_LOCAL_PORT, DEVICE_IP, 80}, path,
                                      state->response_buffer.data(), capacity, share());
        EXPECT_TRUE(r.outcome == HttpOutcome::Answer || r.outcome == HttpOutcome::Challenge);
        if (r.outcome == HttpOutcome::Challenge) return -1;
        keep_device_info(*state, state->response_buffer.data(), r.received);
        return r.received;
    }
    DigestShare share() { return {&state->shared_mutex, &state->digest, &state->rng}; }
    std::string buffer() const { return state->response_buffer.data(); }
};

TEST_F(HttpGet, PageFillsTheFiveValuesAndTheRequestIsExact) {
    const std::string answer = test::page_answer();
    FakeDevice device([&](int, const std::string&) { return Reply{Reply::Close, answer, {}}; });
    ASSERT_TRUE(device.ok());
    EXPECT_EQ(get(), static_cast<int>(answer.size()));
    EXPECT_EQ(buffer(), answer);
    test::expect_status_page_values(state->device_info);
    auto got = device.received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].request, PLAIN_REQUEST);
    EXPECT_EQ(got[0].peer_ip, PC_IP);
    EXPECT_EQ(got[0].peer_port, HTTP_LOCAL_PORT);
    EXPECT_TRUE(ui.records().empty());
}

TEST_F(HttpGet, EachChallengeFormIsAnsweredWithCredentialsTheDeviceAccepts) {
    struct Form {
        const char* name;
        std::string params;
        const char* algorithm;
        bool qop;
    };
    const Form forms[] = {
        {"qop auth", "realm=\"ZOQ\", nonce=\"n-auth\", qop=\"auth\"", "", true},
        {"RFC 2069", "realm=\"ZOQ\", nonce=\"n-2069\"", "", false},
        {"md5-sess", "realm=\"ZOQ\", nonce=\"n-sess\", algorithm=\"MD5-sess\", qop=\"auth\"",
         "MD5-sess", true},
        {"auth-int", "realm=\"ZOQ\", nonce=\"n-int\", qop=\"auth-int\"", "", true},
        {"opaque", "realm=\"ZOQ\", nonce=\"n-op\", opaque=\"xyz\", qop=\"auth\"", "", true},
        {"lighttpd style",
         "realm=\"ZOQ\", charset=\"UTF-8\", algorithm=MD5, nonce=\"n-l\", "
         "qop=\"auth\"",
         "", true},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.name);
        state = std::make_unique<UpgradeState>();
        state->instance = &ui;
        std::string nonce = test::auth_param(
            "\r\nAuthorization: Digest " + form.params.substr(form.params.find("nonce=")) + "\r\n",
            "nonce");
        const std::size_t opaque_at = form.params.find("opaque=");
        const std::string opaque =
            opaque_at == std::string::npos
                ? std::string()
                : test::auth_param("\r\nAuthorization: Digest " + form.params.substr(opaque_at),
                                   "opaque");
        FakeDevice device([&](int, const std::string& request) {
            if (test::digest_ok(request, "secret", "ZOQ", nonce, opaque)) {
                return Reply{Reply::Close, test::page_answer(), {}};
            }
            return Reply{Reply::Close, test::challenge_answer(form.params), {}};
        });
        ASSERT_TRUE(device.ok());
        EXPECT_EQ(get(), -1);
        EXPECT_STREQ(state->digest.nonce.data(), nonce.c_str());
        EXPECT_STREQ(state->digest.algorithm.data(), form.algorithm);
        EXPECT_STREQ(state->device_info.product_name.data(), "");

        copy_text(state->digest.username, "admin");
        copy_text(state->digest.password, "secret");
        EXPECT_GT(get(), 0);
        EXPECT_STREQ(state->device_info.product_name.data(), "ZOQ-4502");
        EXPECT_EQ(state->digest.nonce_count, 1u);
        EXPECT_STREQ(state->digest.uri.data(), STATUS_PAGE_PATH);
        auto got = device.received();
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].request, PLAIN_REQUEST);
        // The Authorization line stands between the Host line and the empty line.
        const std::string& r = got[1].request;
        EXPECT_EQ(r.rfind("GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n"
                          "Authorization: Digest username=\"admin\",realm=\"ZOQ\",",
                          0),
                  0u)
            << r;
        EXPECT_EQ(r.find("\r\n", r.find("Authorization")) + 4, r.size()) << r;
        EXPECT_EQ(r.find(", "), std::string::npos) << r;
        EXPECT_EQ(r.find(",nc=00000001,") != std::string::npos, form.qop) << r;
    }
}

// RFC 2617's own example (section 3.5) over the wire: with its client nonce in place of a
// drawn one, the program must send the response printed in the RFC and echo the opaque.
TEST_F(HttpGet, RfcExampleGetsTheRfcsResponse) {
    const std::string params =
        "realm=\"testrealm@host.com\", qop=\"auth\", "
        "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
        "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";
    FakeDevice device([&](int, const std::string& request) {
        if (test::digest_ok(request, "Circle Of Life", "testrealm@host.com",
                            "dcd98b7102dd2f0e8b11d0f600bfb0c093",
                            "5ccc069c403ebaf9f0171e9517f40e41")) {
            return Reply{Reply::Close, test::page_answer(), {}};
        }
        return Reply{Reply::Close, test::challenge_answer(params), {}};
    });
    ASSERT_TRUE(device.ok());
    ASSERT_EQ(get("/dir/index.html"), -1);
    copy_text(state->digest.username, "Mufasa");
    copy_text(state->digest.password, "Circle Of Life");
    copy_text(state->digest.cnonce, "0a4f113b");
    EXPECT_GT(get("/dir/index.html"), 0);
    EXPECT_STREQ(state->device_info.product_name.data(), "ZOQ-4502");
    auto got = device.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(test::auth_param(got[1].request, "response"), "6629fae49393a05397450978507c4ef1");
    EXPECT_EQ(test::auth_param(got[1].request, "opaque"), "5ccc069c403ebaf9f0171e9517f40e41");
}

TEST_F(HttpGet, TracesNeverCarryCredentials) {
    copy_text(state->digest.username, "admin-user-x");
    copy_text(state->digest.password, "pa55-word-y");
    copy_text(state->digest.realm, "ZOQ");
    copy_text(state->digest.nonce, "n");
    FakeDevice device([](int, const std::string&) {
        return Reply{Reply::Close, test::challenge_answer("realm=\"ZOQ\", nonce=\"m\""), {}};
    });
    ASSERT_TRUE(device.ok());
    set_trace_enabled(true);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(get(), -1);
    std::string traced = ::testing::internal::GetCapturedStderr();
    set_trace_enabled(false);
    EXPECT_NE(traced.find("HTTP"), std::string::npos) << traced;
    for (const char* secret : {"admin-user-x", "pa55-word-y", "Authorization", "response="}) {
        EXPECT_EQ(traced.find(secret), std::string::npos) << secret << " in " << traced;
    }
    // Nor does the request (with the user name) stay behind the shorter answer in the buffer.
    EXPECT_EQ(std::string(state->response_buffer.data(), 4096).find("admin-user-x"),
              std::string::npos);
}

TEST_F(HttpGet, AnswersThatAreStillPages) {
    struct Case {
        const char* name;
        std::string answer;
    };
    const Case cases[] = {
        {"401 without a challenge",
         test::http_answer("HTTP/1.1 401 Unauthorized", "", test::STATUS_PAGE)},
        {"401 whose challenge has no nonce",
         test::http_answer("HTTP/1.1 401 Unauthorized",
                           "WWW-Authenticate: Digest realm=\"ZOQ\"\r\n", test::STATUS_PAGE)},
        {"HTTP/1.0", "HTTP/1.0 200 OK\r\n\r\n" + test::STATUS_PAGE},
        {"404", test::http_answer("HTTP/1.1 404 Not Found", "", test::STATUS_PAGE)},
        {"not HTTP at all", test::STATUS_PAGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        state = std::make_unique<UpgradeState>();
        state->instance = &ui;
        FakeDevice device([&](int, const std::string&) {
            return Reply{Reply::Close, c.answer, {}};
        });
        ASSERT_TRUE(device.ok());
        EXPECT_EQ(get(), static_cast<int>(c.answer.size()));
        EXPECT_STREQ(state->device_info.software_version.data(), "3.1.4(a)");
        EXPECT_STREQ(state->digest.nonce.data(), "");
    }
}

TEST_F(HttpGet, MissingLabelKeepsTheEarlierValue) {
    FakeDevice device([&](int index, const std::string&) {
        std::string page = test::STATUS_PAGE;
        if (index == 1) {
            page = "<td>Product Name:</td><td>ZOQ-9999</td>";  // nothing else this time
        }
        return Reply{Reply::Close, test::page_answer(page), {}};
    });
    ASSERT_TRUE(device.ok());
    EXPECT_GT(get(), 0);
    EXPECT_GT(get(), 0);
    EXPECT_STREQ(state->device_info.product_name.data(), "ZOQ-9999");
    EXPECT_STREQ(state->device_info.serial_number.data(), "SN0123456");
    EXPECT_STREQ(state->device_info.software_version.data(), "3.1.4(a)");
}

TEST_F(HttpGet, StoredChallengeWithoutPasswordSendsNoCredentials) {
    copy_text(state->digest.realm, "ZOQ");
    copy_text(state->digest.nonce, "n");
    copy_text(state->digest.username, "admin");
    FakeDevice device([&](int, const std::string&) {
        return Reply{Reply::Close, test::page_answer(), {}};
    });
    ASSERT_TRUE(device.ok());
    EXPECT_GT(get(), 0);
    EXPECT_EQ(device.received().at(0).request, PLAIN_REQUEST);
    EXPECT_EQ(state->digest.nonce_count, 0u);
}

TEST_F(HttpGet, ResetAfterSomeBytesKeepsWhatCame) {
    const std::string part = "HTTP/1.1 200 OK\r\n\r\n<td>Product Name:</td><td>ZOQ-4502</td>";
    FakeDevice device([&](int, const std::string&) { return Reply{Reply::Reset, part, {}}; });
    ASSERT_TRUE(device.ok());
    EXPECT_EQ(get(), static_cast<int>(part.size()));
    EXPECT_STREQ(state->device_info.product_name.data(), "ZOQ-4502");
}

TEST_F(HttpGet, NothingBackIsZeroAndChangesNothing) {
    for (auto after : {Reply::Close, Reply::Reset}) {
        copy_text(state->device_info.product_name, "earlier");
        FakeDevice device([&](int, const std::string&) { return Reply{after, "", {}}; });
        ASSERT_TRUE(device.ok());
        EXPECT_EQ(get(), 0);
        EXPECT_STREQ(state->device_info.product_name.data(), "earlier");
        EXPECT_EQ(state->response_buffer[0], '\0');
    }
}

TEST_F(HttpGet, NoDeviceIsZeroAfterTenAttemptsAndChangesNothing) {
    copy_text(state->digest.username, "admin");
    copy_text(state->digest.password, "secret");
    state->response_buffer.fill('#');
    set_trace_enabled(true);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(get(), 0);
    std::string traced = ::testing::internal::GetCapturedStderr();
    set_trace_enabled(false);
    int attempts = 0;
    for (std::size_t at = traced.find("HTTP connect failed"); at != std::string::npos;
         at = traced.find("HTTP connect failed", at + 1)) {
        ++attempts;
    }
    EXPECT_EQ(attempts, 10) << traced;
    // Nothing was sent: no request bytes, no nonce count used up.
    EXPECT_EQ(state->response_buffer[0], '#');
    EXPECT_EQ(state->digest.nonce_count, 0u);
    EXPECT_STREQ(state->digest.uri.data(), "");
    EXPECT_TRUE(ui.records().empty());
}

TEST_F(HttpGet, AnswerReachingTheCapacityIsCutAndTerminated) {
    const std::string big = test::page_answer() + std::string(300000, 'x');
    const std::string exact = "HTTP/1.1 200 OK\r\n\r\nProduct Name:<b>" + std::string(65, 'p');
    ASSERT_EQ(exact.size(), 100u);
    const std::pair<const std::string*, int> cases[] = {
        {&big, RESPONSE_CAPACITY}, {&big, 100}, {&exact, 100}};
    for (const auto& [answer, capacity] : cases) {
        SCOPED_TRACE(capacity);
        const std::string& bytes = *answer;
        FakeDevice device([&bytes](int, const std::string&) {
            return Reply{Reply::Close, bytes, {}};
        });
        ASSERT_TRUE(device.ok());
        state->response_buffer.fill('#');
        EXPECT_EQ(get(STATUS_PAGE_PATH, capacity), capacity);
        EXPECT_EQ(state->response_buffer[static_cast<std::size_t>(capacity)], '\0');
        EXPECT_EQ(buffer(), answer->substr(0, static_cast<std::size_t>(capacity)));
        if (capacity < RESPONSE_CAPACITY) {
            EXPECT_EQ(state->response_buffer[static_cast<std::size_t>(capacity) + 1], '#');
        }
    }
    // The value ran up to the cut.
    EXPECT_EQ(std::string(state->device_info.product_name.data()), std::string(65, 'p'));
}

// Holds the local ports from the first on, `count` of them, on the PC address.
std::vector<Socket> take_local_ports(int count) {
    std::vector<Socket> blockers;
    for (int port = HTTP_LOCAL_PORT; port < HTTP_LOCAL_PORT + count; ++port) {
        Socket s(open_tcp_socket());
        sockaddr_in addr{};
        fill_sockaddr(PC_IP, static_cast<std::uint16_t>(port), addr);
        EXPECT_TRUE(bind_socket(s.fd(), addr)) << port;
        blockers.push_back(std::move(s));
    }
    return blockers;
}

TEST_F(HttpGet, TakenLocalPortsMoveToTheNextUpToTheHundredth) {
    for (int taken : {1, 100}) {
        FakeDevice device([&](int, const std::string&) {
            return Reply{Reply::Close, test::page_answer(), {}};
        });
        ASSERT_TRUE(device.ok());
        const std::vector<Socket> blockers = take_local_ports(taken);
        EXPECT_GT(get(), 0) << taken;
        ASSERT_EQ(device.received().size(), 1u) << taken;
        EXPECT_EQ(device.received().at(0).peer_port, HTTP_LOCAL_PORT + taken);
    }
}

TEST_F(HttpGet, UpgradeTriggerPathIsSentAsGiven) {
    FakeDevice device([&](int, const std::string&) {
        return Reply{Reply::Close, "HTTP/1.1 200 OK\r\n\r\n", {}};
    });
    ASSERT_TRUE(device.ok());
    const char* path = "/admin/upgrade?tftp://127.0.0.1:69/zoq1a2b.bi1";
    EXPECT_GT(get(path), 0);
    EXPECT_EQ(device.received().at(0).request,
              std::string("GET ") + path + " HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n");
}

TEST_F(HttpGet, NoFreeLocalPortIsAFailureAndNothingIsSent) {
    FakeDevice device([&](int, const std::string&) { return Reply{Reply::Close, "", {}}; });
    ASSERT_TRUE(device.ok());
    const std::vector<Socket> blockers = take_local_ports(101);
    const HttpResult r = http_get({PC_IP, HTTP_LOCAL_PORT, DEVICE_IP, 80}, STATUS_PAGE_PATH,
                                  state->response_buffer.data(), RESPONSE_CAPACITY, share());
    EXPECT_EQ(r.outcome, HttpOutcome::NoLocalPort);
    EXPECT_TRUE(device.received().empty());
}

}  // namespace
}  // namespace zoq
