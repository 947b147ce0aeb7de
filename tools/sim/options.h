// SPDX-License-Identifier: MIT
// Command line of the simulated device: what it reports, how it authenticates, and which faults
// it shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/sim/lossy_link.h"

namespace zoq::sim {

enum class AuthMode { None, Qop, NoQop, Md5Sess };

// What the device does with HTTP connections while it restarts.
enum class RestartMode {
    Hold,    // keeps listening but accepts nothing: connections wait until it is back
    Refuse,  // closes its listening socket: connections are refused
    Drop,    // accepts and closes at once without an answer
};

struct SimOptions {
    std::string address = "127.0.0.2";
    std::uint16_t http_port = 80;

    std::string version = "5.2.10(001)";
    std::string product = "ZOQ-4502";
    std::string mac = "02:00:00:AA:BB:CC";
    std::string hardware = "1.0.2";
    std::string serial = "ZQ45020001";

    AuthMode auth = AuthMode::None;
    std::string user = "admin";
    std::string password = "admin";
    std::string realm = "ZOQ";
    std::string opaque;  // sent in every challenge when not empty
    bool new_nonce_per_challenge = false;

    std::string expect_image;  // empty: the image the utility carries
    std::string save;          // where to write the received bytes; empty: nowhere

    unsigned restart_ms = 3000;
    RestartMode restart_mode = RestartMode::Hold;
    std::optional<std::string> wrong_version_after;
    bool never_return = false;
    std::optional<std::string> password_after;  // the password after the restart

    bool no_answer = false;  // nothing listens: connections are refused
    bool no_reply = false;   // accepts and reads the request, never answers nor closes
    bool never_close = false;
    bool never_close_upgrade = false;

    std::optional<unsigned> stop_ack_at;  // 0 leaves the option acknowledgement unanswered
    unsigned drop_ack_every = 0;
    bool duplicate_acks = false;
    bool stray_from_other_port = false;
    unsigned stray_at_block = 2;
    unsigned tftp_timeout_ms = 0;  // 0: the time-out the server acknowledged (5 s asked for)
    unsigned tftp_retries = 5;
    unsigned progress_every = 200;

    // A bad network on the TFTP datagrams and the HTTP connections (each may be left out).
    NetFaults net;
    bool net_tftp = true;
    bool net_http = true;
    unsigned slow_http_ms = 0;  // answers one byte at a time, this far apart; 0: at once

    // Others on the device's LAN: a host that asks for every file name first (its address;
    // empty: none), and a distribution's TFTP client fetching in the device's place.
    std::string stranger;
    std::string tftp_client;  // empty: the device's own; "busybox" or "tftp-hpa"

    unsigned request_timeout_ms = 5000;
    bool exit_after_upgrade = false;
};

enum class ParseOutcome { Run, Help, Error };

// Fills `options` from argv; on Error, `error` says why.
ParseOutcome parse_options(int argc, char** argv, SimOptions& options, std::string& error);

const char* help_text();
const char* auth_mode_name(AuthMode mode);
const char* restart_mode_name(RestartMode mode);

}  // namespace zoq::sim
