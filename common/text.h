// SPDX-License-Identifier: MIT
// The one bounded copy for fixed-width texts: every text field of the system is filled through it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/format_check.h"

namespace zoq {

// Fixed-width NUL-terminated text, as wide as the field the system defines.
template <std::size_t N>
using Text = std::array<char, N>;

// Copies at most width - 1 bytes of `src` (stopping at a NUL inside it) and terminates.
// Returns the number of bytes copied.
inline std::size_t copy_text(char* dst, std::size_t width, std::string_view src) {
    if (width == 0) return 0;
    std::size_t n = src.size();
    if (const void* nul = std::memchr(src.data(), '\0', n)) {
        n = static_cast<std::size_t>(static_cast<const char*>(nul) - src.data());
    }
    if (n > width - 1) n = width - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
    return n;
}

template <std::size_t N>
std::size_t copy_text(std::array<char, N>& dst, std::string_view src) {
    return copy_text(dst.data(), N, src);
}

// The text held in a fixed field, up to its terminator (or its whole width if it has none).
template <std::size_t N>
std::string_view text_of(const std::array<char, N>& field) {
    const void* nul = std::memchr(field.data(), '\0', N);
    return {field.data(),
            nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field.data()) : N};
}

// printf-style formatting into a string; used for titles and traces.
std::string format(const char* fmt, ...) ZOQ_PRINTF_FORMAT(1, 2);

// Formats into a fixed field, cut to its width.
template <std::size_t N, typename... Args>
void format_text(std::array<char, N>& dst, const char* fmt, Args... args) {
    copy_text(dst, format(fmt, args...));
}

// "%u.%u.%u.%u" of a host-order IPv4 address.
std::string dotted(std::uint32_t ip);

}  // namespace zoq
