// SPDX-License-Identifier: MIT
// The system's IPv4 socket address and the two helpers that fill and read it. The core names
// `sockaddr_in` and nothing else of the socket headers; this is the one place it comes from, so
// that no folder of the core includes a system header of its own.
#pragma once

#include <cstdint>

#if defined(_WIN32)
// Only the address records: winsock2.h would bring windows.h and its macros (IDOK, IDCANCEL,
// min, max) into every file of the core that sends a datagram.
#include <psdk_inc/_ip_types.h>
#else
#include <netinet/in.h>
#endif

namespace zoq {

// Family AF_INET, port and address in network order; host 0 is the wildcard address.
// The trailing zero bytes of the address are left as they are.
void fill_sockaddr(std::uint32_t host, std::uint16_t port, sockaddr_in& addr);
// Host-order address and port of an IPv4 socket address; also returns the port.
std::uint16_t read_sockaddr(const sockaddr_in& addr, std::uint32_t& host, std::uint16_t& port);

}  // namespace zoq
