// SPDX-License-Identifier: MIT
// Carries calls from any thread to the GUI thread, where every widget lives.
//
// The calls travel through our own queue, guarded by a std::mutex, and an eventfd only rings
// the GUI thread's event loop (a QSocketNotifier): no Qt object is ever touched from another
// thread, and the hand-over is one that ThreadSanitizer can see (Qt itself is not built with it).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QSocketNotifier;

namespace zoq::qt {

// Prints `what` and aborts: a wrong-thread call or a broken invariant of this backend. Qt's
// own checks vanish in release builds; these stay.
[[noreturn]] void fatal(const char* what);

class GuiCalls {
  public:
    // On the GUI thread, with the application object alive.
    GuiCalls();
    ~GuiCalls();
    GuiCalls(const GuiCalls&) = delete;
    GuiCalls& operator=(const GuiCalls&) = delete;

    bool on_gui_thread() const { return std::this_thread::get_id() == gui_thread_; }
    std::thread::id gui_thread() const { return gui_thread_; }
    void check_gui_thread(const char* where) const;

    // Runs `fn` on the GUI thread and waits for it; runs it at once on the GUI thread itself
    // (a blocking call to one's own thread would wait for ever).
    void call(std::function<void()> fn);
    // Queues `fn` for the GUI thread without waiting; calls from one thread run in order, so a
    // set followed by a get reads the new value. Runs at once on the GUI thread itself.
    void post(std::function<void()> fn);

    template <class R>
    R get(const std::function<R()>& fn) {
        R result{};
        call([&] { result = fn(); });
        return result;
    }

    // Runs what is queued; the GUI thread's event loop does this by itself.
    void drain();

  private:
    struct Item {
        std::function<void()> fn;
        bool blocking = false;
        bool done = false;
    };
    void enqueue(const std::shared_ptr<Item>& item);

    std::thread::id gui_thread_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    bool draining_ = false;  // GUI thread only
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<Item>> queue_;
};

}  // namespace zoq::qt
