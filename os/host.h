// SPDX-License-Identifier: MIT
// The PC's host name as the system reports it.
#pragma once

#include <cstddef>

namespace zoq {

// Writes the host name into `out`, `room` bytes including the terminator. The result is not
// examined: on failure `out` keeps what it held (the caller starts from an empty text).
void read_host_name(char* out, std::size_t room);

}  // namespace zoq
