// SPDX-License-Identifier: MIT
// Which of the PC's addresses the program keeps, and in which order, from interface lists
// given by the test instead of the host's.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/startup.h"
#include "os/interfaces.h"

namespace zoq {
namespace {

using Ips = std::vector<std::uint32_t>;

constexpr InterfaceAddress up(std::uint32_t ip) {
    return {ip, true, false};
}
constexpr InterfaceAddress down(std::uint32_t ip) {
    return {ip, false, false};
}
constexpr InterfaceAddress loopback(std::uint32_t ip, bool is_up = true) {
    return {ip, is_up, true};
}

TEST(OrderLocalIps, UpOnlyWithoutTheWildcardLanFirstLoopbackLast) {
    const InterfaceAddress list[] = {
        loopback(0x7F000001),         // 127.0.0.1, listed first by the system
        up(0xC0A8010A),               // 192.168.1.10
        down(0x0A000005),             // 10.0.0.5 on an interface that is down
        up(0),                        // 0.0.0.0
        loopback(0x7F000009, false),  // a loopback that is down
        up(0x0A010203),               // 10.1.2.3
        loopback(0x0A0000FE),         // a service address on a loopback: loopback all the same
    };
    EXPECT_EQ(order_local_ips(list), (Ips{0xC0A8010A, 0x0A010203, 0x7F000001, 0x0A0000FE}));
}

TEST(OrderLocalIps, AtMostEightInTheKeptOrder) {
    std::vector<InterfaceAddress> list = {loopback(0x7F000001)};
    for (std::uint32_t i = 1; i <= 9; ++i) list.push_back(up(0x0A000000 + i));
    Ips first_eight;
    for (std::uint32_t i = 1; i <= 8; ++i) first_eight.push_back(0x0A000000 + i);
    // Nine LAN addresses leave no room for the loopback.
    EXPECT_EQ(order_local_ips(list), first_eight);

    list = {loopback(0x7F000001), loopback(0x7F000002), loopback(0x7F000003)};
    for (std::uint32_t i = 1; i <= 6; ++i) list.push_back(up(0x0A000000 + i));
    Ips expected(first_eight.begin(), first_eight.begin() + 6);
    expected.push_back(0x7F000001);
    expected.push_back(0x7F000002);
    EXPECT_EQ(order_local_ips(list), expected);
}

TEST(OrderLocalIps, OnlyLoopbackOrNothing) {
    const InterfaceAddress only_loopback[] = {down(0xC0A80001), loopback(0x7F000001)};
    EXPECT_EQ(order_local_ips(only_loopback), Ips{0x7F000001});
    const InterfaceAddress nothing_up[] = {down(0xC0A80001), up(0), loopback(0x7F000001, false)};
    EXPECT_EQ(order_local_ips(nothing_up), Ips{});
    EXPECT_EQ(order_local_ips({}), Ips{});
}

}  // namespace
}  // namespace zoq
