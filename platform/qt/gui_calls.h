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
#include <mutex>
#include <thread>

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
    // How often queued values reach the screen while nothing else is queued: one frame of a
    // 60 Hz screen. Drawing more often shows the user nothing and slows the transfer down.
    static constexpr std::chrono::milliseconds FRAME{16};

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
    void post_latest(SlotKey key, std::function<void()> fn);

    template <class R>
    R get(const std::function<R()>& fn) {
        R result{};
        call([&] { result = fn(); });
        return result;
    }

    // Runs everything that is queued, now; the GUI thread's event loop does this by itself,
    // latest-value setters at most once per frame.
    void drain();

  private:
    struct Item {
        std::function<void()> fn;
        bool blocking = false;
        bool mergeable = false;
        SlotKey key;
        bool done = false;
    };
    void enqueue(const std::shared_ptr<Item>& item);
    void ring();
    // One pass of the GUI thread over the queue. Unless `frame_due`, latest-value setters that
    // are alone in it wait until a frame has passed since the last ones were applied.
    void serve(bool frame_due);

    std::thread::id gui_thread_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* frame_timer_ = nullptr;
    // GUI thread only.
    bool draining_ = false;
    std::chrono::steady_clock::time_point last_frame_{};
    // Guarded by mutex_.
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<Item>> queue_;
    int ordered_ = 0;  // queued calls that are not latest-value setters
};

}  // namespace zoq::qt
