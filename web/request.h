// SPDX-License-Identifier: MIT
// The one way the program talks to the device over HTTP: one request on a worker thread behind
// the "Connecting" dialog, with the password prompt when the device demands credentials.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/state.h"
#include "ui/port.h"

namespace zoq {

// Returns the byte count of the device's answer (> 0, whatever the HTTP status) or 0 when
// nothing came back. Never returns when the user cancels: the process ends instead. The
// calling thread owns the dialogs made here. `buffer` holds `capacity` + 1 bytes; callers that
// may run at the same time pass buffers of their own.
int run_request(UpgradeState& state, std::uint32_t local_ip, std::uint16_t local_port,
                std::uint32_t device_ip, std::uint16_t device_port, const char* path, char* buffer,
                int capacity);

// The arguments of one attempt, handed to the worker thread.
struct RequestParams {
    Toolkit* instance = nullptr;  // not used by the worker
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
int request_worker(UpgradeState& state, const RequestParams& params);

// Template 105 ("Connecting"); context: the UpgradeState. Cancel ends the process.
bool progress_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);
// Template 104 (password prompt); context: the UpgradeState. Ends with 1 for OK, 0 for Cancel.
bool password_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

// Longest user name or password kept from the prompt.
inline constexpr std::size_t CREDENTIAL_MAX = 126;

}  // namespace zoq
