// SPDX-License-Identifier: MIT
#include "web/digest.h"

#include <cstring>

#include "common/text.h"
#include "web/md5.h"

namespace zoq {
namespace {

// The device writes its parameters as name="value"; the value runs to the next double quote
// (escapes are not undone) or to the end of the text. Null when the name is absent.
bool find_value(std::string_view text, std::string_view search, std::string_view& value) {
    std::size_t at = text.find(search);
    if (at == std::string_view::npos) return false;
    std::string_view rest = text.substr(at + search.size());
    value = rest.substr(0, rest.find('"'));
    return true;
}

// ASCII letters compared without case, as the device's parameter values are; the locale has
// no say in a protocol token.
bool same_token(const char* a, const char* b) {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (;; ++a, ++b) {
        if (fold(static_cast<unsigned char>(*a)) != fold(static_cast<unsigned char>(*b))) {
            return false;
        }
        if (*a == '\0') return true;
    }
}

void update_text(Md5Context& ctx, const char* text) {
    md5_update(ctx, text, std::strlen(text));
}

// Appends to a fixed buffer, cutting what does not fit; the buffer stays zero-terminated.
struct LineWriter {
    char* out;
    std::size_t size;
    std::size_t length = 0;

    void put(std::string_view text) {
        if (size == 0) return;
        std::size_t room = size - 1 - length;
        std::size_t n = text.size() < room ? text.size() : room;
        std::memcpy(out + length, text.data(), n);
        length += n;
        out[length] = '\0';
    }
};

}  // namespace

void hex_digest(const std::uint8_t digest[16], DigestHex& out) {
    static constexpr char HEX[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = HEX[digest[i] >> 4];
        out[2 * i + 1] = HEX[digest[i] & 0x0F];
    }
    out[32] = '\0';
}

ChallengeParse parse_challenge(std::string_view text, DigestChallenge& digest, Random& rng) {
    // The answer is a C text to the device and to us: a zero byte inside it ends it.
    text = text.substr(0, text.find('\0'));
    std::string_view value;
    if (!find_value(text, "realm=\"", value)) return ChallengeParse::Refused;
    copy_text(digest.realm, value);
    if (!find_value(text, "nonce=\"", value)) return ChallengeParse::Refused;
    copy_text(digest.nonce, value);
    // The nonce is compared as stored (cut to its field), so a long nonce repeated by the
    // device still counts as repeated.
    if (text_of(digest.nonce) != text_of(digest.last_nonce)) {
        copy_text(digest.last_nonce, text_of(digest.nonce));
        digest.nonce_count = 0;
    }
    format_text(digest.cnonce, "%x", static_cast<unsigned>(rng.next()));
    if (find_value(text, "algorithm=\"", value)) copy_text(digest.algorithm, value);
    if (find_value(text, "qop=\"", value)) copy_text(digest.qop, value);
    if (find_value(text, "opaque=\"", value)) {
        copy_text(digest.opaque, value);
    } else {
        digest.opaque[0] = '\0';
    }
    return ChallengeParse::Taken;
}

void digest_calc_ha1(const char* algorithm, const char* username, const char* realm,
                     const char* password, const char* nonce, const char* cnonce,
                     DigestHex& ha1_hex) {
    Md5Context ctx;
    md5_init(ctx);
    update_text(ctx, username);
    update_text(ctx, ":");
    update_text(ctx, realm);
    update_text(ctx, ":");
    update_text(ctx, password);
    std::uint8_t ha1[16];
    md5_final(ctx, ha1);
    if (same_token(algorithm, "md5-sess")) {
        md5_init(ctx);
        md5_update(ctx, ha1, sizeof ha1);
        update_text(ctx, ":");
        update_text(ctx, nonce);
        update_text(ctx, ":");
        update_text(ctx, cnonce);
        md5_final(ctx, ha1);
    }
    hex_digest(ha1, ha1_hex);
    wipe(ha1, sizeof ha1);
}

void digest_calc_response(const char* ha1_hex, const char* nonce, const char* nc_text,
                          const char* cnonce, const char* qop, const char* method, const char* uri,
                          const char* entity, DigestHex& response_hex) {
    Md5Context ctx;
    std::uint8_t bytes[16];
    DigestHex ha2;
    md5_init(ctx);
    update_text(ctx, method);
    update_text(ctx, ":");
    update_text(ctx, uri);
    if (same_token(qop, "auth-int")) {
        DigestHex entity_hex;
        hex_digest(md5(entity, std::strlen(entity)).data(), entity_hex);
        update_text(ctx, ":");
        update_text(ctx, entity_hex.data());
    }
    md5_final(ctx, bytes);
    hex_digest(bytes, ha2);

    md5_init(ctx);
    md5_update(ctx, ha1_hex, 32);
    update_text(ctx, ":");
    update_text(ctx, nonce);
    update_text(ctx, ":");
    if (*qop != '\0') {
        update_text(ctx, nc_text);
        update_text(ctx, ":");
        update_text(ctx, cnonce);
        update_text(ctx, ":");
        update_text(ctx, qop);
        update_text(ctx, ":");
    }
    md5_update(ctx, ha2.data(), 32);
    md5_final(ctx, bytes);
    hex_digest(bytes, response_hex);
}

std::size_t build_authorization(const DigestChallenge& digest, char* out, std::size_t size) {
    const bool has_qop = digest.qop[0] != '\0';
    Text<16> nc_text{};
    if (has_qop) format_text(nc_text, "%08x", digest.nonce_count);
    DigestHex ha1;
    DigestHex response;
    digest_calc_ha1(digest.algorithm.data(), digest.username.data(), digest.realm.data(),
                    digest.password.data(), digest.nonce.data(), digest.cnonce.data(), ha1);
    digest_calc_response(ha1.data(), digest.nonce.data(), nc_text.data(), digest.cnonce.data(),
                         digest.qop.data(), "GET", digest.uri.data(), "", response);
    wipe(ha1.data(), ha1.size());

    LineWriter w{out, size};
    if (size > 0) out[0] = '\0';
    w.put("Authorization: Digest username=\"");
    w.put(text_of(digest.username));
    w.put("\",realm=\"");
    w.put(text_of(digest.realm));
    w.put("\",nonce=\"");
    w.put(text_of(digest.nonce));
    w.put("\",uri=\"");
    w.put(text_of(digest.uri));
    w.put("\",algorithm=\"");
    w.put(text_of(digest.algorithm));
    w.put("\",response=\"");
    w.put(text_of(response));
    w.put("\"");
    if (digest.opaque[0] != '\0') {
        w.put(",opaque=\"");
        w.put(text_of(digest.opaque));
        w.put("\"");
    }
    if (has_qop) {
        w.put(",qop=");
        w.put(text_of(digest.qop));
        w.put(",nc=");
        w.put(text_of(nc_text));
        w.put(",cnonce=\"");
        w.put(text_of(digest.cnonce));
        w.put("\"");
    }
    w.put("\r\n");
    return w.length;
}

}  // namespace zoq
