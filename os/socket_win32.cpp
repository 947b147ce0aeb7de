// SPDX-License-Identifier: MIT
// Winsock behind the core's socket calls. Handles stay `int` in the core's signatures so that
// the code of both systems reads the same: a SOCKET is a kernel handle value, small in practice,
// and a value that does not fit an int is refused (closed, reported as no socket) rather than
// cut short.
#include <winsock2.h>

#include <climits>

#include "common/text.h"
#include "os/socket.h"

namespace zoq {
namespace {

SOCKET handle(int socket) {
    return static_cast<SOCKET>(static_cast<unsigned>(socket));
}

int from_handle(SOCKET s) {
    if (s == INVALID_SOCKET) return INVALID_SOCKET_HANDLE;
    if (s > static_cast<SOCKET>(INT_MAX)) {
        ::closesocket(s);
        return INVALID_SOCKET_HANDLE;
    }
    // A program the utility starts must not keep its sockets (and their ports) open.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<int>(s);
}

const sockaddr* as_address(const sockaddr_in& address) {
    return reinterpret_cast<const sockaddr*>(&address);
}

int clamp_length(std::size_t length) {
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

bool open_socket_layer() {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

int open_tcp_socket() {
    return from_handle(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

int open_udp_socket() {
    int socket = from_handle(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (socket == INVALID_SOCKET_HANDLE) return socket;
    // Without this, an ICMP "port unreachable" for an earlier datagram (a device that restarted
    // its TFTP client) fails the next receive with WSAECONNRESET instead of being ignored as
    // POSIX ignores it on an unconnected socket.
    constexpr DWORD UDP_CONNRESET = 0x9800000Cu;  // SIO_UDP_CONNRESET
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(handle(socket), UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned,
               nullptr, nullptr);
    return socket;
}

void close_socket(int socket) {
    if (socket != INVALID_SOCKET_HANDLE) ::closesocket(handle(socket));
}

bool bind_socket(int socket, const sockaddr_in& address) {
    return ::bind(handle(socket), as_address(address), sizeof address) == 0;
}

bool connect_socket(int socket, const sockaddr_in& address) {
    return ::connect(handle(socket), as_address(address), sizeof address) == 0;
}

long send_stream(int socket, const void* data, std::size_t length) {
    // Winsock raises no signal for a closed peer: the failed send is all that shows.
    return ::send(handle(socket), static_cast<const char*>(data), clamp_length(length), 0);
}

long receive_stream(int socket, void* data, std::size_t length) {
    return ::recv(handle(socket), static_cast<char*>(data), clamp_length(length), 0);
}

long send_datagram(int socket, const void* data, std::size_t length, const sockaddr_in& to) {
    return ::sendto(handle(socket), static_cast<const char*>(data), clamp_length(length), 0,
                    as_address(to), sizeof to);
}

long receive_datagram(int socket, void* data, std::size_t length, sockaddr_in& from) {
    int from_length = sizeof from;
    return ::recvfrom(handle(socket), static_cast<char*>(data), clamp_length(length), 0,
                      reinterpret_cast<sockaddr*>(&from), &from_length);
}

bool set_non_blocking(int socket) {
    u_long on = 1;
    return ::ioctlsocket(handle(socket), FIONBIO, &on) == 0;
}

bool wait_readable(int socket, int ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle(socket), &readable);
    timeval bound{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &bound) > 0;
}

std::string socket_error_text() {
    return format("Winsock error %d", ::WSAGetLastError());
}

}  // namespace zoq
