// SPDX-License-Identifier: MIT
#include "app/request_page.h"

#include <string_view>
#include <utility>

#include "app/failure.h"
#include "common/text.h"
#include "res/texts.h"
#include "web/request.h"

namespace zoq {

RequestResult run_device_request(UpgradeState& state, std::uint32_t local_ip,
                                 std::uint32_t device_ip, const char* path, char* buffer,
                                 WorkerFailureHandler on_failure) {
    ConnectingDialogs dialogs(*state.instance, text_of(state.device_ip_text));
    DeviceRequest request;
    request.progress = &dialogs;
    request.threads = state.threads;
    request.digest = {&state.shared_mutex, &state.digest, &state.rng};
    request.to = {local_ip, HTTP_LOCAL_PORT, device_ip, DEVICE_HTTP_PORT};
    request.path = path;
    request.buffer = buffer;
    request.capacity = RESPONSE_CAPACITY;
    request.on_failure = std::move(on_failure);
    return run_request(request);
}

void keep_device_info(UpgradeState& state, const char* buffer, int received) {
    if (received <= 0) return;
    const std::string_view page(buffer, static_cast<std::size_t>(received));
    LockGuard lock(state.shared_mutex);
    state.device_info = read_device_info(page, state.device_info);
}

int request_page(UpgradeState& state, std::uint32_t local_ip, std::uint32_t device_ip,
                 const char* path, char* buffer) {
    Toolkit& ui = *state.instance;
    const RequestResult result =
        run_device_request(state, local_ip, device_ip, path, buffer,
                           [&ui](HttpFailure failure) { end_run_on_http_failure(ui, failure); });
    switch (result.outcome) {
        case RequestOutcome::Cancelled:
            end_run(*state.instance, MSG_USER_ABORT);
        case RequestOutcome::NoWorker:
            // Without a worker the request is never made: the program itself could not open
            // its connection to the device, which is what the message says.
            end_run(*state.instance, MSG_HTTP_OPEN);
        case RequestOutcome::Answer:
            break;
    }
    keep_device_info(state, buffer, result.received);
    return result.received;
}

}  // namespace zoq
