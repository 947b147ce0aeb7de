// SPDX-License-Identifier: MIT
// The one way the program talks to the device over HTTP: one request on a worker thread behind
// the "Connecting" dialog, with the password prompt when the device demands credentials.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/port.h"
#include "web/digest.h"
#include "web/http.h"

namespace zoq {

class ThreadStarter;

enum class RequestOutcome {
    Answer,     // `received` bytes came back (> 0, whatever the HTTP status), or 0: nothing
    Cancelled,  // Cancel in the progress dialog (now destroyed) or the password prompt
    NoWorker,   // the system refused the worker thread: no request was made
};

struct RequestResult {
    RequestOutcome outcome = RequestOutcome::Answer;
    int received = 0;
};

// What the caller does when the worker cannot make the request at all (no socket, no local
// port). It runs on the worker thread, at once, while the progress dialog goes on; it is meant
// to end the process. If it returns, the attempt counts as one that got nothing back.
using WorkerFailureHandler = void (*)(Toolkit& ui, HttpFailure failure);

// One request to the device and what it needs besides the endpoints: the toolkit of the
// calling thread, where threads come from (null: the system), the device's address as the user
// typed it (for the caption), the run's Digest share, and the buffer.
struct DeviceRequest {
    Toolkit* ui = nullptr;
    ThreadStarter* threads = nullptr;
    std::string_view device_ip_text;
    DigestShare digest;
    HttpEndpoints to;
    const char* path = nullptr;
    char* buffer = nullptr;  // `capacity` + 1 bytes
    int capacity = 0;
    WorkerFailureHandler on_failure = nullptr;
};

// One request behind the "Connecting" dialog; the calling thread owns the dialogs made here.
// After a Cancel the worker is left running (it may be blocked for minutes); it writes only to
// the buffer and the Digest share, both of which outlive it. Callers that may run at the same
// time pass buffers of their own.
RequestResult run_request(const DeviceRequest& request);

// After a 401 with a usable challenge: repeat at once with the stored password under the new
// nonce (only once in a row), or ask the user.
enum class ChallengeStep { RepeatSilently, AskPassword };
ChallengeStep after_challenge(const DigestChallenge& digest, int repeats);

// The progress dialog's context. Cancel destroys the dialog and sets `cancelled`; the loop
// that pumps the dialog sees it and returns.
struct ProgressDialog {
    std::string_view device_ip_text;  // in the caption
    bool cancelled = false;
};

// Template 105 ("Connecting"); context: a ProgressDialog.
bool progress_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);
// Template 104 (password prompt); context: the DigestShare that takes the user name and
// password. Ends with 1 for OK, 0 for Cancel.
bool password_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

// Longest user name or password kept from the prompt.
inline constexpr std::size_t CREDENTIAL_MAX = 126;

}  // namespace zoq
