// SPDX-License-Identifier: MIT
// The 1 ms beat on Windows. The system timer ticks every 15.6 ms unless a program asks for
// more: without timeBeginPeriod(1) every 1 ms wait of the transfer would last 16 and a resend
// interval of 100 polls would become 1.6 seconds. The finer period is held only while a
// transfer runs, since it costs the whole machine power. Beats are counted on the performance
// counter, so a late wake-up still reports every millisecond that passed.
#include <winsock2.h>
// After winsock2.h, which brings windows.h; mmsystem.h needs its types.
#include <mmsystem.h>

#include <cstdint>

#include "os/heartbeat.h"

namespace zoq {
namespace {

class PeriodHeartbeat final : public Heartbeat {
  public:
    PeriodHeartbeat() : fine_(::timeBeginPeriod(1) == TIMERR_NOERROR) {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        ticks_per_ms_ = frequency.QuadPart / 1000;
        if (ticks_per_ms_ <= 0) ticks_per_ms_ = 1;
        last_beat_ = now();
    }
    ~PeriodHeartbeat() override {
        if (fine_) ::timeEndPeriod(1);
    }
    PeriodHeartbeat(const PeriodHeartbeat&) = delete;
    PeriodHeartbeat& operator=(const PeriodHeartbeat&) = delete;

    Wake wait(int socket) override {
        Wake wake;
        const SOCKET s = static_cast<SOCKET>(static_cast<unsigned>(socket));
        for (;;) {
            // Up to the next beat, rounded up to whole microseconds so that the wait does not
            // come back a hair early and spin.
            const std::int64_t left = last_beat_ + ticks_per_ms_ - now();
            long micros = 0;
            if (left > 0) {
                micros = static_cast<long>((left * 1000 + ticks_per_ms_ - 1) / ticks_per_ms_);
            }
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval bound{0, micros};
            const int n = ::select(0, &readable, nullptr, nullptr, &bound);
            if (n > 0) wake.readable = true;
            // A socket the system refuses to wait on: wait out the beat instead of spinning.
            if (n < 0) ::Sleep(1);
            wake.beats = take_beats();
            if (wake.readable || wake.beats > 0) return wake;
        }
    }

  private:
    std::int64_t now() const {
        LARGE_INTEGER counter{};
        ::QueryPerformanceCounter(&counter);
        return counter.QuadPart;
    }

    // Whole milliseconds since the last beat that was reported; the remainder carries over.
    unsigned take_beats() {
        const std::int64_t passed = (now() - last_beat_) / ticks_per_ms_;
        if (passed <= 0) return 0;
        last_beat_ += passed * ticks_per_ms_;
        return passed > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<unsigned>(passed);
    }

    bool fine_;
    std::int64_t ticks_per_ms_ = 1;
    std::int64_t last_beat_ = 0;
};

}  // namespace

std::unique_ptr<Heartbeat> make_system_heartbeat() {
    return std::make_unique<PeriodHeartbeat>();
}

}  // namespace zoq
