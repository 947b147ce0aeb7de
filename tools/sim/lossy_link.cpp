// SPDX-License-Identifier: MIT
#include "tools/sim/lossy_link.h"

#include <algorithm>

namespace zoq::sim {

bool FaultDice::roll(unsigned percent) {
    if (percent == 0) return false;
    // splitmix64: small, fast, and the same sequence on every platform for a seed.
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return z % 10000 < percent * 100ull;
}

void DatagramLane::hold(Datagram datagram, Clock::time_point due, bool waits_for_next) {
    held_.push_back(Held{std::move(datagram), due, waits_for_next});
}

void DatagramLane::offer(Datagram datagram, Clock::time_point now) {
    if (!active_) {
        hold(std::move(datagram), now, false);
        return;
    }
    if (dice_.roll(faults_.drop)) {
        ++counts_.dropped;
        return;
    }
    int copies = 1;
    if (dice_.roll(faults_.duplicate)) {
        ++counts_.duplicated;
        copies = 2;
    }
    for (int i = 0; i < copies; ++i) {
        Datagram copy = i + 1 < copies ? datagram : std::move(datagram);
        if (dice_.roll(faults_.reorder)) {
            ++counts_.reordered;
            hold(std::move(copy), now + std::chrono::milliseconds(faults_.reorder_ms), true);
            continue;
        }
        Clock::time_point due = now;
        if (dice_.roll(faults_.delay)) {
            ++counts_.delayed;
            due += std::chrono::milliseconds(faults_.delay_ms);
        }
        // Datagrams held back for reordering go right behind this one.
        std::vector<Held> overtaken;
        for (auto it = held_.begin(); it != held_.end();) {
            if (it->waits_for_next) {
                overtaken.push_back(std::move(*it));
                it = held_.erase(it);
            } else {
                ++it;
            }
        }
        hold(std::move(copy), due, false);
        for (Held& h : overtaken) {
            h.waits_for_next = false;
            h.due = std::max(due, now);
            held_.push_back(std::move(h));
        }
    }
}

std::vector<Datagram> DatagramLane::take_due(Clock::time_point now) {
    std::vector<Held> due;
    for (auto it = held_.begin(); it != held_.end();) {
        if (it->due <= now) {
            due.push_back(std::move(*it));
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
    std::stable_sort(due.begin(), due.end(),
                     [](const Held& a, const Held& b) { return a.due < b.due; });
    std::vector<Datagram> out;
    out.reserve(due.size());
    for (Held& h : due) out.push_back(std::move(h.datagram));
    return out;
}

std::optional<DatagramLane::Clock::time_point> DatagramLane::next_due() const {
    std::optional<Clock::time_point> next;
    for (const Held& h : held_) {
        if (!next || h.due < *next) next = h.due;
    }
    return next;
}

std::vector<unsigned> stream_stalls(const NetFaults& faults, FaultDice& dice, std::size_t length,
                                    std::size_t segment, FaultCounts& counts) {
    std::vector<unsigned> stalls;
    if (segment == 0) segment = 1;
    for (std::size_t at = 0; at < length; at += segment) {
        unsigned stall = 0;
        // A lost segment is sent again after the time-out, which doubles each time it is lost
        // again; the receiver's application sees nothing but the wait.
        unsigned rto = faults.rto_ms;
        for (int losses = 0; losses < 4 && dice.roll(faults.drop); ++losses) {
            ++counts.dropped;
            stall += rto;
            rto *= 2;
        }
        // A duplicate is discarded by the receiver's TCP: counted, never seen.
        if (dice.roll(faults.duplicate)) ++counts.duplicated;
        // A segment overtaken by a later one is held by the receiver until it arrives.
        if (dice.roll(faults.reorder)) {
            ++counts.reordered;
            stall += faults.reorder_ms;
        }
        if (dice.roll(faults.delay)) {
            ++counts.delayed;
            stall += faults.delay_ms;
        }
        stalls.push_back(stall);
    }
    return stalls;
}

std::string describe(const FaultCounts& c) {
    return "dropped " + std::to_string(c.dropped) + ", duplicated " + std::to_string(c.duplicated) +
           ", reordered " + std::to_string(c.reordered) + ", delayed " + std::to_string(c.delayed);
}

}  // namespace zoq::sim
