// SPDX-License-Identifier: MIT
// The bind helper (zoq-upgrade-bind) as its own program, driven over its socket pair as any local
// program could: what it binds, what it refuses, what it leaves open, when it leaves. Then the
// listener's port search through it, and without it. The helper is started as root with a
// bounding set of cap_net_bind_service alone, which is then all it holds, the same as an
// ordinary user's process gets from the file capability. Each test runs in a process of its
// own (ctest), so dropping capabilities here touches nothing else.
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/net.h"
#include "common/trace.h"
#include "os/privileges.h"
#include "os/socket.h"
#include "tests/support/netns.h"
#include "tftp/listener.h"

namespace zoq {
namespace {

constexpr std::uint32_t LOOPBACK = 0x7F000001;
constexpr int NET_BIND_SERVICE = 10;
const std::string HELPER = ZOQ_BINARY_DIR "/zoq-upgrade-bind";
const std::string LYING_HELPER = ZOQ_LYING_HELPER;
constexpr uid_t NOBODY = 65534;

// A folder of this test's own below /tmp (root's sticky folder), removed afterwards.
struct Folder {
    std::string path;
    Folder() {
        char name[] = "/tmp/zoq-bind-XXXXXX";
        path = ::mkdtemp(name) ? name : "";
        EXPECT_FALSE(path.empty());
        ::chmod(path.c_str(), 0755);
    }
    ~Folder() { std::filesystem::remove_all(path); }

    // A copy of `source` at NAME/zoq-upgrade-bind, its folder and the file with these modes and
    // owners.
    std::string put(const std::string& name, const std::string& source, mode_t folder_mode,
                    uid_t folder_owner, gid_t folder_group, mode_t file_mode = 0755,
                    uid_t file_owner = 0) const {
        const std::string folder = path + "/" + name;
        const std::string file = folder + "/zoq-upgrade-bind";
        std::filesystem::create_directory(folder);
        std::filesystem::copy_file(source, file);
        EXPECT_EQ(::chown(file.c_str(), file_owner, 0), 0);
        EXPECT_EQ(::chmod(file.c_str(), file_mode), 0);
        EXPECT_EQ(::chown(folder.c_str(), folder_owner, folder_group), 0);
        EXPECT_EQ(::chmod(folder.c_str(), folder_mode), 0);
        return file;
    }
};

bool ran(const std::string& helper) {
    return std::filesystem::exists(helper + ".ran");
}

std::vector<std::string> own_descriptors() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

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

    // As `user` (0: root as it is), from `path`.
    explicit HelperRun(bool with_channel = true, const std::string& path = HELPER, uid_t user = 0) {
        int pair[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        // Left open by a careless caller, which the helper closes; without a pair, its stdin
        // is a socket of the wrong kind.
        int stray = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        pid = ::fork();
        if (pid == 0) {
            ::dup2(with_channel ? pair[1] : stray, 0);
            if (user != 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0 ||
                              ::setresuid(user, user, user) != 0)) {
                ::_exit(126);
            }
            char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
            char* envp[] = {nullptr};
            ::execve(path.c_str(), argv, envp);
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
    ASSERT_EQ(bind_port(taken.fd(), LOOPBACK, 168).outcome, PortBindOutcome::Bound);
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

// What any local user gets from the installed helper: the listener's port on an address of this
// host, and nothing another service or another host could be fooled with.
TEST(BindHelper, AnOrdinaryUserGetsTheListenerPortOnAnAddressOfThisHostAndNothingElse) {
    // The PC's address as the LAN scripts give it (ip(8), no broadcast named), and a second
    // network, with its broadcast address, on the other end.
    ASSERT_TRUE(test::add_veth_pair(test::LAN_PC_LINK, test::LAN_DEVICE_LINK));
    ASSERT_TRUE(
        test::run_ip({"addr", "add", std::string(test::LAN_PC) + "/24", "dev", test::LAN_PC_LINK}));
    ASSERT_TRUE(test::add_address(test::LAN_DEVICE_LINK, 0xC0A84E0Au, 24));  // 192.168.78.10
    // That broadcast address carried as an address too, which the kernel would bind.
    ASSERT_TRUE(test::run_ip({"addr", "add", "192.168.78.255/32", "dev", test::LAN_PC_LINK}));
    Folder folder;
    const std::string helper_file = folder.put("installed", HELPER, 0755, 0, 0);
    // cap_net_bind_service=ep on the copy, as the package's postinst sets it.
    vfs_cap_data capability{};
    capability.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    capability.data[0].permitted = 1u << NET_BIND_SERVICE;
    ASSERT_EQ(
        ::setxattr(helper_file.c_str(), "security.capability", &capability, XATTR_CAPS_SZ_2, 0), 0)
        << std::strerror(errno);
    HelperRun helper(true, helper_file, NOBODY);
    struct Refused {
        std::uint32_t ip;
        std::uint16_t port;
        int code;
        const char* what;
    };
    const Refused refused[] = {
        {0, 69, EADDRNOTAVAIL, "the wildcard"},
        {0xFFFFFFFFu, 69, EADDRNOTAVAIL, "the limited broadcast"},
        {0xC0A84EFFu, 69, EADDRNOTAVAIL, "an interface's broadcast"},
        {0xE0000101u, 124, EADDRNOTAVAIL, "a multicast group"},
        {test::LAN_DEVICE_IP, 69, EADDRNOTAVAIL, "another host's address"},
        {0x7F000002u, 69, EADDRNOTAVAIL, "a loopback address lo does not carry"},
        {test::LAN_PC_IP, 68, EPERM, "below the listener's ports"},
        {test::LAN_PC_IP, 169, EPERM, "above the listener's ports"},
        {test::LAN_PC_IP, 88, EPERM, "Kerberos"},
        {test::LAN_PC_IP, 111, EPERM, "rpcbind"},
        {test::LAN_PC_IP, 123, EPERM, "NTP"},
        {test::LAN_PC_IP, 135, EPERM, "Microsoft RPC"},
        {test::LAN_PC_IP, 137, EPERM, "NetBIOS names"},
        {test::LAN_PC_IP, 138, EPERM, "NetBIOS datagrams"},
        {test::LAN_PC_IP, 139, EPERM, "NetBIOS sessions"},
        {test::LAN_PC_IP, 161, EPERM, "SNMP"},
        {test::LAN_PC_IP, 162, EPERM, "SNMP traps"},
    };
    int handed = -1;
    for (const Refused& request : refused) {
        EXPECT_EQ(helper.ask(request.ip, request.port, handed), request.code) << request.what;
        EXPECT_EQ(handed, -1) << request.what;
    }
    struct stat process {};
    ASSERT_EQ(::stat(("/proc/" + std::to_string(helper.pid)).c_str(), &process), 0);
    EXPECT_EQ(process.st_uid, NOBODY);
    ASSERT_EQ(helper.ask(test::LAN_PC_IP, 69, handed), 0);
    Socket bound(handed);
    const sockaddr_in address = bound_address(bound.fd());
    EXPECT_EQ(ntohl(address.sin_addr.s_addr), test::LAN_PC_IP);
    EXPECT_EQ(ntohs(address.sin_port), 69);
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
    ASSERT_EQ(bind_port(direct.fd(), LOOPBACK, 69).error, EACCES) << "the test must lack the right";

    // Only a copy nobody but root could have put in place is run, and of those the first: the
    // others would leave their mark. /tmp above them all is root's and sticky.
    Folder folder;
    const std::vector<std::string> untrusted = {
        folder.put("another-users", LYING_HELPER, 0755, NOBODY, NOBODY),
        folder.put("group-writable", LYING_HELPER, 02775, 0, NOBODY),
        folder.put("sticky", LYING_HELPER, 01777, 0, 0),
        folder.put("writable-file", LYING_HELPER, 0755, 0, 0, 0757),
        folder.put("file-of-another", LYING_HELPER, 0755, 0, 0, 0755, NOBODY),
    };
    const std::string trusted = folder.put("trusted", HELPER, 0755, 0, 0);
    const std::string second = folder.put("second", LYING_HELPER, 0755, 0, 0);
    std::filesystem::create_directory(folder.path + "/link");
    std::filesystem::create_symlink(second, folder.path + "/link/zoq-upgrade-bind");
    std::vector<std::string> paths = {"/nonexistent/zoq-upgrade-bind", "relative/zoq-upgrade-bind",
                                      folder.path + "/link/zoq-upgrade-bind"};
    paths.insert(paths.end(), untrusted.begin(), untrusted.end());
    paths.push_back(trusted);
    paths.push_back(second);

    set_trace_enabled(true);
    testing::internal::CaptureStderr();
    PortBinder with_helper(paths);
    TftpListener first;
    ASSERT_EQ(tftp_listener_bind(first, LOOPBACK, &with_helper), ListenerBind::Bound);
    TftpListener second_search;
    ASSERT_EQ(tftp_listener_bind(second_search, LOOPBACK, &with_helper), ListenerBind::Bound);
    const std::string helped = testing::internal::GetCapturedStderr();
    EXPECT_EQ(first.port, 69);
    EXPECT_EQ(ntohs(bound_address(first.socket.fd()).sin_port), 69);
    EXPECT_EQ(second_search.port, 70);
    EXPECT_EQ(ntohs(bound_address(second_search.socket.fd()).sin_port), 70);
    EXPECT_EQ(count_lines(helped, ": refused: "), 7) << helped;
    EXPECT_EQ(count_lines(helped, "/nonexistent"), 0) << helped;
    EXPECT_EQ(count_lines(helped, "TFTP bind port 69: EADDRINUSE\n"), 1) << helped;
    for (const std::string& planted : untrusted) {
        EXPECT_EQ(count_lines(helped, planted + ": refused: "), 1) << helped;
        EXPECT_FALSE(ran(planted)) << planted;
    }
    EXPECT_FALSE(ran(second));

    // Once the helper is started, this process keeps only its own end of the pair: no second
    // end and no descriptor of the helper's file.
    {
        PortBinder waiting({trusted});
        Socket socket(open_udp_socket());
        const std::size_t before = own_descriptors().size();
        EXPECT_EQ(waiting.bind(socket, LOOPBACK, 68).error, EPERM);
        EXPECT_EQ(own_descriptors().size(), before + 1);
    }

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

    // The program's own list was fixed when it was built: nothing below the folders it was built
    // in, where another user may have planted a copy beside the executable's.
    const std::string build = std::filesystem::canonical(ZOQ_BINARY_DIR).string();
    const std::string planted = build + "/libexec/zoq-upgrade/zoq-upgrade-bind";
    for (const std::string& path : bind_helper_paths()) {
        EXPECT_EQ(path.front(), '/');
        EXPECT_NE(path.rfind(build, 0), 0u) << path;
    }
    std::filesystem::remove_all(build + "/libexec");
    std::filesystem::create_directories(build + "/libexec/zoq-upgrade");
    std::filesystem::copy_file(LYING_HELPER, planted);
    ASSERT_EQ(::chown((build + "/libexec").c_str(), NOBODY, NOBODY), 0);
    set_trace_enabled(true);
    testing::internal::CaptureStderr();
    TftpListener installed;
    const ListenerBind outcome = tftp_listener_bind(installed, LOOPBACK, nullptr);
    const std::string installed_trace = testing::internal::GetCapturedStderr();
    set_trace_enabled(false);
    EXPECT_FALSE(ran(planted));
    std::filesystem::remove_all(build + "/libexec");
    if (outcome != ListenerBind::Bound) {
        EXPECT_EQ(outcome, ListenerBind::NoPort);
        EXPECT_EQ(count_lines(installed_trace, "TFTP bind helper"), 1) << installed_trace;
    }
}

TEST(PortPrivilege, AHelperThatRefusesToRunOrLiesIsNamedInTheTraceAndTheSearchGoesOn) {
    // Root with its full set starts a helper that holds too much, and so refuses.
    lose_net_bind_service();
    set_trace_enabled(true);
    testing::internal::CaptureStderr();
    TftpListener refused;
    PortBinder binder({HELPER});
    EXPECT_EQ(tftp_listener_bind(refused, LOOPBACK, &binder), ListenerBind::NoPort);
    std::string trace_text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_lines(trace_text, "not granted cap_net_bind_service alone"), 1) << trace_text;
    EXPECT_EQ(count_lines(trace_text, ": EACCES\n"), 100);
    EXPECT_STREQ(error_name(EACCES), "EACCES");

    // A socket bound anywhere but where it was asked would send the device to a port nobody
    // serves: refused, and that helper is not asked again.
    Folder folder;
    const std::string liar = folder.put("liar", LYING_HELPER, 0755, 0, 0);
    testing::internal::CaptureStderr();
    PortBinder lied_to({liar});
    EXPECT_EQ(tftp_listener_bind(refused, LOOPBACK, &lied_to), ListenerBind::NoPort);
    trace_text = testing::internal::GetCapturedStderr();
    set_trace_enabled(false);
    EXPECT_TRUE(ran(liar));
    EXPECT_EQ(count_lines(trace_text, liar + ": refused: handed 127.0.0.1:"), 1) << trace_text;
    EXPECT_EQ(count_lines(trace_text, "not a UDP socket bound to 127.0.0.1:69\n"), 1);
    EXPECT_EQ(count_lines(trace_text, "TFTP bind port 69: EINVAL\n"), 1) << trace_text;
    EXPECT_EQ(count_lines(trace_text, ": EACCES\n"), 99);
}

}  // namespace
}  // namespace zoq
