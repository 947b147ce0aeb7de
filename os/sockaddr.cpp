// SPDX-License-Identifier: MIT
#include "os/sockaddr.h"

#include <cstring>

namespace zoq {
namespace {

// AF_INET is 2 on every system this program runs on; the byte order is written out by hand so
// that neither htons nor the header that declares it is needed here.
constexpr int IPV4_FAMILY = 2;

template <typename T>
T network_order(std::uint32_t value) {
    std::uint8_t bytes[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * (sizeof(T) - 1 - i)));
    }
    T out;
    std::memcpy(&out, bytes, sizeof out);
    return out;
}

template <typename T>
std::uint32_t host_order(const T& value) {
    std::uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof bytes);
    std::uint32_t out = 0;
    for (std::uint8_t b : bytes) out = (out << 8) | b;
    return out;
}

}  // namespace

void fill_sockaddr(std::uint32_t host, std::uint16_t port, sockaddr_in& addr) {
    addr.sin_family = IPV4_FAMILY;
    addr.sin_port = network_order<decltype(addr.sin_port)>(port);
    // The wildcard address is all zero bits in either order.
    addr.sin_addr.s_addr = network_order<decltype(addr.sin_addr.s_addr)>(host);
}

std::uint16_t read_sockaddr(const sockaddr_in& addr, std::uint32_t& host, std::uint16_t& port) {
    host = host_order(addr.sin_addr.s_addr);
    port = static_cast<std::uint16_t>(host_order(addr.sin_port));
    return port;
}

}  // namespace zoq
