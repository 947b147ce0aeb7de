// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "app/startup.h"
#include "app/trigger.h"
#include "common/clock.h"
#include "common/net.h"
#include "common/random.h"
#include "common/text.h"
#include "os/socket.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "tests/support/system_net.h"
#include "ui/dialog_units.h"
#include "ui/helpers.h"
#include "ui/ipv4.h"

namespace zoq {
namespace {

TEST(Random, FollowsTheLinearCongruentialSequence) {
    Random r;
    r.seed(1);
    // state = state * 214013 + 2531011; draw = (state >> 16) & 0x7FFF
    EXPECT_EQ(r.next(), 41);
    EXPECT_EQ(r.next(), 18467);
    EXPECT_EQ(r.next(), 6334);
    EXPECT_EQ(r.next(), 26500);
    r.seed(0xFFFFFFFFu);
    for (int i = 0; i < 100000; ++i) {
        int v = r.next();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 0x7FFF);
    }
}

TEST(Text, CopiesAreBoundedByTheField) {
    Text<8> field;
    field.fill('x');
    EXPECT_EQ(copy_text(field, "abc"), 3u);
    EXPECT_EQ(text_of(field), "abc");
    EXPECT_EQ(copy_text(field, "0123456789"), 7u);
    EXPECT_EQ(text_of(field), "0123456");
    EXPECT_EQ(copy_text(field, std::string_view("ab\0cd", 5)), 2u);
    EXPECT_EQ(text_of(field), "ab");
    Text<128> user;
    EXPECT_EQ(copy_text(user.data(), 127, std::string(200, 'u')), 126u);
    EXPECT_EQ(dotted(0xC0A8010Au), "192.168.1.10");
}

TEST(ByteOrder, BigEndianHelpersSocketAddressesAndTheUpgradeLink) {
    std::uint8_t b[2];
    put_be16(b, 0x12345);
    EXPECT_EQ(b[0], 0x23);
    EXPECT_EQ(b[1], 0x45);
    EXPECT_EQ(get_be16(b), 0x2345);
    std::uint8_t high[2] = {0xFF, 0xFE};
    EXPECT_EQ(get_be16(high), 0xFFFE);

    sockaddr_in addr;
    std::memset(&addr, 0xAB, sizeof addr);
    fill_sockaddr(0xC0A8010Au, 69, addr);
    EXPECT_EQ(addr.sin_family, AF_INET);
    EXPECT_EQ(addr.sin_port, htons(69));
    EXPECT_EQ(addr.sin_addr.s_addr, htonl(0xC0A8010Au));
    EXPECT_EQ(static_cast<unsigned char>(addr.sin_zero[0]), 0xAB);  // left as it was
    fill_sockaddr(0, 80, addr);
    EXPECT_EQ(addr.sin_addr.s_addr, htonl(INADDR_ANY));
    std::uint32_t host = 1;
    std::uint16_t port = 1;
    fill_sockaddr(0x7F000002u, 23456, addr);
    EXPECT_EQ(read_sockaddr(addr, host, port), 23456);
    EXPECT_EQ(host, 0x7F000002u);
    EXPECT_EQ(port, 23456);
    // Four different octets (and port bytes), so that one out of place shows: a datagram's
    // source as the system gives it, and the link that sends the device to the PC.
    addr.sin_addr.s_addr = htonl(0x0A141E28u);  // 10.20.30.40
    addr.sin_port = htons(0x1234);
    EXPECT_EQ(read_sockaddr(addr, host, port), 0x1234);
    EXPECT_EQ(host, 0x0A141E28u);
    EXPECT_EQ(upgrade_request_path(0x0A141E28u, 69, "/zoq1a2b.bi1"),
              "/admin/upgrade?tftp://10.20.30.40:69/zoq1a2b.bi1");
    EXPECT_EQ(upgrade_request_path(0xC0A84D0Au, 168, "/zoq7fff.bi1"),
              "/admin/upgrade?tftp://192.168.77.10:168/zoq7fff.bi1");
    EXPECT_EQ(upgrade_request_path(0xFFFEFDFCu, 65535, "/zoq0.bi1"),
              "/admin/upgrade?tftp://255.254.253.252:65535/zoq0.bi1");
}

struct Ipv4Case {
    const char* text;
    Ipv4Result code;
    std::uint32_t address;
};

TEST(ParseIpv4, ResultCodesAndAddresses) {
    const Ipv4Case cases[] = {
        {"192.168.0.10", Ipv4Result::Ok, 0xC0A8000Au},
        {"010.001.000.001", Ipv4Result::Ok, 0x0A010001u},
        {"192*168*0*10", Ipv4Result::Ok, 0xC0A8000Au},
        {"192..168.0.10", Ipv4Result::Ok, 0xC0A8000Au},
        {".192.168.0.10", Ipv4Result::Ok, 0xC0A8000Au},
        {"192.168.0.10.", Ipv4Result::Ok, 0xC0A8000Au},
        {"255.255.255.255", Ipv4Result::Ok, 0xFFFFFFFFu},
        {"0.0.0.0", Ipv4Result::Ok, 0},
        {"1.2.3.4.5", Ipv4Result::TooManyParts, 0},
        {"256.1.1.1", Ipv4Result::PartTooLarge, 0},
        {"2550.1.1.1", Ipv4Result::PartTooLarge, 0},  // past 255 while the digits still come
        {"99999999999.1", Ipv4Result::PartTooLarge, 0},
        {"4294967296.1.1", Ipv4Result::PartTooLarge, 0},
        {"300.1.1.1.1", Ipv4Result::PartTooLarge, 0},
        {"10.20.30", Ipv4Result::TooFewParts, 0},
        {"10.20.30.", Ipv4Result::TooFewParts, 0},
        {"1.2.34", Ipv4Result::BadLength, 0},
        {"", Ipv4Result::BadLength, 0},
        {"1234567890123456", Ipv4Result::BadLength, 0},
        {"1.2.3.4 plus a very long tail that never ends", Ipv4Result::BadLength, 0},
        {"1.2.3.a", Ipv4Result::BadCharacter, 0},
        {"1.2.3.-4", Ipv4Result::BadCharacter, 0},
        {"1.2.3.4 ", Ipv4Result::BadCharacter, 0},
        {"1.2.3.\xC3\xA9", Ipv4Result::BadCharacter, 0},
    };
    for (const auto& c : cases) {
        const Ipv4Parse parsed = parse_ipv4(c.text);
        EXPECT_EQ(parsed.result, c.code) << c.text;
        EXPECT_EQ(parsed.address, c.address) << c.text;
    }
}

TEST(CenterWindow, HalvesTowardsMinusInfinity) {
    EXPECT_EQ(centered_position({0, 0, 300, 200}, {1280, 1024}).x, 490);
    EXPECT_EQ(centered_position({0, 0, 300, 200}, {1280, 1024}).y, 412);
    EXPECT_EQ(centered_position({10, 10, 311, 211}, {1280, 1024}).x, 489);
    // Wider and taller than the screen: negative coordinates, -3 >> 1 == -2.
    Point p = centered_position({0, 0, 1283, 1027}, {1280, 1024});
    EXPECT_EQ(p.x, -2);
    EXPECT_EQ(p.y, -2);
}

// Windows' MulDiv answers: halves round away from zero on both sides, a zero divisor and a
// result beyond 32 bits give -1.
TEST(DialogUnits, RoundLikeMulDiv) {
    const DialogUnits units{6, 13};
    EXPECT_EQ(units.x(165), 248);  // 247.5
    EXPECT_EQ(units.y(143), 232);  // 232.375
    EXPECT_EQ(units.y(4), 7);      // 6.5
    EXPECT_EQ(units.x(-165), -248);
    EXPECT_EQ(mul_div(-3, 1, 2), -2);
    EXPECT_EQ(mul_div(3, -1, 2), -2);
    EXPECT_EQ(mul_div(3, 1, -2), -2);
    EXPECT_EQ(mul_div(-3, 1, -2), 2);
    EXPECT_EQ(mul_div(7, 1, 0), -1);
    EXPECT_EQ(mul_div(2147483647, 2, 1), -1);
    EXPECT_EQ(mul_div(2147483647, 2, 2), 2147483647);
    EXPECT_EQ(average_char_width(338), 7);  // two letters 13 pixels wide: 6.5, up
}

TEST(ShowError, UsesTheProgramsCaptionByDefault) {
    ScriptedToolkit ui;
    show_error(ui, "Upgrade Failed: User Abort");
    show_error(ui, "Invalid IP Address", "Error");
    auto r = ui.records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], "message ZOQ Firwmare Upgrade Error|Upgrade Failed: User Abort");
    EXPECT_EQ(r[1], "message Error|Invalid IP Address");
}

TEST(LocalIps, FirstEightInOrderAndTheFirstIsTheDefault) {
    auto state = std::make_unique<UpgradeState>();
    std::vector<std::uint32_t> two = {0xC0A8010Au, 0x0A000005u};
    collect_local_ips(*state, two);
    EXPECT_EQ(state->local_ips[0], 0xC0A8010Au);
    EXPECT_EQ(state->local_ips[1], 0x0A000005u);
    for (std::size_t i = 2; i < 8; ++i) EXPECT_EQ(state->local_ips[i], 0u);
    EXPECT_EQ(state->local_ip, 0xC0A8010Au);

    std::vector<std::uint32_t> ten;
    for (std::uint32_t i = 1; i <= 10; ++i) ten.push_back(0x0A000000u + i);
    collect_local_ips(*state, ten);
    EXPECT_EQ(state->local_ips[7], 0x0A000008u);
    collect_local_ips(*state, {});
    EXPECT_EQ(state->local_ip, 0u);
    EXPECT_EQ(state->local_ips[0], 0u);
}

TEST(LocalIps, LoopbackComesLast) {
    auto all = system_ipv4_addresses();
    bool seen_loopback = false;
    for (std::uint32_t ip : all) {
        bool loopback = (ip >> 24) == 127;
        EXPECT_FALSE(seen_loopback && !loopback) << "a LAN address after loopback";
        seen_loopback = seen_loopback || loopback;
    }
}

TEST(StartUp, SeedsFromTheClockAndClearsTheDigest) {
    auto state = std::make_unique<UpgradeState>();
    ScriptedToolkit ui;
    FastClock clock(12345);
    state->instance = &ui;
    state->clock = &clock;
    copy_text(state->digest.password, "left over");
    start_up(*state);
    EXPECT_EQ(state->digest.password[0], 0);
    Random expected;
    expected.seed(12345);
    EXPECT_EQ(state->rng.next(), expected.next());
    EXPECT_EQ(text_of(state->model_name), "ZOQ-4502");
    EXPECT_TRUE(ui.records().empty()) << "start-up shows nothing when all is well";
}

TEST(Templates, EveryTemplateHasUniqueControlIds) {
    const int ids[] = {139, 101, 305, 103, 104, 105, 114, 110, 111, 113};
    ASSERT_EQ(all_templates().size(), 10u);
    for (int id : ids) {
        const DialogTemplate* t = find_template(id);
        ASSERT_NE(t, nullptr) << id;
        EXPECT_STREQ(t->font, "MS Sans Serif");
        EXPECT_EQ(t->font_points, 8);
        for (std::size_t i = 0; i < t->controls.size(); ++i) {
            for (std::size_t j = i + 1; j < t->controls.size(); ++j) {
                if (t->controls[i].id == NO_CONTROL_ID) continue;
                EXPECT_NE(t->controls[i].id, t->controls[j].id) << "template " << id;
            }
        }
    }
    EXPECT_EQ(find_template(999), nullptr);
    EXPECT_EQ(find_template(139)->controls[1].style & STYLE_DEFAULT_BUTTON, STYLE_DEFAULT_BUTTON);
    EXPECT_EQ(find_template(105)->width, 186);
}

}  // namespace
}  // namespace zoq
