// SPDX-License-Identifier: MIT
// Diagnostic trace lines (standard error). They never change behaviour and never carry
// credentials.
#pragma once

namespace zoq {

void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Tests and the offscreen front end may silence the trace.
void set_trace_enabled(bool enabled);

}  // namespace zoq
