// SPDX-License-Identifier: MIT
// The fast clock of the tests; the real one is the system's (os/clock_*.cpp).
#include "common/clock.h"

#include <thread>

namespace zoq {

void FastClock::sleep_ms(std::uint32_t ms) {
    now_.fetch_add(ms);
    std::this_thread::yield();
}

}  // namespace zoq
