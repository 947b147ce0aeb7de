// SPDX-License-Identifier: MIT
// What the bind helper (zoq-upgrade-bind, Linux) and the program that starts it agree on. The
// helper's descriptor 0 is one end of a SOCK_SEQPACKET pair. Each request is one message of
// BIND_REQUEST_SIZE bytes: the IPv4 address, then the port, both in network byte order, and
// nothing else (no descriptors). Each answer is one int: 0 with the bound socket attached
// (SCM_RIGHTS), or the error code. The helper leaves after the answer that carries a socket,
// or when the pair closes. It binds only a unicast address one of the host's interfaces has
// (loopback included: the simulator and the tests serve on 127.0.0.1, and a loopback socket
// reaches nothing beyond this host), else EADDRNOTAVAIL; and only a port of 69..168 that no
// common UDP service uses (its list is in the helper), else EPERM.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zoq {

inline constexpr std::size_t BIND_REQUEST_SIZE = 6;
// The listener's ports: the helper binds nothing else.
inline constexpr std::uint16_t BIND_HELPER_FIRST_PORT = 69;
inline constexpr std::uint16_t BIND_HELPER_LAST_PORT = 168;
// The helper's exit statuses before it answers anything.
inline constexpr int BIND_HELPER_NO_CHANNEL = 64;   // descriptor 0 is not a SOCK_SEQPACKET pair
inline constexpr int BIND_HELPER_NOT_GRANTED = 65;  // not cap_net_bind_service alone

}  // namespace zoq
