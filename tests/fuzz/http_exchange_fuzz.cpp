// SPDX-License-Identifier: MIT
// A device's byte stream played into whole HTTP exchanges through a socket pair: up to eight
// answers, separated in the input by "@@@\n", each one the whole of what the device sends on
// one connection. Between them the target takes the request runner's decisions (repeat at
// once under a new nonce, or ask the user, who answers with a password or with none), and
// after each exchange checks, by its own reading of the bytes, what the program must never do:
// write outside the buffer, leave it unterminated, send credentials it does not have, or
// repeat silently twice in a row.
//
// The first input byte: bits 0-1 pick the capacity (the program's own, or a small one to
// reach the cut),
// bit 2 whether a password is stored at the start, bit 3 whether the user
// answers a prompt with an empty password.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/request_page.h"
#include "app/state.h"
#include "common/net.h"
#include "common/text.h"
#include "os/socket.h"
#include "web/http.h"
#include "web/request.h"

namespace {

constexpr std::string_view SEPARATOR = "@@@\n";
constexpr std::size_t MAX_ANSWERS = 8;
// More than a socket pair holds unread would block the writer: the rest is never sent.
constexpr std::size_t MAX_ANSWER = 60000;

[[noreturn]] void fail(const char*) {
    __builtin_trap();
}

bool terminated(const zoq::Text<128>& text) {
    return std::memchr(text.data(), 0, text.size()) != nullptr;
}
bool terminated16(const zoq::Text<16>& text) {
    return std::memchr(text.data(), 0, text.size()) != nullptr;
}

std::string read_all(int fd) {
    std::string out;
    char chunk[4096];
    for (;;) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n <= 0) break;
        out.append(chunk, static_cast<std::size_t>(n));
    }
    return out;
}

std::string_view nonce_of(std::string_view request) {
    constexpr std::string_view KEY = "\",nonce=\"";
    std::size_t at = request.find(KEY);
    if (at == std::string_view::npos) return {};
    at += KEY.size();
    std::size_t end = request.find('"', at);
    return request.substr(at, end == std::string_view::npos ? 0 : end - at);
}

// One connection: the device's answer is waiting and its side closed before the request goes.
int exchange(zoq::UpgradeState& state, std::string_view answer, const char* path, char* buffer,
             int capacity, std::string& request) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) fail("socketpair");
    zoq::Socket program(pair[0]);
    zoq::Socket device(pair[1]);
    ::fcntl(device.fd(), F_SETFL, O_NONBLOCK);
    std::size_t sent = 0;
    while (sent < answer.size()) {
        ssize_t n = ::send(device.fd(), answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(device.fd(), SHUT_WR);
    // The bytes that came back, or -1 for a usable challenge.
    const zoq::HttpResult r = zoq::http_exchange(program.fd(), path, buffer, capacity,
                                                 {&state.shared_mutex, &state.digest, &state.rng});
    const int result = r.outcome == zoq::HttpOutcome::Challenge ? -1 : r.received;
    zoq::keep_device_info(state, buffer, result);
    request = read_all(device.fd());
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zoq;
    std::uint8_t flags = size > 0 ? data[0] : 0;
    std::string_view stream(reinterpret_cast<const char*>(data), size);
    if (!stream.empty()) stream.remove_prefix(1);

    // Every request, with the longest Authorization line, fits into the smallest.
    static constexpr int CAPACITIES[] = {RESPONSE_CAPACITY, 1200, 2048, 4096};
    const int capacity = CAPACITIES[flags & 3];
    // The buffer ends exactly capacity + 1 bytes after its start, at the end of an allocation:
    // a byte written beyond is caught at once. One allocation and one state for the whole run;
    // a fresh 128 KB buffer and state for every input cost more than the exchanges.
    static char* const storage = new char[RESPONSE_CAPACITY + 1];
    static UpgradeState* const state = new UpgradeState;
    char* const buffer = storage + (RESPONSE_CAPACITY - capacity);
    state->digest = DigestChallenge{};
    state->device_info = DeviceInfo{};
    state->rng.seed(1);
    if (flags & 4) copy_text(state->digest.password, "admin");
    copy_text(state->digest.username, "admin");
    const bool empty_answer = (flags & 8) != 0;

    int repeats = 0;
    bool repeated_last = false;
    for (std::size_t k = 0; k < MAX_ANSWERS && !stream.empty(); ++k) {
        std::size_t cut = stream.find(SEPARATOR);
        std::string_view answer = stream.substr(0, cut);
        stream = cut == std::string_view::npos ? std::string_view{}
                                               : stream.substr(cut + SEPARATOR.size());
        if (answer.size() > MAX_ANSWER) answer = answer.substr(0, MAX_ANSWER);

        const bool had_password = state->digest.password[0] != '\0';
        const std::uint32_t count_before = state->digest.nonce_count;
        const char* path =
            (k & 1) ? "/admin/upgrade?tftp://127.0.0.1:69/zoq1a2b.bi1" : STATUS_PAGE_PATH;
        std::string request;
        int result = exchange(*state, answer, path, buffer, capacity, request);

        // The request: its lines as the device must see them, credentials only when known.
        std::string head = std::string("GET ") + path + " HTTP/1.1\r\nHost: 192.168.2.110\r\n";
        if (request.compare(0, head.size(), head) != 0) fail("request line");
        if (request.size() < 4 || request.compare(request.size() - 4, 4, "\r\n\r\n") != 0) {
            fail("request end");
        }
        bool sent_credentials = request.find("\r\nAuthorization: Digest ") != std::string::npos;
        if (sent_credentials != had_password) fail("credentials");

        // The answer as received: never beyond the capacity, always terminated.
        const int expected_length =
            static_cast<int>(answer.size() < static_cast<std::size_t>(capacity)
                                 ? answer.size()
                                 : static_cast<std::size_t>(capacity));
        if (result < -1 || result > capacity) fail("result range");
        if (result >= 0 && result != expected_length) fail("length");
        if (result >= 0 && buffer[static_cast<std::size_t>(result)] != '\0') fail("terminator");
        if (result >= 0 &&
            std::memcmp(buffer, answer.data(), static_cast<std::size_t>(result)) != 0) {
            fail("bytes");
        }
        if (result == -1) {
            // Only an HTTP/1.1 401 that names a challenge asks for credentials.
            std::string_view got = answer.substr(0, static_cast<std::size_t>(expected_length));
            got = got.substr(0, got.find('\0'));
            if (got.substr(0, 8) != "HTTP/1.1" || got.find("401") == std::string_view::npos ||
                got.find("WWW-Authenticate:") == std::string_view::npos) {
                fail("challenge without a 401");
            }
        } else if (state->digest.nonce_count != count_before + (had_password ? 1u : 0u)) {
            fail("nonce count");
        }

        const DeviceInfo& info = state->device_info;
        for (const auto& entry : FIELD_LABELS) {
            if (!terminated(info.*entry.field)) fail("field");
        }
        const DigestChallenge& d = state->digest;
        if (!terminated(d.realm) || !terminated(d.nonce) || !terminated(d.opaque) ||
            !terminated(d.uri) || !terminated16(d.qop) || !terminated16(d.algorithm)) {
            fail("challenge field");
        }

        if (result != -1) {
            // An answer ends the request; the next one starts afresh.
            repeats = 0;
            repeated_last = false;
            continue;
        }
        if (after_challenge(state->digest, repeats) == ChallengeStep::RepeatSilently) {
            if (repeated_last) fail("two silent repeats in a row");
            // Only credentials the device refused under an old nonce are repeated unasked.
            if (!sent_credentials) fail("repeat without credentials");
            if (nonce_of(request) == text_of(state->digest.nonce)) fail("repeat, same nonce");
            repeats = 1;
            repeated_last = true;
        } else {
            // The prompt: the user types a password (or none) and the request goes again.
            copy_text(state->digest.password, empty_answer ? "" : "secret");
            repeats = 0;
            repeated_last = false;
        }
    }
    return 0;
}
