// SPDX-License-Identifier: MIT
// The device's side of Digest authentication: its challenges, and the check of the answer a
// client sends, computed from the password the device knows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/sim/options.h"

namespace zoq::sim {

// The name=value pairs of an Authorization header, quoted or not, with or without blanks.
struct AuthParams {
    std::string scheme;
    std::vector<std::pair<std::string, std::string>> values;
    // Case-insensitive name; null when absent.
    const std::string* find(std::string_view name) const;
};

// `value` is what follows "Authorization:". False when it is not a list of parameters.
bool parse_authorization(std::string_view value, AuthParams& out);

enum class Verdict {
    Ok,
    Missing,
    NotDigest,
    Malformed,
    WrongUser,
    WrongRealm,
    StaleNonce,
    UriMismatch,
    QopMissing,
    ReplayedCount,
    WrongResponse,
};
const char* verdict_text(Verdict verdict);

class DigestServer {
  public:
    explicit DigestServer(const SimOptions& options);

    // A nonce never issued before by this run.
    void renew_nonce();
    void set_password(std::string password) { password_ = std::move(password); }
    const std::string& nonce() const { return nonce_; }

    // The whole "WWW-Authenticate: Digest ...\r\n" line for the current nonce.
    std::string challenge_line(bool stale) const;

    // `authorization`: the header's value, or nothing when the request carried none.
    Verdict check(std::string_view method, std::string_view uri,
                  const std::optional<std::string>& authorization);

    // The response a client must send; exposed so that a mismatch can be explained.
    std::string expected_response(std::string_view method, std::string_view uri,
                                  std::string_view nc, std::string_view cnonce,
                                  std::string_view qop) const;

  private:
    AuthMode mode_;
    std::string user_;
    std::string password_;
    std::string realm_;
    std::string opaque_;
    std::string nonce_;
    std::uint64_t seed_ = 0;
    std::uint32_t serial_ = 0;
    std::uint32_t last_nc_ = 0;
};

std::string md5_hex(std::string_view text);

}  // namespace zoq::sim
