// SPDX-License-Identifier: MIT
// A bad network between the device and the PC, played by the device itself: datagrams dropped,
// duplicated, reordered and delayed at given rates from a fixed seed, and for TCP what such a
// link does to a byte stream (it cannot lose or repeat bytes, only hold them back).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace zoq::sim {

// Rates are in percent of datagrams; 0 switches a fault off.
struct NetFaults {
    unsigned drop = 0;
    unsigned duplicate = 0;
    unsigned reorder = 0;
    unsigned delay = 0;
    unsigned delay_ms = 50;    // how long a delayed datagram is held
    unsigned reorder_ms = 20;  // longest wait for a later datagram to overtake a held one
    unsigned rto_ms = 200;     // TCP's retransmission time-out: a lost segment comes this late
    std::uint64_t seed = 1;
    bool to_device = true;    // faults on what the PC sends
    bool from_device = true;  // faults on what the device sends

    bool any() const { return drop || duplicate || reorder || delay; }
};

// The same seed gives the same decisions in the same order: a run can be repeated.
class FaultDice {
  public:
    explicit FaultDice(std::uint64_t seed) : state_(seed) {}
    bool roll(unsigned percent);

  private:
    std::uint64_t state_;
};

struct FaultCounts {
    unsigned dropped = 0;
    unsigned duplicated = 0;
    unsigned reordered = 0;
    unsigned delayed = 0;
};

// A datagram with the far end's address: the destination of one sent, the sender of one
// received (host order).
struct Datagram {
    std::vector<std::uint8_t> bytes;
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
};

// One direction of datagrams. `offer` takes a datagram as it is sent (or arrives); `take_due`
// hands back, in order, every datagram whose time has come.
class DatagramLane {
  public:
    using Clock = std::chrono::steady_clock;

    DatagramLane(const NetFaults& faults, bool active, std::uint64_t seed)
        : faults_(faults), active_(active), dice_(seed) {}

    void offer(Datagram datagram, Clock::time_point now);
    std::vector<Datagram> take_due(Clock::time_point now);
    // When the next held datagram falls due; nothing when none is held.
    std::optional<Clock::time_point> next_due() const;
    const FaultCounts& counts() const { return counts_; }

  private:
    struct Held {
        Datagram datagram;
        Clock::time_point due;
        bool waits_for_next;  // reordered: goes right after the next datagram offered
    };
    void hold(Datagram datagram, Clock::time_point due, bool waits_for_next);

    const NetFaults& faults_;
    bool active_;
    FaultDice dice_;
    std::deque<Held> held_;
    FaultCounts counts_;
};

// What a lossy link does to one TCP answer: it arrives in segments, and a segment that the
// link lost or reordered arrives only after a retransmission or a short hold. Returns, for
// each segment of at most `segment` bytes, how long to wait before writing it.
std::vector<unsigned> stream_stalls(const NetFaults& faults, FaultDice& dice, std::size_t length,
                                    std::size_t segment, FaultCounts& counts);

std::string describe(const FaultCounts& counts);

}  // namespace zoq::sim
