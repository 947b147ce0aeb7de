// SPDX-License-Identifier: MIT
// The one way the program talks to the device over HTTP: one request on a worker thread behind
// the "Connecting" dialog, with the password prompt when the device demands credentials.
#pragma once

#include <cstdint>

#include "common/state.h"
#include "ui/port.h"

namespace zoq {

// Returns the byte count of the device's answer (> 0, whatever the HTTP status) or 0 when
// nothing came back. Never returns when the user cancels: the process ends instead. The
// calling thread owns the dialogs made here. `buffer` holds `capacity` + 1 bytes.
int run_request(UpgradeState& state, std::uint32_t local_ip, std::uint16_t local_port,
                std::uint32_t device_ip, std::uint16_t device_port, const char* path,
                char* buffer, int capacity);

}  // namespace zoq
