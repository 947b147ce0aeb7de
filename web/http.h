// SPDX-License-Identifier: MIT
// One HTTP/1.1 GET against the device's web server, and the five status-page values cut out of
// its answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/net.h"
#include "os/socket.h"
#include "common/state.h"
#include "ui/port.h"

namespace zoq {

// Every request names this host, whatever the device's address: the device expects it.
inline constexpr const char* HTTP_HOST_LINE = "Host: 192.168.2.110\r\n";
inline constexpr int HTTP_CONNECT_ATTEMPTS = 10;
// Local ports tried: the first one and the next hundred.
inline constexpr int HTTP_BIND_RETRIES = 100;
// Longest value cut out of a page.
inline constexpr std::size_t FIELD_MAX = 127;

// Status classes of parse_status.
inline constexpr int STATUS_NOT_HTTP11 = -1;
inline constexpr int STATUS_NO_CODE = -2;
inline constexpr int STATUS_OK = 0;
inline constexpr int STATUS_CHALLENGE = 1;
inline constexpr int STATUS_OTHER = 2;

// A connected TCP socket from `local_ip` (0: any), local port `local_port` or one of the next
// hundred, to `remote_ip`:`remote_port`; an invalid socket when the connect call failed. When
// no socket can be made or bound it shows the failure and ends the process.
Socket tcp_connect(Toolkit& ui, std::uint32_t local_ip, std::uint16_t local_port,
                   std::uint32_t remote_ip, std::uint16_t remote_port);

// One GET of `path`. `buffer` holds `capacity` + 1 bytes: the request, then the raw answer,
// zero-terminated. Returns -1 when the device asked for credentials with a usable challenge
// (now in `state.digest`), 0 when no connection was made or nothing came back, else the number
// of bytes received. Fills `state.device_info` from any other answer.
int http_get(UpgradeState& state, std::uint32_t local_ip, std::uint16_t local_port,
             std::uint32_t device_ip, std::uint16_t device_port, const char* path, char* buffer,
             int capacity);

// The exchange on a connected socket: the request, the whole answer up to the device's end of
// the connection (or `capacity` bytes), its class and the values. Results as http_get's.
int http_exchange(UpgradeState& state, int socket, const char* path, char* buffer, int capacity);

// The class of an answer (a zero byte ends it); fills `digest` for class 1.
int parse_status(std::string_view response, DigestChallenge& digest, Random& rng);

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
