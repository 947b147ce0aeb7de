// SPDX-License-Identifier: MIT
// The 1 ms beat on Linux. A wait of its own 1 ms bound for every block arms and cancels a
// high-resolution timer each time, which under a hypervisor cost more than the block's system
// calls; one periodic timer for the whole transfer does not. Without a timer descriptor every
// wait carries its own 1 ms bound.
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <limits>

#include "os/heartbeat.h"
#include "os/socket.h"

namespace zoq {
namespace {

class TimerHeartbeat final : public Heartbeat {
  public:
    TimerHeartbeat() : timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
        itimerspec period{};
        period.it_interval.tv_nsec = 1000000;
        period.it_value.tv_nsec = 1000000;
        if (timer_ >= 0 && ::timerfd_settime(timer_, 0, &period, nullptr) != 0) {
            ::close(timer_);
            timer_ = -1;
        }
    }
    ~TimerHeartbeat() override {
        if (timer_ >= 0) ::close(timer_);
    }
    TimerHeartbeat(const TimerHeartbeat&) = delete;
    TimerHeartbeat& operator=(const TimerHeartbeat&) = delete;

    Wake wait(int socket) override {
        Wake wake;
        if (timer_ < 0) {
            wake.readable = wait_readable(socket, 1);
            wake.beats = wake.readable ? 0 : 1;
            return wake;
        }
        pollfd fds[2] = {{socket, POLLIN, 0}, {timer_, POLLIN, 0}};
        // The bound only guards against a timer that stopped; the beat comes every 1 ms.
        constexpr int GUARD_MS = 100;
        int n = ::poll(fds, 2, GUARD_MS);
        wake.readable = n > 0 && fds[0].revents != 0;
        if (n > 0 && fds[1].revents != 0) {
            std::uint64_t expirations = 0;
            if (::read(timer_, &expirations, sizeof expirations) > 0) {
                constexpr std::uint64_t most = std::numeric_limits<unsigned>::max();
                wake.beats = static_cast<unsigned>(expirations < most ? expirations : most);
            }
        }
        if (n == 0) wake.beats = GUARD_MS;
        return wake;
    }

  private:
    int timer_;
};

}  // namespace

std::unique_ptr<Heartbeat> make_system_heartbeat() {
    return std::make_unique<TimerHeartbeat>();
}

}  // namespace zoq
