// SPDX-License-Identifier: MIT
#include "tools/sim/http.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

namespace zoq::sim {
namespace {

constexpr std::size_t MAX_REQUEST = 16384;

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        char b =
            prefix[i] >= 'A' && prefix[i] <= 'Z' ? static_cast<char>(prefix[i] + 32) : prefix[i];
        if (a != b) return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

// A decimal number of 1 to `digits` digits not above `max`; advances `s`.
std::optional<unsigned> take_number(std::string_view& s, std::size_t digits, unsigned max) {
    std::size_t n = 0;
    unsigned value = 0;
    while (n < s.size() && n < digits && s[n] >= '0' && s[n] <= '9') {
        value = value * 10 + static_cast<unsigned>(s[n] - '0');
        ++n;
    }
    if (n == 0 || value > max || (n < s.size() && s[n] >= '0' && s[n] <= '9')) {
        return std::nullopt;
    }
    s.remove_prefix(n);
    return value;
}

}  // namespace

bool parse_http_request(std::string_view raw, HttpRequest& out) {
    out = HttpRequest{};
    std::size_t eol = raw.find("\r\n");
    if (eol == std::string_view::npos) return false;
    std::string_view line = raw.substr(0, eol);
    std::size_t sp1 = line.find(' ');
    if (sp1 == std::string_view::npos || sp1 == 0) return false;
    std::size_t sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || sp2 == sp1 + 1) return false;
    out.method = line.substr(0, sp1);
    out.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    out.version = line.substr(sp2 + 1);
    if (!out.version.starts_with("HTTP/")) return false;
    std::string_view rest = raw.substr(eol + 2);
    while (!rest.empty()) {
        std::size_t end = rest.find("\r\n");
        std::string_view header = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 2);
        if (header.empty()) break;
        if (starts_with_nocase(header, "authorization:") && !out.authorization) {
            out.authorization = std::string(trim(header.substr(14)));
        }
    }
    return true;
}

ReadOutcome read_http_request(int fd, unsigned timeout_ms, int stop_fd, std::string& out) {
    out.clear();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    char chunk[2048];
    for (;;) {
        if (out.find("\r\n\r\n") != std::string::npos) return ReadOutcome::Complete;
        if (out.size() >= MAX_REQUEST) return ReadOutcome::TooLong;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return ReadOutcome::TimedOut;
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
        int r = ::poll(fds, stop_fd >= 0 ? 2 : 1, static_cast<int>(left));
        if (r < 0 && errno != EINTR) return ReadOutcome::Closed;
        if (r <= 0) continue;
        if (stop_fd >= 0 && (fds[1].revents & POLLIN)) return ReadOutcome::TimedOut;
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return ReadOutcome::Closed;
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<UpgradeTarget> parse_upgrade_target(std::string_view target) {
    if (!target.starts_with(UPGRADE_PREFIX)) return std::nullopt;
    std::string_view s = target.substr(UPGRADE_PREFIX.size());
    if (!starts_with_nocase(s, "tftp://")) return std::nullopt;
    s.remove_prefix(7);
    UpgradeTarget t;
    for (int i = 0; i < 4; ++i) {
        auto octet = take_number(s, 3, 255);
        if (!octet) return std::nullopt;
        t.server_ip = (t.server_ip << 8) | *octet;
        if (i < 3) {
            if (s.empty() || s.front() != '.') return std::nullopt;
            s.remove_prefix(1);
        }
    }
    if (!s.empty() && s.front() == ':') {
        s.remove_prefix(1);
        auto port = take_number(s, 5, 65535);
        if (!port || *port == 0) return std::nullopt;
        t.server_port = static_cast<std::uint16_t>(*port);
    }
    // The name goes into the read request as written, leading slash included; it must fit
    // into one datagram with the mode and the options.
    if (s.size() < 2 || s.front() != '/' || s.size() > 255) return std::nullopt;
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 0x21 || c == 0x7F) return std::nullopt;
    }
    t.file = s;
    return t;
}

std::string status_page(const StatusValues& v) {
    auto row = [](std::string_view label, std::string_view value) {
        return "<tr><td>" + std::string(label) + "</td><td>" + std::string(value) +
               "</td></tr>\r\n";
    };
    return "<html><head><title>ZOQ Device Status</title></head><body>\r\n"
           "<table border=\"1\">\r\n" +
           row("Product Name:", v.product) + row("MAC Address:", v.mac) +
           row("Software Version:", v.software) + row("Hardware Version:", v.hardware) +
           row("Serial Number:", v.serial) + "</table>\r\n</body></html>\r\n";
}

std::string http_answer(int code, std::string_view reason, std::string_view extra_headers,
                        std::string_view body) {
    std::string out = "HTTP/1.1 " + std::to_string(code) + " " + std::string(reason) + "\r\n";
    out += "Server: zoq-device-sim\r\n";
    out += extra_headers;
    out += "Content-Type: text/html\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += body;
    return out;
}

bool send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace zoq::sim
