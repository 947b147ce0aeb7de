// SPDX-License-Identifier: MIT
#include "common/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zoq {
namespace {
// Off unless ZOQ_TRACE is set: a user never sees diagnostics, a developer asks for them.
std::atomic<int> trace_state{-1};

bool enabled() {
    int s = trace_state.load(std::memory_order_relaxed);
    if (s < 0) {
        const char* env = std::getenv("ZOQ_TRACE");
        s = (env && *env && std::strcmp(env, "0") != 0) ? 1 : 0;
        trace_state.store(s, std::memory_order_relaxed);
    }
    return s == 1;
}
}  // namespace

void set_trace_enabled(bool on) {
    trace_state.store(on ? 1 : 0, std::memory_order_relaxed);
}

void trace(const char* fmt, ...) {
    if (!enabled()) return;
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    std::fputs(line, stderr);
}

}  // namespace zoq
