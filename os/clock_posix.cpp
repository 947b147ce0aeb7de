// SPDX-License-Identifier: MIT
#include <chrono>
#include <ctime>
#include <thread>

#include "common/clock.h"

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

}  // namespace zoq
