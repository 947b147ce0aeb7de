// SPDX-License-Identifier: MIT
// The parser of a typed IPv4 address.
#pragma once

#include <cstdint>

namespace zoq {

// Why a text is no address; the numbers are the system's refusal codes.
enum class Ipv4Result {
    Ok = 0,
    PartTooLarge = 1,
    TooManyParts = 2,
    TooFewParts = 3,
    BadLength = 4,
    BadCharacter = 5,
};

struct Ipv4Parse {
    Ipv4Result result = Ipv4Result::Ok;
    std::uint32_t address = 0;  // host order; 0 unless `result` is Ok
};

// Parses `text` (NUL-terminated). "." and "*" both separate parts; runs of separators count as
// one.
Ipv4Parse parse_ipv4(const char* text);

}  // namespace zoq
