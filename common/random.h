// SPDX-License-Identifier: MIT
// The program's pseudo-random generator: file names and Digest client nonces come from it.
#pragma once

#include <cstdint>

namespace zoq {

struct Random {
    std::uint32_t state = 0;

    void seed(std::uint32_t value) { state = value; }
    // One draw: 0 to 32767.
    int next() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFFu);
    }
};

}  // namespace zoq
