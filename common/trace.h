// SPDX-License-Identifier: MIT
// Diagnostic trace lines (standard error). They never change behaviour and never carry
// credentials.
#pragma once

#include "common/format_check.h"

namespace zoq {

void trace(const char* fmt, ...) ZOQ_PRINTF_FORMAT(1, 2);
// Tests and the offscreen front end may silence the trace.
void set_trace_enabled(bool enabled);

}  // namespace zoq
