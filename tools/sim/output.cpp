// SPDX-License-Identifier: MIT
#include "tools/sim/output.h"

#include <cstdarg>

namespace zoq::sim {

void Output::line(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vfprintf(out_, fmt, args);
    va_end(args);
    std::fputc('\n', out_);
    std::fflush(out_);
}

}  // namespace zoq::sim
