// SPDX-License-Identifier: MIT
// The run's one way to ask the device for a page: behind the "Connecting" dialog, with the
// run's credentials, keeping what the page says about the device.
#pragma once

#include <cstdint>

#include "app/state.h"
#include "web/request.h"

namespace zoq {

// A request of the run to the device's web server (port 80, from local port 23456 up) into
// `buffer` (RESPONSE_CAPACITY + 1 bytes), behind the "Connecting" dialog on the calling
// thread, with the run's threads and Digest share. `on_failure` as run_request has it.
RequestResult run_device_request(UpgradeState& state, std::uint32_t local_ip,
                                 std::uint32_t device_ip, const char* path, char* buffer,
                                 WorkerFailureHandler on_failure);

// Keeps the values that an answer of `received` bytes in `buffer` carries in
// `state.device_info`: any answer but a challenge may carry them, and a label it lacks keeps
// the value an earlier page gave.
void keep_device_info(UpgradeState& state, const char* buffer, int received);

// One request to the device's web server (port 80, from local port 23456 up) into `buffer`
// (RESPONSE_CAPACITY + 1 bytes). The values of a status page that came back go into
// `state.device_info`. Ends the run on a Cancel or a refused worker; otherwise returns the
// number of bytes that came back (0: none).
int request_page(UpgradeState& state, std::uint32_t local_ip, std::uint32_t device_ip,
                 const char* path, char* buffer);

}  // namespace zoq
