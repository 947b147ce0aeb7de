// SPDX-License-Identifier: MIT
// Any bytes as the device's answer, exactly as many as arrived (no terminator behind them).
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "web/http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::make_unique<char[]>(size ? size : 1);
    if (size) std::memcpy(bytes.get(), data, size);
    zoq::DigestChallenge digest;
    zoq::Random rng;
    const int status = static_cast<int>(zoq::parse_status({bytes.get(), size}, digest, rng));
    if (status < -2 || status > 2) __builtin_trap();
    // Every text field stays terminated inside its width.
    if (!std::memchr(digest.realm.data(), 0, digest.realm.size())) __builtin_trap();
    if (!std::memchr(digest.nonce.data(), 0, digest.nonce.size())) __builtin_trap();
    if (!std::memchr(digest.qop.data(), 0, digest.qop.size())) __builtin_trap();
    if (!std::memchr(digest.algorithm.data(), 0, digest.algorithm.size())) __builtin_trap();
    if (!std::memchr(digest.opaque.data(), 0, digest.opaque.size())) __builtin_trap();
    return 0;
}
