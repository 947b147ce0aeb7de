// SPDX-License-Identifier: MIT
#include "web/http.h"

#include <cstring>

#include "common/text.h"
#include "common/trace.h"
#include "web/digest.h"
#include "web/md5.h"

namespace zoq {
namespace {

std::string_view c_text(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Appends request bytes to the caller's buffer, never beyond `capacity`.
struct RequestWriter {
    char* out;
    std::size_t capacity;
    std::size_t length = 0;

    void put(std::string_view text) {
        std::size_t room = capacity - length;
        std::size_t n = text.size() < room ? text.size() : room;
        std::memcpy(out + length, text.data(), n);
        length += n;
    }
};

}  // namespace

Connection tcp_connect(std::uint32_t local_ip, std::uint16_t local_port, std::uint32_t remote_ip,
                       std::uint16_t remote_port) {
    Socket s(open_tcp_socket());
    if (!s.valid()) return {Socket(), HttpFailure::NoSocket};
    sockaddr_in addr{};
    int failures = 0;
    for (std::uint16_t port = local_port;; ++port) {
        fill_sockaddr(local_ip, port, addr);
        if (bind_socket(s.fd(), addr)) {
            trace("HTTP local port %u\n", static_cast<unsigned>(port));
            break;
        }
        if (++failures > HTTP_BIND_RETRIES) return {Socket(), HttpFailure::NoLocalPort};
    }
    fill_sockaddr(remote_ip, remote_port, addr);
    if (!connect_socket(s.fd(), addr)) {
        trace("HTTP connect failed: %s\n", socket_error_text().c_str());
        return {};
    }
    return {std::move(s)};
}

HttpStatus parse_status(std::string_view response, DigestChallenge& digest, Random& rng) {
    response = c_text(response);
    if (response.substr(0, 8) != "HTTP/1.1") return HttpStatus::NotHttp11;
    // The version and the one character after it; an answer that ends there has no code.
    std::size_t at = 9;
    if (at >= response.size()) return HttpStatus::NoCode;
    while (at < response.size() && (response[at] == ' ' || response[at] == '\t')) ++at;
    if (at >= response.size()) return HttpStatus::NoCode;
    std::string_view rest = response.substr(at);
    if (rest.substr(0, 3) == "200") return HttpStatus::Ok;
    if (rest.substr(0, 3) != "401") return HttpStatus::Other;
    std::size_t label = rest.find("WWW-Authenticate:");
    if (label == std::string_view::npos) return HttpStatus::Other;
    return parse_challenge(rest.substr(label), digest, rng) == ChallengeParse::Taken
               ? HttpStatus::Challenge
               : HttpStatus::Other;
}

char* extract_field(std::string_view page, std::string_view label, char* out, std::size_t max) {
    page = c_text(page);
    std::size_t at = page.find(label);
    if (at == std::string_view::npos) return nullptr;
    // Skip to the first character after a ">" that does not open another tag at once.
    for (;;) {
        std::size_t close = page.find('>', at);
        if (close == std::string_view::npos) return nullptr;
        at = close + 1;
        if (at >= page.size() || page[at] != '<') break;
    }
    std::size_t n = 0;
    while (at + n < page.size() && page[at + n] != '<' && n < max) {
        out[n] = page[at + n];
        ++n;
    }
    out[n] = '\0';
    return out;
}

DeviceInfo read_device_info(std::string_view page, const DeviceInfo& before) {
    DeviceInfo info = before;
    for (const auto& entry : FIELD_LABELS) {
        Text<128>& field = info.*entry.field;
        extract_field(page, entry.label, field.data(), FIELD_MAX);
    }
    return info;
}

HttpResult http_get(const HttpEndpoints& to, const char* path, char* buffer, int capacity,
                    const DigestShare& digest) {
    if (capacity <= 0) return {};
    Connection c;
    for (int attempt = 0; attempt < HTTP_CONNECT_ATTEMPTS && !c.socket.valid(); ++attempt) {
        c = tcp_connect(to.local_ip, to.local_port, to.device_ip, to.device_port);
        if (c.failure == HttpFailure::NoSocket) return {HttpOutcome::NoSocket};
        if (c.failure == HttpFailure::NoLocalPort) return {HttpOutcome::NoLocalPort};
    }
    if (!c.socket.valid()) return {};
    HttpResult result = http_exchange(c.socket.fd(), path, buffer, capacity, digest);
    c.socket.close();
    return result;
}

HttpResult http_exchange(int socket, const char* path, char* buffer, int capacity,
                         const DigestShare& share) {
    if (capacity <= 0) return {};
    RequestWriter w{buffer, static_cast<std::size_t>(capacity)};
    w.put("GET ");
    w.put(path);
    w.put(" HTTP/1.1\r\n");
    w.put(HTTP_HOST_LINE);
    {
        // Another request (the completion check on the TFTP thread) may compose at the same
        // moment: the nonce count and the challenge change only under the lock.
        LockGuard lock(*share.mutex);
        DigestChallenge& digest = *share.digest;
        if (digest.password[0] != '\0') {
            ++digest.nonce_count;
            copy_text(digest.uri, path);
            char line[AUTHORIZATION_LINE_SIZE];
            std::size_t n = build_authorization(digest, line, sizeof line);
            w.put({line, n});
            wipe(line, sizeof line);
        }
    }
    w.put("\r\n");
    trace("HTTP GET %s (%zu bytes)\n", path, w.length);
    // A device that has already closed must not end the program with a broken-pipe signal; a
    // failed send shows as an empty answer.
    [[maybe_unused]] long sent = send_stream(socket, buffer, w.length);

    // The request bytes (and credentials) are gone from the buffer as soon as reading begins.
    std::memset(buffer, 0, w.length);
    int total = 0;
    while (total < capacity) {
        long n = receive_stream(socket, buffer + total, static_cast<std::size_t>(capacity - total));
        if (n <= 0) break;
        total += static_cast<int>(n);
        buffer[total] = '\0';
    }
    trace("HTTP received %d bytes\n", total);
    std::string_view response(buffer, static_cast<std::size_t>(total));

    HttpStatus status;
    {
        LockGuard lock(*share.mutex);
        status = parse_status(response, *share.digest, *share.rng);
    }
    // Outside the lock: a trace write may block on a slow standard error.
    trace("HTTP status class %d\n", static_cast<int>(status));
    if (status == HttpStatus::Challenge) return {HttpOutcome::Challenge, total};
    return {HttpOutcome::Answer, total};
}

}  // namespace zoq
