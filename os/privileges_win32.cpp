// SPDX-License-Identifier: MIT
// Windows: any user may bind the listener's ports, so there is no right to keep or drop.
#include <winsock2.h>

#include "os/privileges.h"

namespace zoq {

std::unique_ptr<PortBinder> keep_port_privilege(std::uint16_t, std::uint16_t) {
    return nullptr;
}

int bind_port(int socket, std::uint32_t ip, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(ip);
    if (::bind(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&address),
               sizeof address) == 0) {
        return 0;
    }
    return WSAGetLastError();
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
