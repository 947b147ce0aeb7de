// SPDX-License-Identifier: MIT
// A heartbeat played by a test: at every wait the session makes, the test's step decides
// whether a datagram is waiting and how many beats passed, and may play the device meanwhile.
// Nothing waits for real time. A session that outruns the script ends the test with an
// exception instead of a hang.
#pragma once

#include <poll.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include "os/heartbeat.h"

namespace zoq::test {

class ScriptedHeartbeat final : public Heartbeat {
  public:
    // `step` gets the socket and the number of this wake (1 for the first).
    using Step = std::function<Wake(int socket, unsigned wake)>;

    explicit ScriptedHeartbeat(Step step, unsigned limit = 100000)
        : step_(std::move(step)), limit_(limit) {}

    Wake wait(int socket) override {
        if (wakes_ >= limit_) {
            throw std::runtime_error("the session waited more than " + std::to_string(limit_) +
                                     " times: the script ran out");
        }
        ++wakes_;
        return step_(socket, wakes_);
    }

    unsigned wakes() const { return wakes_; }

  private:
    Step step_;
    unsigned limit_;
    unsigned wakes_ = 0;
};

// Whether a datagram is queued on `socket` now (loopback delivers inside sendto).
inline bool datagram_waiting(int socket) {
    pollfd p{socket, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

}  // namespace zoq::test
