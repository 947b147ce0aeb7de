// SPDX-License-Identifier: MIT
// The bind helper (zoq-upgrade-bind) as its own program, driven over its socket pair as any local
// program could: what it binds, what it refuses, what it leaves open, when it leaves. Then the
// listener's port search through it, and without it. The helper is started as root with a
// bounding set of cap_net_bind_service alone, which is then all it holds, the same as an
// ordinary user's process gets from the file capability. Each test runs in a process of its
// own (ctest), so dropping capabilities here touches nothing else.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/net.h"
#include "common/trace.h"
#include "os/privileges.h"
#include "os/socket.h"
#include "tftp/listener.h"

namespace zoq {
namespace {

constexpr std::uint32_t LOOPBACK = 0x7F000001;
constexpr int NET_BIND_SERVICE = 10;
const std::string HELPER = ZOQ_BINARY_DIR "/zoq-upgrade-bind";

// Every capability but cap_net_bind_service leaves the bounding set: what root executes from
// here on holds that one alone.
void bound_to_net_bind_service() {
    for (int capability = 0; ::prctl(PR_CAPBSET_READ, capability, 0, 0, 0) >= 0; ++capability) {
        if (capability != NET_BIND_SERVICE) {
            ASSERT_EQ(::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0), 0) << capability;
        }
    }
}

// This process may no longer bind a low port itself.
void lose_net_bind_service() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    ASSERT_EQ(::syscall(SYS_capget, &header, data), 0);
    data[0].effective &= ~(1u << NET_BIND_SERVICE);
    data[0].permitted &= ~(1u << NET_BIND_SERVICE);
    ASSERT_EQ(::syscall(SYS_capset, &header, data), 0);
}

// The helper with one end of a fresh pair as descriptor 0, and the other end here.
struct HelperRun {
    Socket channel;
    pid_t pid = -1;

    explicit HelperRun(bool with_channel = true) {
        int pair[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        // Left open by a careless caller, which the helper closes; without a pair, its stdin
        // is a socket of the wrong kind.
        int stray = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        pid = ::fork();
        if (pid == 0) {
            ::dup2(with_channel ? pair[1] : stray, 0);
            char* argv[] = {const_cast<char*>(HELPER.c_str()), nullptr};
            char* envp[] = {nullptr};
            ::execve(HELPER.c_str(), argv, envp);
            ::_exit(127);
        }
        ::close(pair[1]);
        ::close(stray);
        channel = Socket(pair[0]);
    }

    // The answer's code, and the socket it carried (-1 when none).
    int ask(const void* bytes, std::size_t size, int& handed, const std::vector<int>& fds = {}) {
        iovec part{const_cast<void*>(bytes), size};
        alignas(cmsghdr) char control[CMSG_SPACE(8 * sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        if (!fds.empty()) {
            message.msg_control = control;
            message.msg_controllen = CMSG_SPACE(fds.size() * sizeof(int));
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
            std::memcpy(CMSG_DATA(c), fds.data(), fds.size() * sizeof(int));
        }
        EXPECT_EQ(::sendmsg(channel.fd(), &message, MSG_NOSIGNAL), static_cast<ssize_t>(size));
        std::int32_t code = -1;
        iovec answer_part{&code, sizeof code};
        alignas(cmsghdr) char answer_control[CMSG_SPACE(sizeof(int))] = {};
        msghdr answer{};
        answer.msg_iov = &answer_part;
        answer.msg_iovlen = 1;
        answer.msg_control = answer_control;
        answer.msg_controllen = sizeof answer_control;
        handed = -1;
        if (::recvmsg(channel.fd(), &answer, MSG_CMSG_CLOEXEC) != sizeof code) return -1;
        if (cmsghdr* c = CMSG_FIRSTHDR(&answer)) std::memcpy(&handed, CMSG_DATA(c), sizeof handed);
        return code;
    }

    int ask(std::uint32_t ip, std::uint16_t port, int& handed) {
        const std::uint32_t ip_network = htonl(ip);
        const std::uint16_t port_network = htons(port);
        unsigned char request[6];
        std::memcpy(request, &ip_network, 4);
        std::memcpy(request + 4, &port_network, 2);
        return ask(request, sizeof request, handed);
    }

    // Its exit status; -1 when it is still there after five seconds.
    int exit_status() {
        int status = 0;
        for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
            if (waited == 500) return -1;
            ::usleep(10000);
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

    std::vector<std::string> open_descriptors() const {
        std::vector<std::string> names;
        for (const auto& entry :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    ~HelperRun() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

int option(int socket, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    EXPECT_EQ(::getsockopt(socket, level, name, &value, &length), 0);
    return value;
}

sockaddr_in bound_address(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return address;
}

TEST(BindHelper, BindsAFreshUdpSocketOnTheListenerPortsOnlyAndKeepsNothingItWasSent) {
    bound_to_net_bind_service();
    HelperRun helper;
    int handed = -1;

    // Malformed, with and without descriptors: refused, and nothing stays open but the pair.
    const unsigned char short_request[5] = {127, 0, 0, 1, 0};
    const unsigned char long_request[7] = {127, 0, 0, 1, 0, 69, 0};
    const unsigned char good_bytes[6] = {127, 0, 0, 1, 0, 69};
    Socket udp(::socket(AF_INET, SOCK_DGRAM, 0));
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    EXPECT_EQ(helper.ask(short_request, sizeof short_request, handed), EINVAL);
    EXPECT_EQ(helper.ask(long_request, sizeof long_request, handed), EINVAL);
    EXPECT_EQ(helper.ask(good_bytes, sizeof good_bytes, handed, {udp.fd()}), EINVAL);
    EXPECT_EQ(helper.ask(short_request, sizeof short_request, handed,
                         {pipe_ends[0], pipe_ends[1], udp.fd()}),
              EINVAL);
    EXPECT_EQ(helper.ask(good_bytes, sizeof good_bytes, handed,
                         {udp.fd(), udp.fd(), udp.fd(), udp.fd(), udp.fd(), udp.fd()}),
              EINVAL);
    EXPECT_EQ(handed, -1);
    EXPECT_EQ(bound_address(udp.fd()).sin_port, 0);
    EXPECT_EQ(helper.ask(LOOPBACK, 68, handed), EPERM);
    EXPECT_EQ(helper.ask(LOOPBACK, 169, handed), EPERM);
    EXPECT_EQ(helper.open_descriptors(), std::vector<std::string>{"0"});
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);

    // A port that is taken: the error, and the helper waits for the next port.
    Socket taken(::socket(AF_INET, SOCK_DGRAM, 0));
    ASSERT_EQ(bind_port(taken.fd(), LOOPBACK, 168), 0);
    EXPECT_EQ(helper.ask(LOOPBACK, 168, handed), EADDRINUSE);

    ASSERT_EQ(helper.ask(LOOPBACK, 69, handed), 0);
    ASSERT_GE(handed, 0);
    Socket bound(handed);
    EXPECT_EQ(option(bound.fd(), SOL_SOCKET, SO_DOMAIN), AF_INET);
    EXPECT_EQ(option(bound.fd(), SOL_SOCKET, SO_TYPE), SOCK_DGRAM);
    EXPECT_EQ(option(bound.fd(), SOL_SOCKET, SO_PROTOCOL), IPPROTO_UDP);
    EXPECT_EQ(option(bound.fd(), SOL_SOCKET, SO_REUSEADDR), 0);
    EXPECT_EQ(option(bound.fd(), SOL_SOCKET, SO_REUSEPORT), 0);
    const sockaddr_in address = bound_address(bound.fd());
    EXPECT_EQ(ntohs(address.sin_port), 69);
    EXPECT_EQ(ntohl(address.sin_addr.s_addr), LOOPBACK);
    // One socket per run: it leaves after handing it over.
    EXPECT_EQ(helper.exit_status(), 0);
}

TEST(BindHelper, LeavesWhenThePairClosesAndRefusesToRunWithAnyOtherCapabilitiesOrNoPair) {
    {
        HelperRun as_root;  // root's full set: more than the one capability
        EXPECT_EQ(as_root.exit_status(), 65);
        HelperRun no_pair(false);
        EXPECT_EQ(no_pair.exit_status(), 64);
    }
    bound_to_net_bind_service();
    {
        HelperRun helper;
        int handed = -1;
        EXPECT_EQ(helper.ask(LOOPBACK, 68, handed), EPERM);
        helper.channel.close();
        EXPECT_EQ(helper.exit_status(), 0);
    }
    ASSERT_EQ(::prctl(PR_CAPBSET_DROP, NET_BIND_SERVICE, 0, 0, 0), 0);
    HelperRun with_nothing;
    EXPECT_EQ(with_nothing.exit_status(), 65);
}

int count_lines(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

TEST(PortPrivilege, ListenerBindsPort69ThroughTheHelperAndSaysWhyWithoutIt) {
    bound_to_net_bind_service();
    lose_net_bind_service();
    Socket direct(::socket(AF_INET, SOCK_DGRAM, 0));
    ASSERT_EQ(bind_port(direct.fd(), LOOPBACK, 69), EACCES) << "the test must lack the right";

    set_trace_enabled(true);
    testing::internal::CaptureStderr();
    PortBinder with_helper({"/nonexistent/zoq-upgrade-bind", HELPER});
    TftpListener first;
    ASSERT_EQ(tftp_listener_bind(first, LOOPBACK, &with_helper), ListenerBind::Bound);
    TftpListener second;
    ASSERT_EQ(tftp_listener_bind(second, LOOPBACK, &with_helper), ListenerBind::Bound);
    const std::string helped = testing::internal::GetCapturedStderr();
    EXPECT_EQ(first.port, 69);
    EXPECT_EQ(ntohs(bound_address(first.socket.fd()).sin_port), 69);
    EXPECT_EQ(second.port, 70);
    EXPECT_EQ(ntohs(bound_address(second.socket.fd()).sin_port), 70);
    EXPECT_EQ(helped, "TFTP bind port 69: EADDRINUSE\n");

    // Without a helper, as for a user who did not install one: every port is refused, the
    // trace names the reason, and the listener gives up as it always did.
    testing::internal::CaptureStderr();
    PortBinder without_helper({"/nonexistent/zoq-upgrade-bind"});
    TftpListener refused;
    EXPECT_EQ(tftp_listener_bind(refused, LOOPBACK, &without_helper), ListenerBind::NoPort);
    const std::string trace_text = testing::internal::GetCapturedStderr();
    set_trace_enabled(false);
    EXPECT_EQ(count_lines(trace_text, "EACCES"), 100) << trace_text;
    EXPECT_EQ(count_lines(trace_text, "TFTP bind helper: none found"), 1) << trace_text;
    EXPECT_NE(trace_text.find("TFTP bind port 69: EACCES\n"), std::string::npos);
    EXPECT_NE(trace_text.find("TFTP bind port 168: EACCES\n"), std::string::npos);
    // No helper is left behind.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    // The program's own list: below the prefix of this executable (BUILD/tests/tests_net, as
    // PREFIX/bin/zoq-upgrade), then where make run puts the build tree's copy.
    const std::string prefix = std::filesystem::canonical(ZOQ_BINARY_DIR).string();
    EXPECT_EQ(bind_helper_paths(),
              (std::vector<std::string>{prefix + "/libexec/zoq-upgrade/zoq-upgrade-bind",
                                        "/usr/local/libexec/zoq-upgrade/zoq-upgrade-bind"}));
}

TEST(PortPrivilege, AHelperThatRefusesToRunIsNamedInTheTrace) {
    // Root with its full set starts a helper that holds too much, and so refuses.
    lose_net_bind_service();
    set_trace_enabled(true);
    testing::internal::CaptureStderr();
    TftpListener refused;
    PortBinder binder({HELPER});
    EXPECT_EQ(tftp_listener_bind(refused, LOOPBACK, &binder), ListenerBind::NoPort);
    const std::string trace_text = testing::internal::GetCapturedStderr();
    set_trace_enabled(false);
    EXPECT_EQ(count_lines(trace_text, "not granted cap_net_bind_service alone"), 1) << trace_text;
    EXPECT_EQ(count_lines(trace_text, ": EACCES\n"), 100);
    EXPECT_STREQ(error_name(EACCES), "EACCES");
}

}  // namespace
}  // namespace zoq
