// SPDX-License-Identifier: MIT
// One HTTP/1.1 GET against the device's web server, and the five status-page values cut out of
// its answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/random.h"
#include "common/text.h"
#include "os/socket.h"
#include "web/digest.h"

namespace zoq {

// The five values of the device's status page.
struct DeviceInfo {
    Text<128> product_name{};
    Text<128> serial_number{};
    Text<128> mac_address{};
    Text<128> hardware_version{};
    Text<128> software_version{};
};

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

// Where one request goes: from `local_ip` (0: any), local port `local_port` or one of the next
// hundred, to the device's `device_ip`:`device_port`.
struct HttpEndpoints {
    std::uint32_t local_ip = 0;
    std::uint16_t local_port = 0;
    std::uint32_t device_ip = 0;
    std::uint16_t device_port = 0;
};

enum class HttpOutcome {
    Answer,       // `received` bytes came back (0: no connection, or nothing before the end)
    Challenge,    // the device asked for credentials with a usable challenge, now in the share
    NoSocket,     // no request was made: the system gave no TCP socket
    NoLocalPort,  // no request was made: the first local port and the next hundred were taken
};

struct HttpResult {
    HttpOutcome outcome = HttpOutcome::Answer;
    int received = 0;  // of an Answer or a Challenge
};

// One GET of `path`. `buffer` holds `capacity` + 1 bytes: the request, then the raw answer,
// zero-terminated. Credentials come from the share's record when it holds a password.
HttpResult http_get(const HttpEndpoints& to, const char* path, char* buffer, int capacity,
                    const DigestShare& digest);

// The exchange on a connected socket: the request, the whole answer up to the device's end of
// the connection (or `capacity` bytes) and its class. An Answer or a Challenge.
HttpResult http_exchange(int socket, const char* path, char* buffer, int capacity,
                         const DigestShare& digest);

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

// The values of a status page: those whose label `page` carries, and the others as in `before`.
DeviceInfo read_device_info(std::string_view page, const DeviceInfo& before);

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
