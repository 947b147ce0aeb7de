// SPDX-License-Identifier: MIT
#include "ui/ipv4.h"

#include <cstring>

namespace zoq {

Ipv4Parse parse_ipv4(const char* text) {
    // Measure at most 16 bytes: anything longer is refused without reading further.
    std::size_t length = strnlen(text, 16);
    if (length < 7 || length > 15) return {Ipv4Result::BadLength};
    for (std::size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || c == '.' || c == '*')) return {Ipv4Result::BadCharacter};
    }
    std::uint32_t octets[4] = {};
    int parts = 0;
    std::size_t i = 0;
    while (i < length) {
        if (text[i] == '.' || text[i] == '*') {
            ++i;
            continue;
        }
        if (parts == 4) return {Ipv4Result::TooManyParts};
        // Decimal, leading zeros ignored; stop counting once past 255 so nothing overflows.
        std::uint32_t value = 0;
        while (i < length && text[i] >= '0' && text[i] <= '9') {
            if (value <= 255) value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
            ++i;
        }
        if (value > 255) return {Ipv4Result::PartTooLarge};
        octets[parts++] = value;
    }
    if (parts < 4) return {Ipv4Result::TooFewParts};
    return {Ipv4Result::Ok, (octets[0] << 24) | (octets[1] << 16) | (octets[2] << 8) | octets[3]};
}

}  // namespace zoq
