// SPDX-License-Identifier: MIT
// Starting the core's threads (the request worker, the TFTP listener) as a port, so that a
// system that refuses a thread can be played by a test: the refusal must end in a message box
// and exit code 0 like every other fatal condition, never in an abort.
#pragma once

#include <functional>
#include <new>
#include <thread>
#include <utility>

namespace zoq {

class ThreadStarter {
  public:
    virtual ~ThreadStarter() = default;
    // A running thread with `body`; throws std::system_error when no thread can be created.
    virtual std::thread start(std::function<void()> body) = 0;
};

enum class ThreadStartOutcome { Started, Refused };

struct ThreadStart {
    ThreadStartOutcome outcome = ThreadStartOutcome::Refused;
    std::thread thread;  // running when Started
};

// Through `starter`, or straight from the system when it is null. Refused when the system (or
// the memory for the body) gave no thread: the refusal is a value, never an exception.
template <class Body>
ThreadStart start_thread(ThreadStarter* starter, Body&& body, std::nothrow_t) noexcept {
    try {
        std::function<void()> function(std::forward<Body>(body));
        if (starter != nullptr)
            return {ThreadStartOutcome::Started, starter->start(std::move(function))};
        return {ThreadStartOutcome::Started, std::thread(std::move(function))};
    } catch (...) {
        return {};
    }
}

}  // namespace zoq
