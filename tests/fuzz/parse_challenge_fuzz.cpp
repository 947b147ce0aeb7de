// SPDX-License-Identifier: MIT
// Any bytes as a challenge, then the Authorization line composed from whatever was taken.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/text.h"
#include "web/digest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::make_unique<char[]>(size ? size : 1);
    if (size) std::memcpy(bytes.get(), data, size);
    zoq::DigestChallenge digest;
    zoq::copy_text(digest.username, "admin");
    zoq::copy_text(digest.password, "pw");
    zoq::copy_text(digest.uri, "/admin/advanced");
    zoq::Random rng;
    const int result = static_cast<int>(zoq::parse_challenge({bytes.get(), size}, digest, rng));
    if (result != 0 && result != 1) __builtin_trap();
    digest.nonce_count = 1;
    char line[zoq::AUTHORIZATION_LINE_SIZE];
    std::size_t n = zoq::build_authorization(digest, line, sizeof line);
    // Nothing taken from a challenge can make the line overflow its buffer or lose its end.
    if (n >= sizeof line || std::strlen(line) != n) __builtin_trap();
    if (n < 2 || line[n - 2] != '\r' || line[n - 1] != '\n') __builtin_trap();
    return 0;
}
