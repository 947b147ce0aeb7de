// SPDX-License-Identifier: MIT
// MD5 after RFC 1321, written from the RFC's description: 64-byte blocks, little-endian words.
#include "web/md5.h"

#include <cstring>

namespace zoq {
namespace {

constexpr std::uint32_t rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// The sine table T[i] = floor(2^32 * |sin(i + 1)|) and the per-step shift amounts.
constexpr std::uint32_t SINES[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int SHIFTS[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void transform(std::uint32_t state[4], const std::uint8_t block[64]) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = static_cast<std::uint32_t>(block[4 * i]) |
               static_cast<std::uint32_t>(block[4 * i + 1]) << 8 |
               static_cast<std::uint32_t>(block[4 * i + 2]) << 16 |
               static_cast<std::uint32_t>(block[4 * i + 3]) << 24;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int k;
        switch (i / 16) {
            case 0:
                f = (b & c) | (~b & d);
                k = i;
                break;
            case 1:
                f = (b & d) | (c & ~d);
                k = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                k = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                k = (7 * i) % 16;
                break;
        }
        std::uint32_t next = b + rotl(a + f + x[k] + SINES[i], SHIFTS[i / 16][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    // The message words are as secret as the password they may hold.
    wipe(x, sizeof x);
}

}  // namespace

void md5_init(Md5Context& ctx) {
    ctx.state[0] = 0x67452301;
    ctx.state[1] = 0xefcdab89;
    ctx.state[2] = 0x98badcfe;
    ctx.state[3] = 0x10325476;
    ctx.bit_count = 0;
    std::memset(ctx.buffer, 0, sizeof ctx.buffer);
}

void md5_update(Md5Context& ctx, const void* data, std::size_t length) {
    const auto* in = static_cast<const std::uint8_t*>(data);
    std::size_t used = static_cast<std::size_t>((ctx.bit_count >> 3) & 0x3F);
    ctx.bit_count += static_cast<std::uint64_t>(length) << 3;
    if (used > 0) {
        std::size_t take = 64 - used;
        if (length < take) {
            if (length > 0) std::memcpy(ctx.buffer + used, in, length);
            return;
        }
        std::memcpy(ctx.buffer + used, in, take);
        transform(ctx.state, ctx.buffer);
        in += take;
        length -= take;
    }
    while (length >= 64) {
        transform(ctx.state, in);
        in += 64;
        length -= 64;
    }
    if (length > 0) std::memcpy(ctx.buffer, in, length);
}

void md5_final(Md5Context& ctx, std::uint8_t digest[16]) {
    std::uint8_t length_bytes[8];
    std::uint64_t bits = ctx.bit_count;
    for (int i = 0; i < 8; ++i) length_bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    // Pad with 0x80 and zeros to 56 bytes modulo 64, then the length in bits.
    static constexpr std::uint8_t PADDING[64] = {0x80};
    std::size_t used = static_cast<std::size_t>((bits >> 3) & 0x3F);
    std::size_t pad = used < 56 ? 56 - used : 120 - used;
    md5_update(ctx, PADDING, pad);
    md5_update(ctx, length_bytes, 8);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            digest[4 * i + j] = static_cast<std::uint8_t>(ctx.state[i] >> (8 * j));
        }
    }
    // Nothing of the hashed text (a password, often) stays behind in the context.
    wipe(&ctx, sizeof ctx);
}

void wipe(void* data, std::size_t size) {
    auto* bytes = static_cast<volatile std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
}

std::array<std::uint8_t, 16> md5(const void* data, std::size_t length) {
    Md5Context ctx;
    md5_init(ctx);
    md5_update(ctx, data, length);
    std::array<std::uint8_t, 16> out{};
    md5_final(ctx, out.data());
    return out;
}

}  // namespace zoq
