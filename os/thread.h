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

// Through `starter`, or straight from the system when it is null. Throws what the creation
// throws (std::system_error, or std::bad_alloc for the body's copy).
inline std::thread start_thread(ThreadStarter* starter, std::function<void()> body) {
    if (starter != nullptr) return starter->start(std::move(body));
    return std::thread(std::move(body));
}

enum class ThreadStartOutcome { Started, Refused };

struct ThreadStart {
    ThreadStartOutcome outcome = ThreadStartOutcome::Refused;
    std::thread thread;  // running when Started
};

// The same without an exception: Refused when the system (or the memory for the body) gave
// no thread.
template <class Body>
ThreadStart start_thread(ThreadStarter* starter, Body&& body, std::nothrow_t) noexcept {
    try {
        return {ThreadStartOutcome::Started,
                start_thread(starter, std::function<void()>(std::forward<Body>(body)))};
    } catch (...) {
        return {};
    }
}

}  // namespace zoq
