// SPDX-License-Identifier: MIT
#include "tests/support/netns.h"

#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/process.h"

namespace zoq::test {
namespace {

// The two ends of the LAN, once enter_lan has built it.
int pc_network = -1;
int device_network = -1;

bool write_file(const char* path, const std::string& text) {
    int fd = ::open(path, O_WRONLY);
    if (fd < 0) return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

bool fail(const char* what) {
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(errno));
    return false;
}

ifreq request_for(const char* name) {
    ifreq req{};
    std::strncpy(req.ifr_name, name, IFNAMSIZ - 1);
    return req;
}

void put_ipv4(sockaddr& to, std::uint32_t ip) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(ip);
    std::memcpy(&to, &addr, sizeof addr);
}

// A process that makes a network of its own and holds it until `release_fd` closes: its
// process id names the network for `ip link ... netns PID`. -1 when it cannot.
pid_t start_network_holder(int& release_fd) {
    int ready[2];
    int hold[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return -1;
    if (::pipe2(hold, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return -1;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ::close(hold[1]);
        if (::unshare(CLONE_NEWNET) != 0) ::_exit(1);
        char byte = 1;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
        while (::read(hold[0], &byte, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    char byte = 0;
    if (pid < 0 || ::read(ready[0], &byte, 1) != 1) {
        ::close(ready[0]);
        ::close(hold[1]);
        if (pid > 0) ::waitpid(pid, nullptr, 0);
        return -1;
    }
    ::close(ready[0]);
    release_fd = hold[1];
    return pid;
}

}  // namespace

bool run_ip(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/sbin/ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string output;
    if (run_program(argv, &output, 10000) == 0) return true;
    std::string line;
    for (const auto& a : argv) line += a + " ";
    std::fprintf(stderr, "%sfailed: %s\n", line.c_str(), output.c_str());
    return false;
}

bool set_link_up(const char* name) {
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return fail("socket");
    ifreq req = request_for(name);
    bool ok = ::ioctl(s, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(s, SIOCSIFFLAGS, &req) == 0;
    if (!ok) std::fprintf(stderr, "cannot bring %s up: %s\n", name, std::strerror(errno));
    ::close(s);
    return ok;
}

bool enter_private_network() {
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    int flags = CLONE_NEWNET;
    if (uid != 0) flags |= CLONE_NEWUSER;
    if (::unshare(flags) != 0 && !(flags & CLONE_NEWUSER) &&
        ::unshare(CLONE_NEWNET | CLONE_NEWUSER) != 0) {
        return fail("unshare");
    }
    if (uid != 0) {
        write_file("/proc/self/setgroups", "deny");
        write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    return set_link_up("lo");
}

bool add_address(const char* label, std::uint32_t ip, int prefix) {
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return fail("socket");
    ifreq req = request_for(label);
    put_ipv4(req.ifr_addr, ip);
    bool ok = ::ioctl(s, SIOCSIFADDR, &req) == 0;
    const std::uint32_t mask = prefix <= 0 ? 0u : ~0u << (32 - prefix);
    put_ipv4(req.ifr_netmask, mask);
    ok = ok && ::ioctl(s, SIOCSIFNETMASK, &req) == 0;
    if (!ok) std::fprintf(stderr, "cannot give %s an address: %s\n", label, std::strerror(errno));
    ::close(s);
    return ok;
}

bool add_veth_pair(const char* name, const char* peer) {
    return run_ip({"link", "add", name, "type", "veth", "peer", "name", peer});
}

bool enter_lan() {
    if (!enter_private_network()) return false;
    pc_network = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (pc_network < 0) return fail("the PC's network");
    int release = -1;
    pid_t holder = start_network_holder(release);
    if (holder < 0) return fail("the device's network");
    // The device's end is made in the device's network, named by the holder's process id, as a
    // person would with `ip link set ... netns PID`.
    bool ok = run_ip({"link", "add", LAN_PC_LINK, "type", "veth", "peer", "name", LAN_DEVICE_LINK,
                      "netns", std::to_string(holder)});
    if (ok) {
        device_network =
            ::open(("/proc/" + std::to_string(holder) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
        ok = device_network >= 0 || fail("the device's network");
    }
    ::close(release);
    ::waitpid(holder, nullptr, 0);
    ok = ok && add_address(LAN_PC_LINK, LAN_PC_IP, 24) && set_link_up(LAN_PC_LINK);
    bool device_ok = false;
    ok = ok && in_device_network([&] {
             device_ok = set_link_up("lo") && add_address(LAN_DEVICE_LINK, LAN_DEVICE_IP, 24) &&
                         set_link_up(LAN_DEVICE_LINK);
         });
    return ok && device_ok;
}

bool in_device_network(const std::function<void()>& body) {
    if (device_network < 0) return false;
    if (::setns(device_network, CLONE_NEWNET) != 0) return fail("entering the device's network");
    body();
    if (::setns(pc_network, CLONE_NEWNET) != 0) return fail("back to the PC's network");
    return true;
}

}  // namespace zoq::test
