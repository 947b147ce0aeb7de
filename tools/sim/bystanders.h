// SPDX-License-Identifier: MIT
// Others on the device's LAN, for the tests of who the utility serves: a stranger host that
// asks for every file name the utility can choose before the device asks for its own, and the
// TFTP clients of other devices (busybox, tftp-hpa) fetching in the device's place.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "os/socket.h"
#include "tools/sim/output.h"
#include "tools/sim/tftp_client.h"

namespace zoq::sim {

class Stranger {
  public:
    // Binds UDP and HTTP (port 80) on `ip`; says so in a line, or why it cannot.
    Stranger(std::uint32_t ip, Output& out);
    bool ready() const { return udp_.valid() && http_.valid(); }
    // HTTP: the utility has no business there; every connection is told and closed.
    int http_fd() const { return http_.fd(); }
    void take_http();
    // Read requests for "/zoq0.bi1" to "/zoq7fff.bi1" to the server, paced so that a listener
    // that still served whoever asks first would see every one.
    void ask_for_every_name(std::uint32_t server_ip, std::uint16_t server_port);
    // What came back to the stranger's TFTP socket since the sweep.
    void tell_answers();

  private:
    std::uint32_t ip_;
    Output& out_;
    Socket udp_;
    Socket http_;
};

// Fetches `plan.file` with a distribution's TFTP client ("busybox" or "tftp-hpa") into a file
// of its own and compares it with `expected`; the client's own output becomes lines.
DownloadResult external_download(const std::string& client, const DownloadPlan& plan,
                                 std::span<const std::uint8_t> expected, Output& out, int stop_fd);

}  // namespace zoq::sim
