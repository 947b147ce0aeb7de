// SPDX-License-Identifier: MIT
// Hostile devices on the HTTP side, through the request runner as the program calls it: an
// answer of 10 MB, headers that never end, a reset in the middle of the page, challenges with
// huge, empty, unterminated or CR LF-laden values, NUL bytes and control characters in the
// five values, and a 401 without a challenge for ever. Each ends in a defined way, and the
// answer never leaves the 131,072-byte buffer (the sanitizer builds watch every byte).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/net/fake_device.h"
#include "web/request.h"

namespace zoq {
namespace {

using test::FakeDevice;
using test::Reply;

struct HostileHttp : ::testing::Test {
    ScriptedToolkit ui;
    std::unique_ptr<UpgradeState> state = std::make_unique<UpgradeState>();
    HostileHttp() {
        state->instance = &ui;
        copy_text(state->device_ip_text, "127.0.0.2");
        state->rng.seed(7);
        ui.set_unscripted_timeout_ms(5000);
    }
    int run() { return test::request_device(*state); }
    int count(const std::string& line) const { return test::count_records(ui, line); }
    // What stands in the buffer after the call, up to its terminator.
    std::string buffer_text() const { return std::string(state->response_buffer.data()); }
    void answer_password() {
        ui.on_open(IDD_PASSWORD,
                   {ScriptAction::type(IDC_PASSWORD, "pw"), ScriptAction::press(ID_OK)});
    }
};

std::string labelled_page(const std::string& product) {
    return "<tr><td>Product Name:</td><td>" + product +
           "</td></tr><tr><td>Serial Number:</td><td>SN1</td></tr>";
}

TEST_F(HostileHttp, TenMegabyteAnswerIsCutAtTheCapacity) {
    std::string page = "HTTP/1.1 200 OK\r\n\r\n" + labelled_page("ZOQ-BIG");
    page.resize(10 * 1024 * 1024, 'x');
    FakeDevice device([&](int, const std::string&) { return Reply{Reply::Close, page, {}}; });
    ASSERT_TRUE(device.ok());
    EXPECT_EQ(run(), RESPONSE_CAPACITY);
    EXPECT_EQ(state->response_buffer[RESPONSE_CAPACITY], '\0');
    EXPECT_EQ(buffer_text().size(), static_cast<std::size_t>(RESPONSE_CAPACITY));
    EXPECT_STREQ(state->device_info.product_name.data(), "ZOQ-BIG");
    EXPECT_STREQ(state->device_info.serial_number.data(), "SN1");
    EXPECT_EQ(count("open 104"), 0);
}

TEST_F(HostileHttp, HeadersThatNeverEndFillTheBufferAndNothingMore) {
    std::string endless = "HTTP/1.1 200 OK\r\nX-Padding: ";
    endless.resize(3 * 1024 * 1024, 'p');
    FakeDevice device([&](int, const std::string&) { return Reply{Reply::Close, endless, {}}; });
    ASSERT_TRUE(device.ok());
    copy_text(state->device_info.product_name, "kept");
    EXPECT_EQ(run(), RESPONSE_CAPACITY);
    EXPECT_EQ(state->response_buffer[RESPONSE_CAPACITY], '\0');
    EXPECT_STREQ(state->device_info.product_name.data(), "kept") << "no label: nothing changes";
}

TEST_F(HostileHttp, ResetInTheMiddleOfThePageKeepsWhatArrived) {
    const std::string whole = test::page_answer();
    const std::string half = whole.substr(0, whole.find("Hardware Version:"));
    FakeDevice device([&](int, const std::string&) { return Reply{Reply::Reset, half, {}}; });
    ASSERT_TRUE(device.ok());
    copy_text(state->device_info.hardware_version, "old hw");
    EXPECT_EQ(run(), static_cast<int>(half.size()));
    EXPECT_EQ(buffer_text(), half);
    EXPECT_STREQ(state->device_info.product_name.data(), "ZOQ-4502");
    EXPECT_STREQ(state->device_info.mac_address.data(), "02:00:00:AA:BB:CC");
    EXPECT_STREQ(state->device_info.hardware_version.data(), "old hw");
}

// A device that challenges once with `params`, then serves the page to whatever comes back.
struct ChallengeCase {
    const char* name;
    std::string params;
    bool usable;  // the runner asks for a password
};
void PrintTo(const ChallengeCase& c, std::ostream* os) {
    *os << c.name;
}

class HostileChallenge : public HostileHttp, public ::testing::WithParamInterface<ChallengeCase> {};

TEST_P(HostileChallenge, EndsWithThePageOrAPromptThenThePage) {
    const ChallengeCase& c = GetParam();
    FakeDevice device([&](int index, const std::string&) {
        if (index == 0) return Reply{Reply::Close, test::challenge_answer(c.params), {}};
        return Reply{Reply::Close, test::page_answer(), {}};
    });
    ASSERT_TRUE(device.ok());
    if (c.usable) answer_password();
    int result = run();
    EXPECT_GT(result, 0);
    EXPECT_EQ(count("open 104"), c.usable ? 1 : 0);
    ASSERT_EQ(device.count(), c.usable ? 2u : 1u);
    if (c.usable) {
        // The repeat is one request, within the buffer, with every value cut to its field.
        const std::string request = device.received()[1].request;
        EXPECT_EQ(request.rfind("GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n", 0), 0u);
        EXPECT_NE(request.find("Authorization: Digest username=\"admin\""), std::string::npos);
        EXPECT_LT(request.size(), 1200u);
        EXPECT_LE(test::auth_param(request, "realm").size(), 127u);
        EXPECT_LE(test::auth_param(request, "nonce").size(), 127u);
        EXPECT_LE(test::auth_param(request, "opaque").size(), 127u);
    } else {
        EXPECT_EQ(result, static_cast<int>(test::challenge_answer(c.params).size()));
    }
    EXPECT_TRUE(std::memchr(state->digest.qop.data(), 0, state->digest.qop.size()));
    EXPECT_TRUE(std::memchr(state->digest.algorithm.data(), 0, state->digest.algorithm.size()));
}

const std::string HUGE_TEXT(20000, 'h');

INSTANTIATE_TEST_SUITE_P(
    Values, HostileChallenge,
    ::testing::Values(
        ChallengeCase{"huge",
                      "realm=\"" + HUGE_TEXT + "\", nonce=\"" + HUGE_TEXT + "\", qop=\"" +
                          HUGE_TEXT + "\", algorithm=\"" + HUGE_TEXT + "\", opaque=\"" + HUGE_TEXT +
                          "\"",
                      true},
        ChallengeCase{"empty", "realm=\"\", nonce=\"\", qop=\"\", algorithm=\"\", opaque=\"\"",
                      true},
        ChallengeCase{"unterminated_nonce", "realm=\"ZOQ\", nonce=\"abc", true},
        ChallengeCase{"unterminated_realm_no_nonce", "realm=\"ZOQ, qop=auth", false},
        ChallengeCase{"crlf_laden", "realm=\"Z\r\nQ\", nonce=\"n\r\n\r\nx\", qop=\"auth\"", true},
        ChallengeCase{"nul_before_nonce", std::string("realm=\"ZOQ\"\0, nonce=\"n\"", 23), false}),
    [](const ::testing::TestParamInfo<ChallengeCase>& info) { return info.param.name; });

TEST_F(HostileHttp, NulAndControlCharactersInTheValues) {
    // Control characters are the device's own bytes and are kept; a NUL ends the page for the
    // program, as it ends any C text, so labels behind it are not seen.
    const std::string controls = "\x01\x1b[2J\x7f\t";
    std::string body = "Product Name:<td>" + controls + "</td>MAC Address:<td>\r\n</td>" +
                       "Software Version:<td>1.0" + std::string(1, '\0') +
                       "X</td>Serial Number:<td>after-nul</td>";
    FakeDevice device([&](int, const std::string&) {
        return Reply{Reply::Close, test::http_answer("HTTP/1.1 200 OK", "", body), {}};
    });
    ASSERT_TRUE(device.ok());
    copy_text(state->device_info.serial_number, "earlier");
    EXPECT_GT(run(), 0);
    EXPECT_EQ(std::string(state->device_info.product_name.data()), controls);
    EXPECT_EQ(std::string(state->device_info.mac_address.data()), "\r\n");
    EXPECT_EQ(std::string(state->device_info.software_version.data()), "1.0");
    EXPECT_STREQ(state->device_info.serial_number.data(), "earlier");
}

TEST_F(HostileHttp, UnauthorizedWithoutChallengeForEverIsAPageEachTime) {
    FakeDevice device([](int, const std::string&) {
        return Reply{Reply::Close,
                     test::http_answer("HTTP/1.1 401 Unauthorized", "", "<html>401</html>"),
                     {}};
    });
    ASSERT_TRUE(device.ok());
    for (int i = 0; i < 3; ++i) EXPECT_GT(run(), 0);
    EXPECT_EQ(device.count(), 3u) << "each call one request: no repeat, no prompt";
    EXPECT_EQ(count("open 104"), 0);
}

}  // namespace
}  // namespace zoq
