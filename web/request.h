// SPDX-License-Identifier: MIT
// The one way the program talks to the device over HTTP: one request on a worker thread behind
// the "Connecting" dialog, with the password prompt when the device demands credentials.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/state.h"
#include "ui/port.h"
#include "web/http.h"

namespace zoq {

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
using WorkerFailureHandler = void (*)(UpgradeState& state, HttpFailure failure);

// One request behind the "Connecting" dialog; the calling thread owns the dialogs made here.
// After a Cancel the worker is left running (it may be blocked for minutes); it writes only to
// `buffer` and the shared fields of `state`, both of which outlive it. `buffer` holds
// `capacity` + 1 bytes; callers that may run at the same time pass buffers of their own.
RequestResult run_request(UpgradeState& state, std::uint32_t local_ip, std::uint16_t local_port,
                          std::uint32_t device_ip, std::uint16_t device_port, const char* path,
                          char* buffer, int capacity, WorkerFailureHandler on_failure);

// The arguments of one attempt, handed to the worker thread.
struct RequestParams {
    std::uint32_t local_ip = 0;
    std::uint16_t local_port = 0;
    std::uint32_t device_ip = 0;
    std::uint16_t device_port = 0;
    const char* path = nullptr;
    char* buffer = nullptr;
    int capacity = 0;
};

// After a 401 with a usable challenge: repeat at once with the stored password under the new
// nonce (only once in a row), or ask the user.
enum class ChallengeStep { RepeatSilently, AskPassword };
ChallengeStep after_challenge(const DigestChallenge& digest, int repeats);

// The worker's body: one http_get with the request fields; returns its result.
HttpResult request_worker(UpgradeState& state, const RequestParams& params);

// The progress dialog's context. Cancel destroys the dialog and sets `cancelled`; the loop
// that pumps the dialog sees it and returns.
struct ProgressDialog {
    const UpgradeState* state = nullptr;
    bool cancelled = false;
};

// Template 105 ("Connecting"); context: a ProgressDialog.
bool progress_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);
// Template 104 (password prompt); context: the UpgradeState. Ends with 1 for OK, 0 for Cancel.
bool password_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

// Longest user name or password kept from the prompt.
inline constexpr std::size_t CREDENTIAL_MAX = 126;

}  // namespace zoq
