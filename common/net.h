// SPDX-License-Identifier: MIT
// Byte-order helpers for the wire formats. The socket calls, their owner and the socket address
// are the system's (os/socket.h, os/sockaddr.h).
#pragma once

#include <cstdint>

namespace zoq {

inline void put_be16(std::uint8_t* buffer, unsigned value) {
    buffer[0] = static_cast<std::uint8_t>((value >> 8) & 0xFFu);
    buffer[1] = static_cast<std::uint8_t>(value & 0xFFu);
}
inline std::uint16_t get_be16(const std::uint8_t* buffer) {
    return static_cast<std::uint16_t>(buffer[0] * 256u + buffer[1]);
}

}  // namespace zoq
