// SPDX-License-Identifier: MIT
// Client side of HTTP Digest authentication (RFC 2617, and the RFC 2069 form when the device
// offers no quality of protection): reading a challenge, composing the Authorization line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/locking.h"
#include "common/random.h"
#include "common/text.h"

namespace zoq {

// What the device's last challenge said and what the user typed in answer: one per run,
// cleared at start-up, shared by every request of the run.
struct DigestChallenge {
    std::uint32_t nonce_count = 0;
    Text<128> last_nonce{};
    Text<128> nonce{};
    Text<128> cnonce{};
    Text<128> username{};
    Text<128> password{};
    Text<128> realm{};
    Text<16> qop{};
    Text<16> algorithm{};
    Text<128> uri{};
    Text<128> opaque{};
};

// The run's Digest record and the generator of its client nonces, which the requests of two
// threads share, with the lock that guards both for the short moments a request reads or
// writes them (never across a blocking socket call).
struct DigestShare {
    Mutex* mutex = nullptr;
    DigestChallenge* digest = nullptr;
    Random* rng = nullptr;
};

// Whether a challenge was taken; the numbers are the system's.
enum class ChallengeParse { Taken = 0, Refused = 1 };

// 32 lowercase hexadecimal characters and the zero byte.
using DigestHex = Text<33>;

// Longest Authorization line build_authorization can write (every field full), with its zero.
inline constexpr std::size_t AUTHORIZATION_LINE_SIZE = 1024;

// Takes the challenge in `text` (from the "WWW-Authenticate:" label to the end of the answer;
// a zero byte inside ends it) into `digest`; a new client nonce is drawn from `rng`.
// Refused when it has no realm or no nonce.
ChallengeParse parse_challenge(std::string_view text, DigestChallenge& digest, Random& rng);

// Writes the whole "Authorization: Digest ...\r\n" line at `out`, zero-terminated, cut to
// `size` - 1 characters; returns its length.
std::size_t build_authorization(const DigestChallenge& digest, char* out, std::size_t size);

void digest_calc_ha1(const char* algorithm, const char* username, const char* realm,
                     const char* password, const char* nonce, const char* cnonce,
                     DigestHex& ha1_hex);
void digest_calc_response(const char* ha1_hex, const char* nonce, const char* nc_text,
                          const char* cnonce, const char* qop, const char* method, const char* uri,
                          const char* entity, DigestHex& response_hex);
void hex_digest(const std::uint8_t digest[16], DigestHex& out);

}  // namespace zoq
