// SPDX-License-Identifier: MIT
#include "tests/support/netns.h"

#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace zoq::test {
namespace {

bool write_file(const char* path, const std::string& text) {
    int fd = ::open(path, O_WRONLY);
    if (fd < 0) return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

}  // namespace

bool enter_private_network() {
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    int flags = CLONE_NEWNET;
    if (uid != 0) flags |= CLONE_NEWUSER;
    if (::unshare(flags) != 0 && !(flags & CLONE_NEWUSER) &&
        ::unshare(CLONE_NEWNET | CLONE_NEWUSER) != 0) {
        std::fprintf(stderr, "unshare: %s\n", std::strerror(errno));
        return false;
    }
    if (uid != 0) {
        write_file("/proc/self/setgroups", "deny");
        write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return false;
    ifreq req{};
    std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(s, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(s, SIOCSIFFLAGS, &req) == 0;
    ::close(s);
    if (!ok) std::fprintf(stderr, "cannot bring lo up: %s\n", std::strerror(errno));
    return ok;
}

bool add_loopback_address(std::uint32_t ip, const char* label) {
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return false;
    ifreq req{};
    std::strncpy(req.ifr_name, label, IFNAMSIZ - 1);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(ip);
    std::memcpy(&req.ifr_addr, &addr, sizeof addr);
    const bool ok = ::ioctl(s, SIOCSIFADDR, &req) == 0;
    if (!ok) std::fprintf(stderr, "cannot add an address to lo: %s\n", std::strerror(errno));
    ::close(s);
    return ok;
}

}  // namespace zoq::test
