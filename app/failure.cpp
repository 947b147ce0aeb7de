// SPDX-License-Identifier: MIT
#include "app/failure.h"

#include "common/process.h"
#include "res/texts.h"
#include "ui/helpers.h"

namespace zoq {

void end_run(Toolkit& ui, const char* message) {
    show_error(ui, message);
    end_process();
}

const char* http_failure_message(HttpFailure failure) {
    return failure == HttpFailure::NoLocalPort ? MSG_HTTP_BIND : MSG_HTTP_OPEN;
}

void end_run_on_http_failure(Toolkit& ui, HttpFailure failure) {
    end_run(ui, http_failure_message(failure));
}

}  // namespace zoq
