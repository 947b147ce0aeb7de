// SPDX-License-Identifier: MIT
// Linux: this process binds the listener's port itself where it may (root, or a system whose
// unprivileged ports start low enough); elsewhere it asks the helper executable, which alone
// carries cap_net_bind_service. Only a helper at a path fixed when this program was built is
// run, only when no one but root could have put it there, and it is started from the very file
// that was checked. It gets one end of a socket pair as its descriptor 0 and an empty
// environment, and leaves once it has handed over a socket or when the pair closes: no channel
// to it exists outside the listener's port search.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "common/text.h"
#include "common/trace.h"
#include "os/bind_helper.h"
#include "os/privileges.h"

namespace zoq {
namespace {

// A helper that neither answers nor leaves within this time is stuck, and is ended.
constexpr int HELPER_ANSWER_MS = 5000;
constexpr int HELPER_EXIT_MS = 1000;

bool is_udp_ipv4(int socket) {
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(socket, SOL_SOCKET, SO_DOMAIN, &value, &length) != 0 || value != AF_INET) {
        return false;
    }
    length = sizeof value;
    return ::getsockopt(socket, SOL_SOCKET, SO_TYPE, &value, &length) == 0 && value == SOCK_DGRAM;
}

// Whoever can write to a folder on the helper's path can put other code there. A folder that
// root owns and that is sticky (/tmp) is the one exception above the helper's own folder: no one
// else may rename or remove root's entries in it. The helper's own folder has no exception.
bool nobody_else_writes(const struct stat& status, bool own_folder) {
    if (status.st_uid != 0) return false;
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
    return !own_folder && S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX);
}

std::string owner_and_mode(const struct stat& status) {
    return format("owner uid %u, mode %04o", static_cast<unsigned>(status.st_uid),
                  static_cast<unsigned>(status.st_mode & 07777));
}

// The helper at `path`, open (O_PATH, close-on-exec: enough to check and to execute it, also
// where only a group may execute it), when it and every folder above it are root's alone; else
// -1, with the refusal in `refused` (empty when there is simply no such file). Each folder is
// opened from the one checked before it, so nothing can be swapped in between.
int open_trusted(const std::string& path, std::string& refused) {
    refused.clear();
    if (path.empty() || path.front() != '/') {
        refused = "not an absolute path";
        return -1;
    }
    int folder = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::string walked;
    std::size_t at = 1;
    for (;;) {
        struct stat status {};
        const std::size_t slash = path.find('/', at);
        const bool last = slash == std::string::npos;
        if (folder < 0 || ::fstat(folder, &status) != 0) {
            refused = format("cannot open %s (%s)", walked.empty() ? "/" : walked.c_str(),
                             error_name(errno));
            break;
        }
        if (!nobody_else_writes(status, last)) {
            refused = format("%s is not root's alone (%s)", walked.empty() ? "/" : walked.c_str(),
                             owner_and_mode(status).c_str());
            break;
        }
        const std::string name = path.substr(at, last ? std::string::npos : slash - at);
        if (name.empty() || name == "." || name == "..") {
            refused = "not a plain path";
            break;
        }
        walked += "/" + name;
        // A symbolic link anywhere would lead to a path nobody checked.
        const int next = ::openat(folder, name.c_str(),
                                  O_PATH | (last ? 0 : O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC);
        const int open_error = errno;
        ::close(folder);
        folder = -1;
        if (next < 0) {
            if (open_error != ENOENT) {
                refused = format("cannot open %s (%s)", walked.c_str(), error_name(open_error));
            }
            return -1;
        }
        if (!last) {
            folder = next;
            at = slash + 1;
            continue;
        }
        if (::fstat(next, &status) != 0 || !S_ISREG(status.st_mode)) {
            refused = "not a regular file";
        } else if (!nobody_else_writes(status, true)) {
            refused = format("not root's alone (%s)", owner_and_mode(status).c_str());
        } else {
            return next;
        }
        ::close(next);
        return -1;
    }
    if (folder >= 0) ::close(folder);
    return -1;
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

    // Starts the checked file `executable` (an open descriptor, so the file that runs is the one
    // that was checked, whatever its path names by now). 0, or the error code.
    int start(int executable) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return errno;
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
        // The kernel resolves this before it closes the close-on-exec descriptor; the helper is
        // an ELF file, which needs no second look at its path.
        const std::string by_descriptor = format("/proc/self/fd/%d", executable);
        char* argv[] = {path.data(), nullptr};
        char* envp[] = {nullptr};
        const int spawned =
            ::posix_spawn(&pid, by_descriptor.c_str(), &actions, &attributes, argv, envp);
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
        ::close(pair[1]);
        channel = pair[0];
        if (spawned != 0) pid = -1;
        return spawned;
    }

    // Sends one request; the answer's length (sizeof answer when whole), the answer, the socket
    // it carried (-1 when none), and whether the helper was too slow to say anything.
    ssize_t ask(std::uint32_t ip, std::uint16_t port, std::int32_t& answer, int& handed,
                bool& stuck) {
        unsigned char request[BIND_REQUEST_SIZE];
        const std::uint32_t ip_network = htonl(ip);
        const std::uint16_t port_network = htons(port);
        std::memcpy(request, &ip_network, 4);
        std::memcpy(request + 4, &port_network, 2);
        ssize_t sent;
        do {
            sent = ::send(channel, request, sizeof request, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);

        iovec part{&answer, sizeof answer};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t received = -1;
        stuck = false;
        handed = -1;
        pollfd readable{channel, POLLIN, 0};
        if (sent == static_cast<ssize_t>(sizeof request)) {
            int ready;
            do {
                ready = ::poll(&readable, 1, HELPER_ANSWER_MS);
            } while (ready < 0 && errno == EINTR);
            stuck = ready == 0;
            if (ready > 0) {
                do {
                    received = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
                } while (received < 0 && errno == EINTR);
            }
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); received > 0 && c;
             c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
                c->cmsg_len == CMSG_LEN(sizeof(int))) {
                std::memcpy(&handed, CMSG_DATA(c), sizeof handed);
            }
        }
        return (message.msg_flags & MSG_CTRUNC) ? -1 : received;
    }

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
    // Set when this program was built (ZOQ_BIND_HELPER_PATHS): nothing about where the program
    // itself sits, or who put it there, widens the list.
    std::vector<std::string> paths;
    std::string_view list = ZOQ_BIND_HELPER_PATHS;
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        const std::string_view path = list.substr(0, colon);
        bool known = path.empty();
        for (const std::string& seen : paths) known = known || seen == path;
        if (!known) paths.emplace_back(path);
        list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
    }
    return paths;
}

PortBinder::PortBinder() : PortBinder(bind_helper_paths()) {}

PortBinder::PortBinder(std::vector<std::string> helper_paths)
    : helper_paths_(std::move(helper_paths)) {}

PortBinder::~PortBinder() = default;

bool PortBinder::start_helper() {
    auto helper = std::make_unique<Helper>();
    int executable = -1;
    for (const std::string& path : helper_paths_) {
        std::string refused;
        executable = open_trusted(path, refused);
        if (executable >= 0) {
            helper->path = path;
            break;
        }
        if (!refused.empty() && !refusals_traced_) {
            trace("TFTP bind helper %s: refused: %s\n", path.c_str(), refused.c_str());
        }
    }
    refusals_traced_ = true;
    if (executable < 0) {
        std::string tried;
        for (const std::string& path : helper_paths_) tried += " " + path;
        trace("TFTP bind helper: none found (looked for%s)\n", tried.c_str());
        return false;
    }
    const int started = helper->start(executable);
    ::close(executable);
    if (started != 0) {
        trace("TFTP bind helper %s: cannot start (%s)\n", helper->path.c_str(),
              error_name(started));
        return false;
    }
    helper_ = std::move(helper);
    return true;
}

PortBind PortBinder::bind(Socket& socket, std::uint32_t ip, std::uint16_t port) {
    const PortBind own = bind_port(socket.fd(), ip, port);
    if (own.outcome == PortBindOutcome::Bound) return own;
    if (own.error != EACCES || helper_unusable_) return own;
    if (!helper_ && !start_helper()) {
        helper_unusable_ = true;
        return own;
    }
    const int by_helper = bind_by_helper(socket, ip, port);
    if (by_helper == 0) return {PortBindOutcome::Bound, 0};
    return {PortBindOutcome::Refused, by_helper < 0 ? own.error : by_helper};
}

void PortBinder::trace_silent_helper(const std::string& path, int status) const {
    if (WIFEXITED(status) && WEXITSTATUS(status) == BIND_HELPER_NOT_GRANTED) {
        trace("TFTP bind helper %s: not granted cap_net_bind_service alone\n", path.c_str());
    } else {
        trace("TFTP bind helper %s: no answer (exit status %d)\n", path.c_str(),
              WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
}

int PortBinder::bind_by_helper(Socket& socket, std::uint32_t ip, std::uint16_t port) {
    std::int32_t answer = 0;
    int handed = -1;
    bool stuck = false;
    const ssize_t received = helper_->ask(ip, port, answer, handed, stuck);
    const std::string path = helper_->path;
    if (received != static_cast<ssize_t>(sizeof answer)) {
        if (handed >= 0) ::close(handed);
        // No answer: the helper refused to start, or is gone or stuck. Its status says which.
        if (stuck) ::kill(helper_->pid, SIGKILL);
        const int status = helper_->end();
        helper_.reset();
        helper_unusable_ = true;
        trace_silent_helper(path, status);
        return -1;
    }
    if (answer != 0) {
        if (handed >= 0) ::close(handed);
        return answer;
    }
    // Anything but a UDP socket bound to exactly what was asked would send the device to a port
    // nobody serves: such a helper is not asked again.
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    const bool as_asked =
        handed >= 0 && is_udp_ipv4(handed) &&
        ::getsockname(handed, reinterpret_cast<sockaddr*>(&bound), &length) == 0 &&
        length == sizeof bound && bound.sin_family == AF_INET &&
        ntohl(bound.sin_addr.s_addr) == ip && ntohs(bound.sin_port) == port;
    if (!as_asked) {
        if (handed >= 0) ::close(handed);
        helper_.reset();
        helper_unusable_ = true;
        trace("TFTP bind helper %s: refused: handed %s, not a UDP socket bound to %s:%u\n",
              path.c_str(),
              handed < 0 ? "no socket"
                         : format("%s:%u", dotted(ntohl(bound.sin_addr.s_addr)).c_str(),
                                  static_cast<unsigned>(ntohs(bound.sin_port)))
                               .c_str(),
              dotted(ip).c_str(), static_cast<unsigned>(port));
        return EINVAL;
    }
    socket = Socket(handed);
    // The helper has left after handing over its one socket; collect it now.
    helper_.reset();
    return 0;
}

PortBind bind_port(int socket, std::uint32_t ip, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(ip);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return {PortBindOutcome::Bound, 0};
    }
    return {PortBindOutcome::Refused, errno};
}

const char* error_name(int code) {
    if (code == 0) return "no error";
    const char* name = ::strerrorname_np(code);
    return name ? name : "unknown error";
}

}  // namespace zoq
