// SPDX-License-Identifier: MIT
// MD5 (RFC 1321): the hash under Digest authentication.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zoq {

struct Md5Context {
    std::uint32_t state[4];
    std::uint64_t bit_count;
    std::uint8_t buffer[64];
};

void md5_init(Md5Context& ctx);
void md5_update(Md5Context& ctx, const void* data, std::size_t length);
// Writes the 16-byte digest and wipes the context.
void md5_final(Md5Context& ctx, std::uint8_t digest[16]);

// Zeroes memory in a way the compiler may not drop as a dead store: for secrets in locals that
// are about to go out of scope.
void wipe(void* data, std::size_t size);

// One-shot helper.
std::array<std::uint8_t, 16> md5(const void* data, std::size_t length);
inline std::array<std::uint8_t, 16> md5(std::string_view text) {
    return md5(text.data(), text.size());
}

}  // namespace zoq
