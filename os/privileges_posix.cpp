// SPDX-License-Identifier: MIT
// Linux: this process binds the listener's port itself where it may (root, or a system whose
// unprivileged ports start low enough); elsewhere it asks the helper executable, which alone
// carries cap_net_bind_service. The helper is spawned with one end of a socket pair as its
// descriptor 0 and an empty environment, and leaves once it has handed over a socket or when
// the pair closes: no channel to it exists outside the listener's port search.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "common/trace.h"
#include "os/bind_helper.h"
#include "os/privileges.h"

namespace zoq {
namespace {

// A helper that neither answers nor leaves within this time is stuck, and is ended.
constexpr int HELPER_ANSWER_MS = 5000;
constexpr int HELPER_EXIT_MS = 1000;

std::string executable_path() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || length == static_cast<ssize_t>(sizeof path)) return {};
    return std::string(path, static_cast<std::size_t>(length));
}

std::string parent_folder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash == 0 ? 1 : slash);
}

bool is_udp_ipv4(int socket) {
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(socket, SOL_SOCKET, SO_DOMAIN, &value, &length) != 0 || value != AF_INET) {
        return false;
    }
    length = sizeof value;
    return ::getsockopt(socket, SOL_SOCKET, SO_TYPE, &value, &length) == 0 && value == SOCK_DGRAM;
}

}  // namespace

struct PortBinder::Helper {
    std::string path;
    int channel = -1;
    pid_t pid = -1;

    Helper() = default;
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;
    ~Helper() { end(); }

    // Closes the pair, which the helper takes as its cue to leave, and collects its status.
    int end() {
        if (channel >= 0) ::close(channel);
        channel = -1;
        if (pid <= 0) return 0;
        int status = 0;
        for (int waited_ms = 0;; waited_ms += 10) {
            const pid_t ended = ::waitpid(pid, &status, WNOHANG);
            if (ended == pid || (ended < 0 && errno != EINTR)) break;
            if (waited_ms == HELPER_EXIT_MS) ::kill(pid, SIGKILL);
            ::usleep(10000);
        }
        pid = -1;
        return status;
    }
};

std::vector<std::string> bind_helper_paths() {
    std::vector<std::string> paths;
    const std::string prefix = parent_folder(parent_folder(executable_path()));
    if (!prefix.empty()) paths.push_back((prefix == "/" ? "" : prefix) + "/" + BIND_HELPER_PATH);
    const std::string local = std::string("/usr/local/") + BIND_HELPER_PATH;
    if (paths.empty() || paths.front() != local) paths.push_back(local);
    return paths;
}

PortBinder::PortBinder() : PortBinder(bind_helper_paths()) {}

PortBinder::PortBinder(std::vector<std::string> helper_paths)
    : helper_paths_(std::move(helper_paths)) {}

PortBinder::~PortBinder() = default;

int PortBinder::bind(Socket& socket, std::uint32_t ip, std::uint16_t port) {
    const int own = bind_port(socket.fd(), ip, port);
    if (own != EACCES || helper_unusable_) return own;

    if (!helper_) {
        auto helper = std::make_unique<Helper>();
        for (const std::string& path : helper_paths_) {
            if (::access(path.c_str(), X_OK) == 0) {
                helper->path = path;
                break;
            }
        }
        if (helper->path.empty()) {
            std::string tried;
            for (const std::string& path : helper_paths_) tried += " " + path;
            trace("TFTP bind helper: none found (looked for%s)\n", tried.c_str());
            helper_unusable_ = true;
            return own;
        }
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
            trace("TFTP bind helper: no socket pair (%s)\n", error_name(errno));
            helper_unusable_ = true;
            return own;
        }
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
        ::posix_spawnattr_init(&attributes);
        sigset_t signals;
        sigemptyset(&signals);
        ::posix_spawnattr_setsigmask(&attributes, &signals);
        sigfillset(&signals);
        ::posix_spawnattr_setsigdefault(&attributes, &signals);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        char* argv[] = {helper->path.data(), nullptr};
        char* envp[] = {nullptr};
        const int spawned =
            ::posix_spawn(&helper->pid, helper->path.c_str(), &actions, &attributes, argv, envp);
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
        ::close(pair[1]);
        helper->channel = pair[0];
        if (spawned != 0) {
            helper->pid = -1;
            trace("TFTP bind helper %s: cannot start (%s)\n", helper->path.c_str(),
                  error_name(spawned));
            helper_unusable_ = true;
            return own;
        }
        helper_ = std::move(helper);
    }

    unsigned char request[BIND_REQUEST_SIZE];
    const std::uint32_t ip_network = htonl(ip);
    const std::uint16_t port_network = htons(port);
    std::memcpy(request, &ip_network, 4);
    std::memcpy(request + 4, &port_network, 2);
    ssize_t sent;
    do {
        sent = ::send(helper_->channel, request, sizeof request, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);

    std::int32_t answer = 0;
    iovec part{&answer, sizeof answer};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received = -1;
    bool stuck = false;
    pollfd readable{helper_->channel, POLLIN, 0};
    if (sent == static_cast<ssize_t>(sizeof request)) {
        int ready;
        do {
            ready = ::poll(&readable, 1, HELPER_ANSWER_MS);
        } while (ready < 0 && errno == EINTR);
        stuck = ready == 0;
        if (ready > 0) {
            do {
                received = ::recvmsg(helper_->channel, &message, MSG_CMSG_CLOEXEC);
            } while (received < 0 && errno == EINTR);
        }
    }
    int handed = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); received > 0 && c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
            c->cmsg_len == CMSG_LEN(sizeof(int))) {
            std::memcpy(&handed, CMSG_DATA(c), sizeof handed);
        }
    }

    if (received != static_cast<ssize_t>(sizeof answer) || (message.msg_flags & MSG_CTRUNC)) {
        if (handed >= 0) ::close(handed);
        // No answer: the helper refused to start, or is gone or stuck. Its status says which.
        const std::string path = helper_->path;
        if (stuck) ::kill(helper_->pid, SIGKILL);
        const int status = helper_->end();
        helper_.reset();
        helper_unusable_ = true;
        if (WIFEXITED(status) && WEXITSTATUS(status) == BIND_HELPER_NOT_GRANTED) {
            trace("TFTP bind helper %s: not granted cap_net_bind_service alone\n", path.c_str());
        } else {
            trace("TFTP bind helper %s: no answer (exit status %d)\n", path.c_str(),
                  WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
        return own;
    }
    if (answer != 0) {
        if (handed >= 0) ::close(handed);
        return answer;
    }
    if (handed < 0 || !is_udp_ipv4(handed)) {
        if (handed >= 0) ::close(handed);
        return EINVAL;
    }
    socket = Socket(handed);
    // The helper has left after handing over its one socket; collect it now.
    helper_.reset();
    return 0;
}

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

}  // namespace zoq
