// SPDX-License-Identifier: MIT
// The millisecond clock and sleep, as a port: the real one, and a fast one for tests that must
// not wait through minutes of device restart time.
#pragma once

#include <atomic>
#include <cstdint>

namespace zoq {

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since some start, wrapping at 32 bits.
    virtual std::uint32_t now_ms() = 0;
    virtual void sleep_ms(std::uint32_t ms) = 0;
};

// Milliseconds since the system started (CLOCK_MONOTONIC), truncated to 32 bits.
class RealClock final : public Clock {
  public:
    std::uint32_t now_ms() override;
    void sleep_ms(std::uint32_t ms) override;
};

// Time that passes only by sleeping: each sleep adds its length at once (and yields, so that
// other threads run). Starting near 2^32 tests the counter's wrap.
class FastClock final : public Clock {
  public:
    explicit FastClock(std::uint32_t start = 0) : now_(start) {}
    std::uint32_t now_ms() override { return now_.load(); }
    void sleep_ms(std::uint32_t ms) override;
    void advance(std::uint32_t ms) { now_.fetch_add(ms); }

  private:
    std::atomic<std::uint32_t> now_;
};

}  // namespace zoq
