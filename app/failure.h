// SPDX-License-Identifier: MIT
// Where a failure of the run becomes what the user sees. web/ and tftp/ return what happened;
// the run turns it into its message box and the end of the process, on the thread that learnt
// of it (the main thread, the request worker or the TFTP listener).
#pragma once

#include "ui/port.h"
#include "web/http.h"

namespace zoq {

// The failure box with `message`, then the end of the process with exit code 0.
[[noreturn]] void end_run(Toolkit& ui, const char* message);

// The message of a request that could not be made at all.
const char* http_failure_message(HttpFailure failure);

// run_request's worker handler: the box and the end, on the worker thread, while the calling
// thread's progress dialog goes on.
void end_run_on_http_failure(Toolkit& ui, HttpFailure failure);

}  // namespace zoq
