// SPDX-License-Identifier: MIT
// Windows: any user may bind the listener's ports, so there is no right and no helper. The
// listener's port is its alone: without SO_EXCLUSIVEADDRUSE another program could bind it too
// with SO_REUSEADDR and take the device's request.
#include <winsock2.h>

#include "os/privileges.h"

namespace zoq {

struct PortBinder::Helper {};

std::vector<std::string> bind_helper_paths() {
    return {};
}

PortBinder::PortBinder() = default;

PortBinder::PortBinder(std::vector<std::string>) {}

PortBinder::~PortBinder() = default;

PortBind PortBinder::bind(Socket& socket, std::uint32_t ip, std::uint16_t port) {
    BOOL exclusive = TRUE;
    if (::setsockopt(static_cast<SOCKET>(socket.fd()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0) {
        return {PortBindOutcome::Refused, WSAGetLastError()};
    }
    return bind_port(socket.fd(), ip, port);
}

PortBind bind_port(int socket, std::uint32_t ip, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(ip);
    if (::bind(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&address),
               sizeof address) == 0) {
        return {PortBindOutcome::Bound, 0};
    }
    return {PortBindOutcome::Refused, WSAGetLastError()};
}

const char* error_name(int code) {
    switch (code) {
        case 0:
            return "no error";
        case WSAEACCES:
            return "WSAEACCES";
        case WSAEADDRINUSE:
            return "WSAEADDRINUSE";
        case WSAEADDRNOTAVAIL:
            return "WSAEADDRNOTAVAIL";
        case WSAEINVAL:
            return "WSAEINVAL";
        case WSAENOTSOCK:
            return "WSAENOTSOCK";
        default:
            return "socket error";
    }
}

}  // namespace zoq
