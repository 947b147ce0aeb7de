// SPDX-License-Identifier: MIT
#include "tools/sim/digest_server.h"

#include <unistd.h>

#include <chrono>
#include <cstring>

#include "web/md5.h"

namespace zoq::sim {
namespace {

std::string hex(const std::uint8_t* bytes, std::size_t n) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(DIGITS[bytes[i] >> 4]);
        out.push_back(DIGITS[bytes[i] & 0x0F]);
    }
    return out;
}

bool equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// The nonce count: exactly eight hexadecimal digits (RFC 2617 nc-value).
std::optional<std::uint32_t> parse_nc(std::string_view text) {
    if (text.size() != 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace

std::string md5_hex(std::string_view text) {
    auto digest = md5(text);
    return hex(digest.data(), digest.size());
}

const std::string* AuthParams::find(std::string_view name) const {
    for (const auto& [key, value] : values) {
        if (equal_nocase(key, name)) return &value;
    }
    return nullptr;
}

bool parse_authorization(std::string_view v, AuthParams& out) {
    out = AuthParams{};
    std::size_t i = 0;
    while (i < v.size() && is_blank(v[i])) ++i;
    std::size_t start = i;
    while (i < v.size() && !is_blank(v[i])) ++i;
    out.scheme = v.substr(start, i - start);
    while (i < v.size()) {
        while (i < v.size() && (is_blank(v[i]) || v[i] == ',')) ++i;
        if (i >= v.size()) break;
        start = i;
        while (i < v.size() && v[i] != '=' && v[i] != ',' && !is_blank(v[i])) ++i;
        std::string name(v.substr(start, i - start));
        while (i < v.size() && is_blank(v[i])) ++i;
        if (name.empty() || i >= v.size() || v[i] != '=') return false;
        ++i;
        while (i < v.size() && is_blank(v[i])) ++i;
        std::string value;
        if (i < v.size() && v[i] == '"') {
            ++i;
            bool closed = false;
            while (i < v.size()) {
                char c = v[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < v.size()) c = v[i++];
                value.push_back(c);
            }
            if (!closed) return false;
        } else {
            start = i;
            while (i < v.size() && v[i] != ',') ++i;
            std::size_t end = i;
            while (end > start && is_blank(v[end - 1])) --end;
            value = v.substr(start, end - start);
        }
        out.values.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

const char* verdict_text(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok:
            return "ok";
        case Verdict::Missing:
            return "no credentials";
        case Verdict::NotDigest:
            return "not a Digest answer";
        case Verdict::Malformed:
            return "malformed Authorization line";
        case Verdict::WrongUser:
            return "unknown user";
        case Verdict::WrongRealm:
            return "wrong realm";
        case Verdict::StaleNonce:
            return "stale or unknown nonce";
        case Verdict::UriMismatch:
            return "uri differs from the request target";
        case Verdict::QopMissing:
            return "qop, nc or cnonce missing or not auth";
        case Verdict::ReplayedCount:
            return "nonce count not above the last one";
        case Verdict::WrongResponse:
            return "wrong response (password)";
    }
    return "?";
}

DigestServer::DigestServer(const SimOptions& o)
    : mode_(o.auth), user_(o.user), password_(o.password), realm_(o.realm), opaque_(o.opaque) {
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    seed_ = static_cast<std::uint64_t>(now) ^ (static_cast<std::uint64_t>(::getpid()) << 32);
    renew_nonce();
}

void DigestServer::renew_nonce() {
    ++serial_;
    nonce_ = md5_hex(std::to_string(seed_) + ":" + std::to_string(serial_));
    last_nc_ = 0;
}

std::string DigestServer::challenge_line(bool stale) const {
    std::string line = "WWW-Authenticate: Digest realm=\"" + realm_ + "\",nonce=\"" + nonce_ + "\"";
    switch (mode_) {
        case AuthMode::Qop:
            line += ",qop=\"auth\",algorithm=\"MD5\"";
            break;
        case AuthMode::Md5Sess:
            line += ",qop=\"auth\",algorithm=\"MD5-sess\"";
            break;
        case AuthMode::NoQop:
        case AuthMode::None:
            break;
    }
    if (!opaque_.empty()) line += ",opaque=\"" + opaque_ + "\"";
    if (stale) line += ",stale=true";
    return line + "\r\n";
}

std::string DigestServer::expected_response(std::string_view method, std::string_view uri,
                                            std::string_view nc, std::string_view cnonce,
                                            std::string_view qop) const {
    std::string a1 = user_ + ":" + realm_ + ":" + password_;
    std::string ha1;
    if (mode_ == AuthMode::Md5Sess) {
        // The session key hashes the raw 16 bytes of the first digest, as the RFC's own
        // reference code does (its text reads as if the hexadecimal form were meant).
        auto first = md5(a1);
        std::string input(reinterpret_cast<const char*>(first.data()), first.size());
        input += ":";
        input += nonce_;
        input += ":";
        input += cnonce;
        ha1 = md5_hex(input);
    } else {
        ha1 = md5_hex(a1);
    }
    std::string ha2 = md5_hex(std::string(method) + ":" + std::string(uri));
    std::string input = ha1 + ":" + nonce_ + ":";
    if (mode_ != AuthMode::NoQop) {
        input += std::string(nc) + ":" + std::string(cnonce) + ":" + std::string(qop) + ":";
    }
    return md5_hex(input + ha2);
}

Verdict DigestServer::check(std::string_view method, std::string_view uri,
                            const std::optional<std::string>& authorization) {
    if (mode_ == AuthMode::None) return Verdict::Ok;
    if (!authorization) return Verdict::Missing;
    AuthParams p;
    if (!parse_authorization(*authorization, p)) return Verdict::Malformed;
    if (!equal_nocase(p.scheme, "Digest")) return Verdict::NotDigest;
    const std::string* username = p.find("username");
    const std::string* realm = p.find("realm");
    const std::string* nonce = p.find("nonce");
    const std::string* client_uri = p.find("uri");
    const std::string* response = p.find("response");
    if (!username || !realm || !nonce || !client_uri || !response) return Verdict::Malformed;
    if (*username != user_) return Verdict::WrongUser;
    if (*realm != realm_) return Verdict::WrongRealm;
    if (*nonce != nonce_) return Verdict::StaleNonce;
    if (*client_uri != uri) return Verdict::UriMismatch;
    std::string nc_text;
    std::string cnonce_text;
    std::string qop_text;
    if (mode_ != AuthMode::NoQop) {
        const std::string* qop = p.find("qop");
        const std::string* nc = p.find("nc");
        const std::string* cnonce = p.find("cnonce");
        if (!qop || !nc || !cnonce || *qop != "auth") return Verdict::QopMissing;
        auto count = parse_nc(*nc);
        if (!count) return Verdict::QopMissing;
        nc_text = *nc;
        cnonce_text = *cnonce;
        qop_text = *qop;
        if (*response != expected_response(method, uri, nc_text, cnonce_text, qop_text)) {
            return Verdict::WrongResponse;
        }
        // RFC 2617 replay protection: every request under one nonce counts up.
        if (*count <= last_nc_) return Verdict::ReplayedCount;
        last_nc_ = *count;
        return Verdict::Ok;
    }
    if (*response != expected_response(method, uri, {}, {}, {})) return Verdict::WrongResponse;
    return Verdict::Ok;
}

}  // namespace zoq::sim
