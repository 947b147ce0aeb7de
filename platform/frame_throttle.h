// SPDX-License-Identifier: MIT
// Values that only replace each other (a caption, a control's text, a bar's position), which
// the transfer sets thousands of times a second, reach the screen at most once per frame and
// always the newest: the Qt and the Win32 backends keep them here. No toolkit in it: each
// backend brings its own timer for the last values and its own way to apply them.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace zoq {

// When the waiting values may be shown next.
class FrameClock {
  public:
    using Clock = std::chrono::steady_clock;
    // One frame of a 60 Hz screen. Drawing more often shows the user nothing and slows the
    // transfer down: under Wine each caption costs a round of calls to the X server.
    static constexpr std::chrono::milliseconds FRAME{16};

    // Nothing when a frame has passed since values were last shown (they go now); otherwise
    // how long the backend's timer waits for the next frame, never 0 (a timer that spins).
    std::optional<std::chrono::milliseconds> wait(Clock::time_point now) const {
        const auto since = now - shown_;
        if (since >= FRAME) return std::nullopt;
        const auto rest = std::chrono::ceil<std::chrono::milliseconds>(FRAME - since);
        return std::max(rest, std::chrono::milliseconds{1});
    }
    void shown(Clock::time_point now) { shown_ = now; }

  private:
    Clock::time_point shown_{};
};

// The newest value of each key that waits for its frame. A newer value replaces the waiting
// one and moves last: what was set last is drawn last, so a frame never shows a caption ahead
// of the bar that the transfer set before it.
template <class Key>
class LatestValues {
  public:
    using Apply = std::function<void()>;

    LatestValues() = default;

    // Keeps `apply` for `key`; returns the value it replaced (empty when none waited), for the
    // caller to destroy outside its lock.
    Apply set(const Key& key, Apply apply) {
        for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
            if (it->first == key) {
                std::swap(it->second, apply);
                std::rotate(it, std::next(it), waiting_.end());
                return apply;
            }
        }
        waiting_.emplace_back(key, std::move(apply));
        return {};
    }

    bool empty() const { return waiting_.empty(); }

    // Hands the waiting values over to be shown later, in their order; none wait afterwards.
    LatestValues take() { return LatestValues(std::exchange(waiting_, {})); }

    // Applies the waiting values in their order and forgets them.
    void show() {
        for (auto& value : std::exchange(waiting_, {})) value.second();
    }

  private:
    explicit LatestValues(std::vector<std::pair<Key, Apply>> waiting)
        : waiting_(std::move(waiting)) {}

    std::vector<std::pair<Key, Apply>> waiting_;
};

}  // namespace zoq
