// SPDX-License-Identifier: MIT
// The device's TFTP client (RFC 1350 with the tsize and timeout options of RFC 2347/2349): one
// download of the named file, every byte compared with the image the device expects, and the
// acknowledgement faults a test can switch on.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/sim/lossy_link.h"
#include "tools/sim/output.h"

namespace zoq::sim {

struct DownloadPlan {
    std::uint32_t own_ip = 0;  // host order; the client's socket is bound here
    std::uint32_t server_ip = 0;
    std::uint16_t server_port = 69;
    std::string file;  // sent in the read request exactly as given
};

struct TftpBehaviour {
    std::optional<unsigned> stop_ack_at;
    unsigned drop_ack_every = 0;
    bool duplicate_acks = false;
    bool stray_from_other_port = false;
    unsigned stray_at_block = 2;
    unsigned timeout_ms = 0;  // 0: the server's acknowledged time-out
    unsigned retries = 5;
    unsigned progress_every = 200;
    NetFaults net;
};

enum class DownloadOutcome { Ok, Mismatch, Incomplete };
const char* outcome_name(DownloadOutcome outcome);

struct DownloadResult {
    DownloadOutcome outcome = DownloadOutcome::Incomplete;
    std::vector<std::uint8_t> data;
    bool interrupted = false;  // a stop signal came during the download
};

// Runs the whole download; returns when it is over, given up, or `stop_fd` becomes readable.
DownloadResult tftp_download(const DownloadPlan& plan, const TftpBehaviour& behaviour,
                             std::span<const std::uint8_t> expected, Output& out, int stop_fd);

}  // namespace zoq::sim
