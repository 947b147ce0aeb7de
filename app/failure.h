// SPDX-License-Identifier: MIT
// Where a failure of the run becomes what the user sees. web/ and tftp/ return what happened;
// the run turns it into its message box and the end of the process, on the thread that learnt
// of it (the main thread, the request worker or the TFTP listener).
#pragma once

#include <cstdint>

#include "common/state.h"
#include "web/http.h"

namespace zoq {

// The failure box with `message`, then the end of the process with exit code 0.
[[noreturn]] void end_run(Toolkit& ui, const char* message);

// The message of a request that could not be made at all.
const char* http_failure_message(HttpFailure failure);

// run_request's worker handler: the box and the end, on the worker thread, while the calling
// thread's progress dialog goes on.
void end_run_on_http_failure(UpgradeState& state, HttpFailure failure);

// One request to the device's web server (port 80, from local port 23456 up) into `buffer`
// (RESPONSE_CAPACITY + 1 bytes). Ends the run on a Cancel or a refused worker; otherwise
// returns the number of bytes that came back (0: none).
int request_page(UpgradeState& state, std::uint32_t local_ip, std::uint32_t device_ip,
                 const char* path, char* buffer);

}  // namespace zoq
