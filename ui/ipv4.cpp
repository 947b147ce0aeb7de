// SPDX-License-Identifier: MIT
#include "ui/ipv4.h"

#include <cstring>

namespace zoq {

int parse_ipv4(const char* text, std::uint32_t* out) {
    *out = 0;
    // Measure at most 16 bytes: anything longer is refused without reading further.
    std::size_t length = strnlen(text, 16);
    if (length < 7 || length > 15) return IPV4_BAD_LENGTH;
    for (std::size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || c == '.' || c == '*')) return IPV4_BAD_CHARACTER;
    }
    std::uint32_t octets[4] = {};
    int parts = 0;
    std::size_t i = 0;
    while (i < length) {
        if (text[i] == '.' || text[i] == '*') {
            ++i;
            continue;
        }
        if (parts == 4) return IPV4_TOO_MANY_PARTS;
        // Decimal, leading zeros ignored; stop counting once past 255 so nothing overflows.
        std::uint32_t value = 0;
        while (i < length && text[i] >= '0' && text[i] <= '9') {
            if (value <= 255) value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
            ++i;
        }
        if (value > 255) return IPV4_PART_TOO_LARGE;
        octets[parts++] = value;
    }
    if (parts < 4) return IPV4_TOO_FEW_PARTS;
    *out = (octets[0] << 24) | (octets[1] << 16) | (octets[2] << 8) | octets[3];
    return IPV4_OK;
}

}  // namespace zoq
