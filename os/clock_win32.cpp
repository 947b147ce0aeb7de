// SPDX-License-Identifier: MIT
// The millisecond clock on Windows: timeGetTime counts from the system's start and wraps at
// 32 bits, which is the clock the generator's seed and the restart wait are defined on.
#include <windows.h>
// mmsystem.h needs the types of windows.h first.
#include <mmsystem.h>

#include "common/clock.h"

namespace zoq {

std::uint32_t RealClock::now_ms() {
    return static_cast<std::uint32_t>(::timeGetTime());
}

void RealClock::sleep_ms(std::uint32_t ms) {
    ::Sleep(ms);
}

}  // namespace zoq
