// SPDX-License-Identifier: MIT
// The one way the program talks to the device over HTTP: one request on a worker thread while
// the caller's RequestProgress shows, asking it for credentials when the device demands them.
#pragma once

#include <cstdint>
#include <functional>

#include "ui/connecting.h"
#include "web/digest.h"
#include "web/http.h"

namespace zoq {

class ThreadStarter;

enum class RequestOutcome {
    Answer,     // `received` bytes came back (> 0, whatever the HTTP status), or 0: nothing
    Cancelled,  // the progress reported a stop (its dialog is gone) or the prompt a Cancel
    NoWorker,   // the system refused the worker thread: no request was made
};

struct RequestResult {
    RequestOutcome outcome = RequestOutcome::Answer;
    int received = 0;
};

// What the caller does when the worker cannot make the request at all (no socket, no local
// port). It runs on the worker thread, at once, while the progress dialog goes on; it is meant
// to end the process. If it returns, the attempt counts as one that got nothing back.
using WorkerFailureHandler = std::function<void(HttpFailure failure)>;

// One request to the device and what it needs besides the endpoints: where it reports its
// progress (on the calling thread), where threads come from (null: the system), the run's
// Digest share, and the buffer.
struct DeviceRequest {
    RequestProgress* progress = nullptr;
    ThreadStarter* threads = nullptr;
    DigestShare digest;
    HttpEndpoints to;
    const char* path = nullptr;
    char* buffer = nullptr;  // `capacity` + 1 bytes
    int capacity = 0;
    WorkerFailureHandler on_failure;
};

// One request behind the progress; the calling thread owns what the progress shows.
// After a Cancel the worker is left running (it may be blocked for minutes); it writes only to
// the buffer and the Digest share, both of which outlive it. Callers that may run at the same
// time pass buffers of their own.
RequestResult run_request(const DeviceRequest& request);

// After a 401 with a usable challenge: repeat at once with the stored password under the new
// nonce (only once in a row), or ask the user.
enum class ChallengeStep { RepeatSilently, AskPassword };
ChallengeStep after_challenge(const DigestChallenge& digest, int repeats);

}  // namespace zoq
