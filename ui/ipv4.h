// SPDX-License-Identifier: MIT
// The parser of a typed IPv4 address.
#pragma once

#include <cstdint>

namespace zoq {

enum Ipv4Result {
    IPV4_OK = 0,
    IPV4_PART_TOO_LARGE = 1,
    IPV4_TOO_MANY_PARTS = 2,
    IPV4_TOO_FEW_PARTS = 3,
    IPV4_BAD_LENGTH = 4,
    IPV4_BAD_CHARACTER = 5,
};

// Parses `text` (NUL-terminated) into a host-order address; `out` is 0 unless the result is
// IPV4_OK. "." and "*" both separate parts; runs of separators count as one.
int parse_ipv4(const char* text, std::uint32_t* out);

}  // namespace zoq
