// SPDX-License-Identifier: MIT
// The device's web pages: reading one request, the status page, the upgrade request's target,
// and the answers it writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zoq::sim {

struct HttpRequest {
    std::string method;
    std::string target;
    std::string version;
    std::optional<std::string> authorization;  // the header's value, blanks trimmed
};

// `raw` is the header up to and including its empty line. False when the request line is not
// "METHOD TARGET HTTP/x.y".
bool parse_http_request(std::string_view raw, HttpRequest& out);

enum class ReadOutcome { Complete, Closed, TimedOut, TooLong };
// Reads from `fd` until the empty line that ends a request header. The header is small: the
// utility sends three or four lines.
ReadOutcome read_http_request(int fd, unsigned timeout_ms, int stop_fd, std::string& out);

// "/admin/upgrade?tftp://A.B.C.D:PORT/NAME"; `file` is "/NAME" as written after the port.
struct UpgradeTarget {
    std::uint32_t server_ip = 0;  // host order
    std::uint16_t server_port = 69;
    std::string file;
};
std::optional<UpgradeTarget> parse_upgrade_target(std::string_view target);
inline constexpr std::string_view UPGRADE_PREFIX = "/admin/upgrade?";

struct StatusValues {
    std::string product;
    std::string mac;
    std::string software;
    std::string hardware;
    std::string serial;
};
std::string status_page(const StatusValues& values);

// A complete answer: status line, headers (with `extra_headers` as given, each ending in
// CR LF), an HTML body, "Connection: close".
std::string http_answer(int code, std::string_view reason, std::string_view extra_headers,
                        std::string_view body);

// Writes everything or fails; never raises SIGPIPE.
bool send_all(int fd, std::string_view data);

}  // namespace zoq::sim
