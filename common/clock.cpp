// SPDX-License-Identifier: MIT
#include "common/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace zoq {

std::uint32_t RealClock::now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
              static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void RealClock::sleep_ms(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void FastClock::sleep_ms(std::uint32_t ms) {
    now_.fetch_add(ms);
    std::this_thread::yield();
}

}  // namespace zoq
