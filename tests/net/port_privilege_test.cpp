// SPDX-License-Identifier: MIT
// The right to bind the listener's low ports, kept in a helper while this process gives up
// every capability: what the process and the helper hold (read from /proc), what each may
// bind, and that releasing ends the helper. Each test runs in a process of its own (ctest), so
// dropping capabilities here touches nothing else.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <string>

#include "common/net.h"
#include "common/trace.h"
#include "os/privileges.h"
#include "os/socket.h"
#include "tftp/listener.h"

namespace zoq {
namespace {

constexpr std::uint32_t LOOPBACK = 0x7F000001;
constexpr std::uint64_t NET_BIND_SERVICE = std::uint64_t{1} << 10;

// One "CapXxx:" line of a /proc status file, as a number; all ones when missing.
std::uint64_t capability_line(const std::string& status_path, const std::string& key) {
    std::ifstream status(status_path);
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stoull(line.substr(key.size() + 1), nullptr, 16);
    }
    return ~std::uint64_t{0};
}

std::string children_of_this_process() {
    std::ifstream file("/proc/self/task/" + std::to_string(::getpid()) + "/children");
    std::string children;
    std::getline(file, children);
    return children;
}

int udp_socket() {
    return ::socket(AF_INET, SOCK_DGRAM, 0);
}

std::uint16_t bound_port(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Plain sockets API, so that the drop is checked by what the kernel refuses, not by our code.
int plain_bind(int socket, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(LOOPBACK);
    return ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
}

TEST(PortPrivilege, HelperKeepsOnlyTheListenerPortsAndEveryCapabilityLeavesThisProcess) {
    ASSERT_NE(capability_line("/proc/self/status", "CapPrm") & NET_BIND_SERVICE, 0u)
        << "the test needs to start with cap_net_bind_service";
    std::unique_ptr<PortBinder> binder = keep_port_privilege(69, 168);
    ASSERT_TRUE(binder);

    for (const char* key : {"CapEff", "CapPrm", "CapInh", "CapAmb", "CapBnd"}) {
        EXPECT_EQ(capability_line("/proc/self/status", key), 0u) << key;
    }
    const std::string helper = children_of_this_process();
    ASSERT_FALSE(helper.empty());
    const std::string helper_status = "/proc/" + std::to_string(std::stoi(helper)) + "/status";
    EXPECT_EQ(capability_line(helper_status, "CapEff"), NET_BIND_SERVICE);
    EXPECT_EQ(capability_line(helper_status, "CapPrm"), NET_BIND_SERVICE);
    EXPECT_EQ(capability_line(helper_status, "CapInh"), 0u);
    EXPECT_EQ(capability_line(helper_status, "CapBnd"), NET_BIND_SERVICE);

    Socket direct(udp_socket());
    EXPECT_EQ(plain_bind(direct.fd(), 69), EACCES);

    Socket first(udp_socket());
    ASSERT_EQ(binder->bind(first.fd(), LOOPBACK, 69), 0);
    EXPECT_EQ(bound_port(first.fd()), 69);
    Socket taken(udp_socket());
    EXPECT_EQ(binder->bind(taken.fd(), LOOPBACK, 69), EADDRINUSE);
    Socket last(udp_socket());
    EXPECT_EQ(binder->bind(last.fd(), LOOPBACK, 168), 0);
    EXPECT_EQ(bound_port(last.fd()), 168);

    // Outside the listener's range and other kinds of socket: refused, left unbound.
    Socket below(udp_socket());
    EXPECT_EQ(binder->bind(below.fd(), LOOPBACK, 68), EPERM);
    Socket above(udp_socket());
    EXPECT_EQ(binder->bind(above.fd(), LOOPBACK, 169), EPERM);
    EXPECT_EQ(bound_port(above.fd()), 0);
    Socket stream(::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_EQ(binder->bind(stream.fd(), LOOPBACK, 70), EINVAL);
    EXPECT_EQ(bound_port(stream.fd()), 0);
    EXPECT_NE(binder->bind(-1, LOOPBACK, 70), 0);

    binder->release();
    EXPECT_EQ(children_of_this_process(), "");
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    Socket after(udp_socket());
    EXPECT_EQ(binder->bind(after.fd(), LOOPBACK, 70), EACCES);
    binder->release();  // a second release changes nothing
}

TEST(PortPrivilege, ListenerBindsPort69ThroughTheHelperAndSaysWhyWithoutIt) {
    std::unique_ptr<PortBinder> binder = keep_port_privilege(69, 168);
    ASSERT_TRUE(binder);

    Socket blocker(udp_socket());
    ASSERT_EQ(binder->bind(blocker.fd(), LOOPBACK, 69), 0);
    TftpListener listener;
    ASSERT_EQ(tftp_listener_bind(listener, LOOPBACK, binder.get()), ListenerBind::Bound);
    EXPECT_EQ(listener.port, 70);
    EXPECT_EQ(bound_port(listener.socket.fd()), 70);

    // Without the helper, as for a user who did not grant the capability: every port is
    // refused, the trace names the reason, and the listener gives up as it always did.
    set_trace_enabled(true);
    testing::internal::CaptureStderr();
    TftpListener refused;
    EXPECT_EQ(tftp_listener_bind(refused, LOOPBACK, nullptr), ListenerBind::NoPort);
    const std::string trace_text = testing::internal::GetCapturedStderr();
    set_trace_enabled(false);
    int eacces = 0;
    for (std::size_t at = trace_text.find("EACCES"); at != std::string::npos;
         at = trace_text.find("EACCES", at + 1)) {
        ++eacces;
    }
    EXPECT_EQ(eacces, 100) << trace_text;
    EXPECT_NE(trace_text.find("port 69: EACCES"), std::string::npos);
    EXPECT_NE(trace_text.find("port 168: EACCES"), std::string::npos);
}

TEST(PortPrivilege, WithoutTheCapabilityThereIsNoHelper) {
    // Lose cap_net_bind_service the way an ordinary user's process never had it.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    ASSERT_EQ(::syscall(SYS_capget, &header, data), 0);
    data[0].effective &= ~static_cast<std::uint32_t>(NET_BIND_SERVICE);
    data[0].permitted &= ~static_cast<std::uint32_t>(NET_BIND_SERVICE);
    ASSERT_EQ(::syscall(SYS_capset, &header, data), 0);

    EXPECT_FALSE(keep_port_privilege(69, 168));
    EXPECT_EQ(children_of_this_process(), "");
    EXPECT_EQ(capability_line("/proc/self/status", "CapEff"), 0u);
    EXPECT_EQ(capability_line("/proc/self/status", "CapPrm"), 0u);
    Socket direct(udp_socket());
    EXPECT_EQ(bind_port(direct.fd(), LOOPBACK, 69), EACCES);
    EXPECT_STREQ(error_name(EACCES), "EACCES");
}

}  // namespace
}  // namespace zoq
