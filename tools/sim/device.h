// SPDX-License-Identifier: MIT
// The simulated device as a whole: its web server, its upgrade, its restart.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/net.h"
#include "os/socket.h"
#include "tools/sim/bystanders.h"
#include "tools/sim/digest_server.h"
#include "tools/sim/http.h"
#include "tools/sim/options.h"
#include "tools/sim/output.h"
#include "tools/sim/tftp_client.h"

namespace zoq::sim {

class Device {
  public:
    // `expected` is the image every download is compared with; `stop_fd` becomes readable
    // when the device is to end.
    Device(const SimOptions& options, std::vector<std::uint8_t> expected, Output& out, int stop_fd);

    // Serves until stopped (or, with --exit-after-upgrade, until done). The exit code.
    int run();

  private:
    enum class Phase { Up, Restarting, Gone };
    using Clock = std::chrono::steady_clock;

    bool open_listener();
    void serve(Socket connection, const std::string& peer);
    void answer_status(Socket& connection);
    void start_upgrade(Socket& connection, const UpgradeTarget& target, const std::string& peer);
    void restart(DownloadOutcome outcome, const std::vector<std::uint8_t>& received);
    void come_back();
    void finish_connection(Socket connection);
    void poll_held();
    // Writes one answer as the network lets it through: whole, segment by segment with the
    // stalls of a lossy link, or one byte at a time.
    bool answer(int fd, std::string_view data);
    // Waits `ms`, or less when the device is told to stop (then false).
    bool pause(unsigned ms);

    const SimOptions& options_;
    std::vector<std::uint8_t> expected_;
    Output& out_;
    int stop_fd_;
    std::uint32_t own_ip_ = 0;

    DigestServer digest_;
    FaultDice http_dice_;
    FaultCounts http_counts_;
    Socket listener_;
    std::vector<Socket> held_;  // connections the device keeps open (faults)
    std::unique_ptr<Stranger> stranger_;
    Phase phase_ = Phase::Up;
    Clock::time_point back_at_{};
    std::string version_;
    std::string version_after_restart_;
    bool upgraded_ = false;  // came back from an upgrade
    bool done_ = false;
    bool stopped_ = false;
};

}  // namespace zoq::sim
