// SPDX-License-Identifier: MIT
// The two kinds of the system's beat on POSIX systems, by name: make_system_heartbeat picks
// the timer descriptor and falls back to the monotonic clock; tests reach each one directly.
#pragma once

#include <memory>

#include "os/heartbeat.h"

namespace zoq {

// A periodic 1 ms timer descriptor beside the socket; null when the system refuses one.
std::unique_ptr<Heartbeat> make_timer_heartbeat();
// Beats counted from the monotonic clock, for systems without a timer descriptor.
std::unique_ptr<Heartbeat> make_clock_heartbeat();

}  // namespace zoq
