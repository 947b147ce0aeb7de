// SPDX-License-Identifier: MIT
// Linux: the right to bind the listener's port lives in a helper process forked before any
// thread exists; this process drops every capability before the toolkit starts. Capabilities
// belong to threads, and threads inherit them when they are created: dropping them while the
// process still has one thread is the only moment that reaches every later thread at once.
// The helper binds sockets that this process creates and passes over a socket pair, answers
// with the error code, and leaves when the pair closes.
#include <arpa/inet.h>
#include <dirent.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/trace.h"
#include "os/privileges.h"

namespace zoq {
namespace {

struct CapabilitySets {
    std::uint64_t effective = 0;
    std::uint64_t permitted = 0;
    std::uint64_t inheritable = 0;
};

bool read_capabilities(CapabilitySets& sets) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    auto join = [&](std::uint32_t __user_cap_data_struct::*field) {
        return static_cast<std::uint64_t>(data[0].*field) |
               (static_cast<std::uint64_t>(data[1].*field) << 32);
    };
    sets.effective = join(&__user_cap_data_struct::effective);
    sets.permitted = join(&__user_cap_data_struct::permitted);
    sets.inheritable = join(&__user_cap_data_struct::inheritable);
    return true;
}

bool write_capabilities(const CapabilitySets& sets) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    for (int half = 0; half < 2; ++half) {
        const int shift = 32 * half;
        data[half].effective = static_cast<std::uint32_t>(sets.effective >> shift);
        data[half].permitted = static_cast<std::uint32_t>(sets.permitted >> shift);
        data[half].inheritable = static_cast<std::uint32_t>(sets.inheritable >> shift);
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

constexpr std::uint64_t bit(int capability) {
    return std::uint64_t{1} << capability;
}

// Keeps `kept` (a set of capability bits, possibly empty) and nothing else. The bounding set
// goes first: shrinking it needs CAP_SETPCAP, which the last step gives up. An ordinary user
// holding only the file capability may not shrink it; the other sets are what counts then.
bool keep_only(std::uint64_t kept) {
    for (int capability = 0; capability < 64; ++capability) {
        if (kept & bit(capability)) continue;
        const int present = ::prctl(PR_CAPBSET_READ, capability, 0, 0, 0);
        if (present < 0) break;  // beyond the kernel's last capability
        if (present == 1 && ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) break;
    }
    // Ambient capabilities would survive an exec of a program without file capabilities.
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    CapabilitySets sets;
    if (!read_capabilities(sets)) return false;
    sets.effective = sets.permitted & kept;
    sets.permitted &= kept;
    sets.inheritable = 0;
    return write_capabilities(sets);
}

int thread_count() {
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] != '.') ++count;
        }
        ::closedir(tasks);
    }
    return count;
}

struct BindRequest {
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
};

bool is_udp_ipv4(int socket) {
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(socket, SOL_SOCKET, SO_DOMAIN, &value, &length) != 0 || value != AF_INET) {
        return false;
    }
    length = sizeof value;
    return ::getsockopt(socket, SOL_SOCKET, SO_TYPE, &value, &length) == 0 && value == SOCK_DGRAM;
}

// The helper's whole life: one request, one bind, one answer, until the pair closes. It binds
// nothing but IPv4 UDP sockets on the listener's ports, whatever it is sent.
[[noreturn]] void serve_binds(int channel, std::uint16_t first, std::uint16_t last) {
    for (;;) {
        BindRequest request;
        iovec part{&request, sizeof request};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t received = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) ::_exit(0);

        int socket = -1;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
                c->cmsg_len == CMSG_LEN(sizeof(int))) {
                std::memcpy(&socket, CMSG_DATA(c), sizeof socket);
            }
        }
        int error = 0;
        if (received != static_cast<ssize_t>(sizeof request) || socket < 0 ||
            (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC))) {
            error = EINVAL;
        } else if (request.port < first || request.port > last) {
            error = EPERM;
        } else if (!is_udp_ipv4(socket)) {
            error = EINVAL;
        } else {
            error = bind_port(socket, request.ip, request.port);
        }
        if (socket >= 0) ::close(socket);
        while (::send(channel, &error, sizeof error, MSG_NOSIGNAL) < 0 && errno == EINTR) {
        }
    }
}

class HelperBinder final : public PortBinder {
  public:
    HelperBinder(int channel, pid_t helper) : channel_(channel), helper_(helper) {}
    ~HelperBinder() override { release(); }
    HelperBinder(const HelperBinder&) = delete;
    HelperBinder& operator=(const HelperBinder&) = delete;

    int bind(int socket, std::uint32_t ip, std::uint16_t port) override {
        if (channel_ < 0) return bind_port(socket, ip, port);
        BindRequest request;
        request.ip = ip;
        request.port = port;
        iovec part{&request, sizeof request};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &socket, sizeof socket);
        ssize_t sent;
        do {
            sent = ::sendmsg(channel_, &message, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) return errno;
        int error = 0;
        ssize_t received;
        do {
            received = ::recv(channel_, &error, sizeof error, 0);
        } while (received < 0 && errno == EINTR);
        if (received < 0) return errno;
        // A helper that is gone (killed from outside) bound nothing.
        if (received != static_cast<ssize_t>(sizeof error)) return ECONNRESET;
        return error;
    }

    void release() override {
        if (channel_ < 0) return;
        ::close(channel_);
        channel_ = -1;
        // The helper leaves as soon as it reads the end of the pair; collect it. One that has
        // not left after a second is stuck and is ended: the upgrade must not wait on it.
        for (int waited_ms = 0;; waited_ms += 10) {
            const pid_t ended = ::waitpid(helper_, nullptr, WNOHANG);
            if (ended == helper_ || (ended < 0 && errno != EINTR)) return;
            if (waited_ms == 1000) ::kill(helper_, SIGKILL);
            ::usleep(10000);
        }
    }

  private:
    int channel_;
    pid_t helper_;
};

}  // namespace

int bind_port(int socket, std::uint32_t ip, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(ip);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return 0;
    }
    return errno;
}

const char* error_name(int code) {
    if (code == 0) return "no error";
    const char* name = ::strerrorname_np(code);
    return name ? name : "unknown error";
}

std::unique_ptr<PortBinder> keep_port_privilege(std::uint16_t first, std::uint16_t last) {
    const int threads = thread_count();
    if (threads != 1) {
        trace("Privileges: %d threads exist; only this one loses its capabilities\n", threads);
    }
    CapabilitySets sets;
    const bool may_bind =
        read_capabilities(sets) && (sets.permitted & bit(CAP_NET_BIND_SERVICE)) != 0;
    std::unique_ptr<PortBinder> binder;
    if (may_bind) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) == 0) {
            const pid_t parent = ::getpid();
            const pid_t helper = ::fork();
            if (helper == 0) {
                ::close(pair[0]);
                ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
                if (::getppid() != parent) ::_exit(0);
                ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
                if (!keep_only(bit(CAP_NET_BIND_SERVICE))) ::_exit(0);
                // Ready: the helper holds nothing more than the one capability.
                const char ready = 1;
                if (::send(pair[1], &ready, 1, MSG_NOSIGNAL) != 1) ::_exit(0);
                serve_binds(pair[1], first, last);
            }
            ::close(pair[1]);
            if (helper > 0) {
                binder = std::make_unique<HelperBinder>(pair[0], helper);
                char ready = 0;
                ssize_t received;
                do {
                    received = ::recv(pair[0], &ready, 1, 0);
                } while (received < 0 && errno == EINTR);
                if (received != 1) {
                    trace("Privileges: the helper did not start; low ports stay closed\n");
                    binder.reset();
                }
            } else {
                trace("Privileges: no helper (%s); low ports stay closed\n", error_name(errno));
                ::close(pair[0]);
            }
        }
    }
    // Without a helper the right goes too: the toolkit must never run privileged.
    if (!keep_only(0)) trace("Privileges: capset failed (%s)\n", error_name(errno));
    return binder;
}

}  // namespace zoq
