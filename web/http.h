// SPDX-License-Identifier: MIT
// One HTTP/1.1 GET against the device's web server, and the five status-page values cut out of
// its answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/state.h"
#include "os/socket.h"

namespace zoq {

// Every request names this host, whatever the device's address: the device expects it.
inline constexpr const char* HTTP_HOST_LINE = "Host: 192.168.2.110\r\n";
inline constexpr int HTTP_CONNECT_ATTEMPTS = 10;
// Local ports tried: the first one and the next hundred.
inline constexpr int HTTP_BIND_RETRIES = 100;
// Longest value cut out of a page.
inline constexpr std::size_t FIELD_MAX = 127;

// Why a request could not be made at all. A refused connection is not among them: it is
// tried again, and ten refusals are an answer of no bytes.
enum class HttpFailure {
    None,
    NoSocket,     // the system gave no TCP socket
    NoLocalPort,  // the first local port and the next hundred were all taken
};

struct Connection {
    Socket socket;  // invalid when the connect call failed or `failure` is set
    HttpFailure failure = HttpFailure::None;
};

// A connected TCP socket from `local_ip` (0: any), local port `local_port` or one of the next
// hundred, to `remote_ip`:`remote_port`.
Connection tcp_connect(std::uint32_t local_ip, std::uint16_t local_port, std::uint32_t remote_ip,
                       std::uint16_t remote_port);

enum class HttpOutcome {
    Answer,     // `received` bytes came back (0: no connection, or nothing before the end)
    Challenge,  // the device asked for credentials with a usable challenge, now in `digest`
    Failed,     // no request could be made: `failure` says why
};

struct HttpResult {
    HttpOutcome outcome = HttpOutcome::Answer;
    int received = 0;
    HttpFailure failure = HttpFailure::None;
};

// One GET of `path`. `buffer` holds `capacity` + 1 bytes: the request, then the raw answer,
// zero-terminated. Fills `state.device_info` from any answer but a challenge.
HttpResult http_get(UpgradeState& state, std::uint32_t local_ip, std::uint16_t local_port,
                    std::uint32_t device_ip, std::uint16_t device_port, const char* path,
                    char* buffer, int capacity);

// The exchange on a connected socket: the request, the whole answer up to the device's end of
// the connection (or `capacity` bytes), its class and the values. An Answer or a Challenge.
HttpResult http_exchange(UpgradeState& state, int socket, const char* path, char* buffer,
                         int capacity);

// The class of an answer; the numbers are those the trace prints.
enum class HttpStatus {
    NotHttp11 = -1,
    NoCode = -2,
    Ok = 0,
    Challenge = 1,
    Other = 2,
};

// The class of an answer (a zero byte ends it); fills `digest` for a Challenge.
HttpStatus parse_status(std::string_view response, DigestChallenge& digest, Random& rng);

// Copies the value that follows `label` and its tags into `out` (at most `max` characters and
// a zero byte, so `out` holds `max` + 1). Returns `out`, or null when nothing was written.
char* extract_field(std::string_view page, std::string_view label, char* out, std::size_t max);

// The labels of the status page, in the order they are searched, with their fields.
struct FieldLabel {
    const char* label;
    Text<128> DeviceInfo::*field;
};
inline constexpr FieldLabel FIELD_LABELS[5] = {
    {"Product Name:", &DeviceInfo::product_name},
    {"MAC Address:", &DeviceInfo::mac_address},
    {"Software Version:", &DeviceInfo::software_version},
    {"Hardware Version:", &DeviceInfo::hardware_version},
    {"Serial Number:", &DeviceInfo::serial_number},
};

}  // namespace zoq
