// SPDX-License-Identifier: MIT
// zoq-upgrade-bind: the one program of zoq-upgrade that holds a privilege, the right to bind
// the TFTP listener's UDP ports 69..168. Any local program can start it, so what it checks here
// is the whole boundary: it takes an IPv4 address and a port and nothing else, creates the
// socket itself (IPv4, UDP, no options) and hands back one bound socket per run. The caller holds
// that socket afterwards and may set any option on it (SO_REUSEADDR included), so what may be
// bound must be safe on its own: a unicast address this host has, and a listener port that no
// common UDP service uses. It refuses to start holding any other capability.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "os/bind_helper.h"

namespace {

using zoq::BIND_REQUEST_SIZE;

// The UDP services hosts commonly run inside 69..168: Kerberos, rpcbind, NTP, Microsoft RPC,
// NetBIOS name, datagram and session, SNMP and its traps. A socket held there could answer in
// the service's name.
constexpr std::uint16_t SERVICE_PORTS[] = {88, 111, 123, 135, 137, 138, 139, 161, 162};

constexpr std::uint64_t NET_BIND_SERVICE = std::uint64_t{1} << CAP_NET_BIND_SERVICE;

bool holds_the_right_alone() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    auto join = [&](std::uint32_t __user_cap_data_struct::*field) {
        return static_cast<std::uint64_t>(data[0].*field) |
               (static_cast<std::uint64_t>(data[1].*field) << 32);
    };
    // Ambient capabilities are a subset of the inheritable ones: none here means none there.
    return join(&__user_cap_data_struct::permitted) == NET_BIND_SERVICE &&
           join(&__user_cap_data_struct::effective) == NET_BIND_SERVICE &&
           join(&__user_cap_data_struct::inheritable) == 0;
}

bool is_channel(int fd) {
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &value, &length) != 0 || value != AF_UNIX) {
        return false;
    }
    length = sizeof value;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &value, &length) == 0 && value == SOCK_SEQPACKET;
}

// Everything from `first` on: what the caller left open, and what a message carried in.
void close_from(unsigned first) {
    ::syscall(SYS_close_range, first, UINT_MAX, 0u);
}

bool answer(int error, int socket) {
    std::int32_t code = error;
    iovec part{&code, sizeof code};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (socket >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &socket, sizeof socket);
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(0, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof code);
}

bool is_listener_port(std::uint16_t port) {
    if (port < zoq::BIND_HELPER_FIRST_PORT || port > zoq::BIND_HELPER_LAST_PORT) return false;
    for (const std::uint16_t service : SERVICE_PORTS) {
        if (port == service) return false;
    }
    return true;
}

// `address` (network order) is one of this host's own unicast addresses. A broadcast address
// counts as none even where an interface carries it as its address. Where an address has no
// broadcast address of its own, getifaddrs() repeats the address in that place: no broadcast.
bool is_own_unicast(std::uint32_t address) {
    const std::uint32_t host = ntohl(address);
    if (host == INADDR_ANY || host == INADDR_BROADCAST || IN_MULTICAST(host)) return false;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool assigned = false;
    bool broadcast = false;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        auto matches = [address](const sockaddr* a) {
            return a && a->sa_family == AF_INET &&
                   reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr == address;
        };
        const bool own = matches(i->ifa_addr);
        if (own) assigned = true;
        if ((i->ifa_flags & IFF_BROADCAST) && !own && matches(i->ifa_broadaddr)) {
            broadcast = true;
        }
    }
    ::freeifaddrs(list);
    return assigned && !broadcast;
}

// 0 and a bound socket, or the error code for the caller: EPERM for a port the helper does not
// serve, EADDRNOTAVAIL for an address it does not bind, else what bind() said.
int bind_fresh_socket(const unsigned char* request, int& socket) {
    const auto port = static_cast<std::uint16_t>(request[4] << 8 | request[5]);
    if (!is_listener_port(port)) return EPERM;
    std::uint32_t ip = 0;
    std::memcpy(&ip, request, 4);
    if (!is_own_unicast(ip)) return EADDRNOTAVAIL;
    socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (socket < 0) return errno;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_port, request + 4, 2);
    std::memcpy(&address.sin_addr.s_addr, request, 4);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
    const int error = errno;
    ::close(socket);
    socket = -1;
    return error;
}

}  // namespace

int main() {
    // Standard error stays until the checks are done, to say why the helper refuses.
    close_from(3);
    if (!is_channel(0)) {
        std::fputs("zoq-upgrade-bind: started by zoq-upgrade only (no socket pair on stdin)\n",
                   stderr);
        return zoq::BIND_HELPER_NO_CHANNEL;
    }
    if (!holds_the_right_alone()) {
        std::fputs(
            "zoq-upgrade-bind: refusing to run: it must hold cap_net_bind_service and no "
            "other capability\n",
            stderr);
        return zoq::BIND_HELPER_NOT_GRANTED;
    }
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    close_from(1);
    for (;;) {
        // Room for more than a request, and for descriptors: a longer message or one that
        // carries anything is seen whole and refused, not cut to a well-formed prefix.
        unsigned char request[BIND_REQUEST_SIZE + 1];
        iovec part{request, sizeof request};
        alignas(cmsghdr) char control[CMSG_SPACE(16 * sizeof(int))];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t received = ::recvmsg(0, &message, MSG_CMSG_CLOEXEC);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) return 0;
        const bool carried = message.msg_controllen != 0;
        close_from(1);
        int socket = -1;
        int error = EINVAL;
        if (received == static_cast<ssize_t>(BIND_REQUEST_SIZE) && !carried &&
            !(message.msg_flags & (MSG_TRUNC | MSG_CTRUNC))) {
            error = bind_fresh_socket(request, socket);
        }
        const bool delivered = answer(error, socket);
        if (socket >= 0) return delivered ? 0 : 1;
        if (!delivered) return 1;
    }
}
