// SPDX-License-Identifier: MIT
#include "app/failure.h"

#include "common/process.h"
#include "res/texts.h"
#include "ui/helpers.h"
#include "web/request.h"

namespace zoq {

void end_run(Toolkit& ui, const char* message) {
    show_error(ui, message);
    end_process();
}

const char* http_failure_message(HttpFailure failure) {
    return failure == HttpFailure::NoLocalPort ? MSG_HTTP_BIND : MSG_HTTP_OPEN;
}

void end_run_on_http_failure(UpgradeState& state, HttpFailure failure) {
    end_run(*state.instance, http_failure_message(failure));
}

int request_page(UpgradeState& state, std::uint32_t local_ip, std::uint32_t device_ip,
                 const char* path, char* buffer) {
    const RequestResult result =
        run_request(state, local_ip, HTTP_LOCAL_PORT, device_ip, DEVICE_HTTP_PORT, path, buffer,
                    RESPONSE_CAPACITY, end_run_on_http_failure);
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
    return result.received;
}

}  // namespace zoq
