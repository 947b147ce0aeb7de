// SPDX-License-Identifier: MIT
// The PC side of the firmware download: the UDP socket on port 69 or the next free one, and the
// thread that waits for the device's read request, serves it, checks the result and ends the
// process.
#pragma once

#include <cstdint>

#include "common/state.h"

namespace zoq {

// Binds the socket on `local_ip` (69 to 168), starts the listener thread and returns the port.
// Every failure shows its message and ends the process.
std::uint16_t tftp_listener_start(UpgradeState& state, std::uint32_t local_ip);

}  // namespace zoq
