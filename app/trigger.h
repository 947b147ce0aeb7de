// SPDX-License-Identifier: MIT
// After the confirmation: open the TFTP server, tell the device to fetch the image from it, and
// leave the rest of the run to the listener thread.
#pragma once

#include <cstdint>
#include <string>

#include "app/state.h"

namespace zoq {

// "/admin/upgrade?tftp://A.B.C.D:PORT/NAME" for the chosen PC address, the bound port and the
// file name.
std::string upgrade_request_path(std::uint32_t local_ip, std::uint16_t port, const char* file_name);

struct TftpListener;

// The listener thread: serves the device's read request, runs the completion, ends the process.
[[noreturn]] void tftp_listener_thread(UpgradeState& state, TftpListener* listener);

// Binds the TFTP socket on `local_ip` (69 to 168), starts the listener thread and returns the
// port. Every failure shows its message and ends the process.
std::uint16_t tftp_listener_start(UpgradeState& state, std::uint32_t local_ip);

// Never returns: the process is ended by the listener thread or a failure path.
[[noreturn]] void upgrade_trigger(UpgradeState& state);

}  // namespace zoq
