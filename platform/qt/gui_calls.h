// SPDX-License-Identifier: MIT
// Carries calls from any thread to the GUI thread, where every widget lives.
//
// The calls travel through our own queue, guarded by a std::mutex, and an eventfd only rings
// the GUI thread's event loop (a QSocketNotifier): no Qt object is ever touched from another
// thread, and the hand-over is one that ThreadSanitizer can see (Qt itself is not built with it).
//
// Setters that only replace a value (a caption, a control's text, a bar's position) may be
// called thousands of times a second by the transfer. They never wait for the GUI thread, and a
// newer value of the same thing replaces the one still queued, so that the GUI thread draws
// only the latest; it applies them at most once per frame. Everything else runs in the order
// it was queued, and any such call first applies the values queued before it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

#include "common/locking.h"
#include "platform/frame_throttle.h"

class QSocketNotifier;
class QTimer;

namespace zoq::qt {

// Prints `what` and aborts: a wrong-thread call or a broken invariant of this backend. Qt's
// own checks vanish in release builds; these stay.
[[noreturn]] void fatal(const char* what);

// What a latest-value-wins setter replaces: one property of one control of one dialog.
struct SlotKey {
    std::uint64_t dialog = 0;
    int what = 0;
    int control = 0;
    bool operator==(const SlotKey&) const = default;
};

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
    // Like post, but `fn` replaces a queued call of the same key, as long as only other such
    // setters were queued after that one (they touch other things, so it may pass them).
    void post_latest(SlotKey key, std::function<void()> fn) EXCLUDES(mutex_);

    template <class R>
    R get(const std::function<R()>& fn) {
        R result{};
        call([&] { result = fn(); });
        return result;
    }

    // Runs everything that is queued, now; the GUI thread's event loop does this by itself,
    // latest-value setters at most once per frame.
    void drain() EXCLUDES(mutex_);

  private:
    struct Item {
        std::function<void()> fn;
        bool blocking = false;
        bool values = false;  // latest-value setters, which count as a frame drawn
        bool done = false;    // guarded by mutex_
    };
    void enqueue(const std::shared_ptr<Item>& item) EXCLUDES(mutex_);
    // The latest-value setters queued since the last other call, as one item at the end of
    // `queue`: a call queued after them must find them applied.
    void close_values(std::deque<std::shared_ptr<Item>>& queue) REQUIRES(mutex_);
    void ring();
    // One pass of the GUI thread over the queue. Unless `frame_due`, latest-value setters that
    // are alone in it wait until a frame has passed since the last ones were applied.
    void serve(bool frame_due) EXCLUDES(mutex_);

    std::thread::id gui_thread_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* frame_timer_ = nullptr;
    // GUI thread only.
    bool draining_ = false;
    FrameClock frame_;
    Mutex mutex_;
    std::condition_variable done_;
    // Calls in their order; latest-value setters only as closed items before another call.
    std::deque<std::shared_ptr<Item>> queue_ GUARDED_BY(mutex_);
    // The latest-value setters after the last other call, which newer values may replace.
    LatestValues<SlotKey> latest_ GUARDED_BY(mutex_);
};

}  // namespace zoq::qt
