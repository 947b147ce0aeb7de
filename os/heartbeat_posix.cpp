// SPDX-License-Identifier: MIT
// The transfer's 1 ms beat on POSIX systems. Both kinds report, in every wake, whether a
// datagram is waiting and how many milliseconds passed, independently of each other: a
// datagram, the device's or a stranger's, never stands in for a beat nor swallows one.
#include "os/heartbeat_posix.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <limits>

namespace zoq {
namespace {

unsigned clamp_beats(std::uint64_t count) {
    return count > std::numeric_limits<unsigned>::max() ? std::numeric_limits<unsigned>::max()
                                                        : static_cast<unsigned>(count);
}

// Arming and cancelling a high-resolution timer for every 1 ms wait cost more than a block's
// system calls under a hypervisor; one periodic timer for the whole transfer does not.
class TimerHeartbeat final : public Heartbeat {
  public:
    explicit TimerHeartbeat(int timer) : timer_(timer) {}
    ~TimerHeartbeat() override { ::close(timer_); }
    TimerHeartbeat(const TimerHeartbeat&) = delete;
    TimerHeartbeat& operator=(const TimerHeartbeat&) = delete;

    Wake wait(int socket) override {
        for (;;) {
            Wake wake;
            pollfd fds[2] = {{socket, POLLIN, 0}, {timer_, POLLIN, 0}};
            // The bound only guards against a timer that stopped; the beat comes every 1 ms.
            const int n = ::poll(fds, 2, STOPPED_TIMER_BOUND_MS);
            if (n < 0) {
                if (errno == EINTR) continue;
                // A poll that cannot wait must neither spin nor hurry the count.
                const timespec beat{0, 1000000};
                ::nanosleep(&beat, nullptr);
                wake.beats = 1;
                return wake;
            }
            if (n == 0) {
                wake.beats = STOPPED_TIMER_BOUND_MS;
                return wake;
            }
            wake.readable = fds[0].revents != 0;
            if (fds[1].revents != 0) {
                std::uint64_t expirations = 0;
                if (::read(timer_, &expirations, sizeof expirations) ==
                    static_cast<ssize_t>(sizeof expirations)) {
                    wake.beats = clamp_beats(expirations);
                }
            }
            if (wake.readable || wake.beats > 0) return wake;
        }
    }

  private:
    static constexpr int STOPPED_TIMER_BOUND_MS = 100;
    int timer_;
};

class ClockHeartbeat final : public Heartbeat {
  public:
    ClockHeartbeat() : next_beat_(Clock::now() + BEAT) {}

    Wake wait(int socket) override {
        Wake wake;
        for (;;) {
            Clock::time_point now = Clock::now();
            timespec bound{0, 0};
            if (now < next_beat_) {
                const auto ns =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(next_beat_ - now).count();
                bound.tv_sec = static_cast<time_t>(ns / 1000000000);
                bound.tv_nsec = static_cast<long>(ns % 1000000000);
            }
            pollfd fd{socket, POLLIN, 0};
            const int n = ::ppoll(&fd, 1, &bound, nullptr);
            const int poll_error = n < 0 ? errno : 0;
            wake.readable = n > 0 && fd.revents != 0;
            now = Clock::now();
            if (now >= next_beat_) {
                // A late wake reports every millisecond that passed, not one.
                const auto due = (now - next_beat_) / BEAT + 1;
                wake.beats = clamp_beats(static_cast<std::uint64_t>(due));
                next_beat_ += BEAT * due;
            }
            if (wake.readable || wake.beats > 0) return wake;
            if (n < 0 && poll_error != EINTR) {
                // A poll that cannot wait: sleep out the beat rather than spin.
                const timespec rest{0, 1000000};
                ::nanosleep(&rest, nullptr);
            }
        }
    }

  private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds BEAT{1};
    Clock::time_point next_beat_;
};

}  // namespace

std::unique_ptr<Heartbeat> make_timer_heartbeat() {
    const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer < 0) return nullptr;
    itimerspec period{};
    period.it_interval.tv_nsec = 1000000;
    period.it_value.tv_nsec = 1000000;
    if (::timerfd_settime(timer, 0, &period, nullptr) != 0) {
        ::close(timer);
        return nullptr;
    }
    return std::make_unique<TimerHeartbeat>(timer);
}

std::unique_ptr<Heartbeat> make_clock_heartbeat() {
    return std::make_unique<ClockHeartbeat>();
}

std::unique_ptr<Heartbeat> make_system_heartbeat() {
    if (auto timer = make_timer_heartbeat()) return timer;
    return make_clock_heartbeat();
}

}  // namespace zoq
