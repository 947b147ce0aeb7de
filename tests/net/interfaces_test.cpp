// SPDX-License-Identifier: MIT
// The PC's addresses as the kernel lists them, in the test's private network, with interfaces a
// desk may really have.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/startup.h"
#include "tests/support/netns.h"

namespace zoq {
namespace {

// A tun interface is up with no address at all, not even a link-layer one: the interface list
// gives it an entry without an address (VPN clients and point-to-point links look like this).
TEST(SystemAddresses, AnInterfaceUpWithoutAnyAddressIsNeitherReadNorListed) {
    const int tun = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    // The device is root's alone, also inside the test's user namespace; CI runs as root.
    if (tun < 0 && (errno == EACCES || errno == EPERM)) GTEST_SKIP() << "/dev/net/tun is root's";
    ASSERT_GE(tun, 0) << "/dev/net/tun: " << std::strerror(errno);
    ifreq req{};
    req.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(req.ifr_name, "zoq-tun", IFNAMSIZ - 1);
    ASSERT_EQ(::ioctl(tun, TUNSETIFF, &req), 0) << std::strerror(errno);
    ASSERT_TRUE(test::set_link_up("zoq-tun"));

    const std::vector<InterfaceAddress> all = system_interface_addresses();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].ip, 0x7F000001u);
    EXPECT_TRUE(all[0].up && all[0].loopback);
    EXPECT_EQ(system_ipv4_addresses(), std::vector<std::uint32_t>{0x7F000001u});
    ::close(tun);
}

}  // namespace
}  // namespace zoq
