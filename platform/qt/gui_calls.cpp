// SPDX-License-Identifier: MIT
#include "platform/qt/gui_calls.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace zoq::qt {

void fatal(const char* what) {
    std::fprintf(stderr, "zoq-upgrade: internal error: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

GuiCalls::GuiCalls() : gui_thread_(std::this_thread::get_id()) {
    auto* app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread()) {
        fatal("the Qt toolkit must be made on the thread that owns the application object");
    }
    fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0) fatal("eventfd failed");
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] {
        std::uint64_t count = 0;
        // The counter only rings the bell; what to do is in the queue.
        [[maybe_unused]] auto n = ::read(fd_, &count, sizeof count);
        serve(false);
    });
    frame_timer_ = new QTimer;
    frame_timer_->setSingleShot(true);
    frame_timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(frame_timer_, &QTimer::timeout, frame_timer_, [this] { serve(true); });
}

GuiCalls::~GuiCalls() {
    check_gui_thread("~GuiCalls");
    drain();  // nobody may be left waiting for a call
    delete frame_timer_;
    delete notifier_;
    ::close(fd_);
}

void GuiCalls::check_gui_thread(const char* where) const {
    if (!on_gui_thread()) {
        std::fprintf(stderr, "zoq-upgrade: %s called outside the GUI thread\n", where);
        fatal("widget touched from another thread");
    }
}

void GuiCalls::ring() {
    std::uint64_t one = 1;
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void GuiCalls::close_values(std::deque<std::shared_ptr<Item>>& queue) {
    if (latest_.empty()) return;
    auto item = std::make_shared<Item>();
    item->fn = [values = std::make_shared<LatestValues<SlotKey>>(latest_.take())] {
        values->show();
    };
    item->values = true;
    queue.push_back(std::move(item));
}

void GuiCalls::enqueue(const std::shared_ptr<Item>& item) {
    {
        LockGuard lock(mutex_);
        close_values(queue_);
        queue_.push_back(item);
    }
    // Always: a call that must run in order never waits for a frame.
    ring();
}

void GuiCalls::call(std::function<void()> fn) {
    if (on_gui_thread()) {
        fn();
        return;
    }
    auto item = std::make_shared<Item>();
    item->fn = std::move(fn);
    item->blocking = true;
    enqueue(item);
    UniqueLock lock(mutex_);
    lock.wait(done_, [&] { return item->done; });
}

void GuiCalls::post(std::function<void()> fn) {
    if (on_gui_thread()) {
        fn();
        return;
    }
    auto item = std::make_shared<Item>();
    item->fn = std::move(fn);
    enqueue(item);
}

void GuiCalls::post_latest(SlotKey key, std::function<void()> fn) {
    if (on_gui_thread()) {
        fn();
        return;
    }
    bool bell;
    std::function<void()> replaced;  // destroyed outside the lock
    {
        LockGuard lock(mutex_);
        // A queue that is not empty has rung already, or waits for the frame timer.
        bell = queue_.empty() && latest_.empty();
        replaced = latest_.set(key, std::move(fn));
    }
    if (bell) ring();
}

void GuiCalls::drain() {
    check_gui_thread("GuiCalls::drain");
    if (draining_) return;  // inside a call that runs a nested event loop
    for (;;) {
        {
            LockGuard lock(mutex_);
            if (queue_.empty() && latest_.empty()) return;
        }
        serve(true);
    }
}

void GuiCalls::serve(bool frame_due) {
    check_gui_thread("GuiCalls::serve");
    // A call that runs a nested event loop would come back here: the outer pass goes on.
    if (draining_) return;
    draining_ = true;
    std::optional<std::chrono::milliseconds> wait;
    for (;;) {
        std::deque<std::shared_ptr<Item>> batch;
        {
            LockGuard lock(mutex_);
            if (queue_.empty() && latest_.empty()) break;
            if (queue_.empty() && !frame_due) {
                wait = frame_.wait(FrameClock::Clock::now());
                if (wait) break;
            }
            // All at once: the values of one moment, in the order they were set.
            batch.swap(queue_);
            close_values(batch);
        }
        bool drew = false;
        for (auto& item : batch) {
            item->fn();
            drew = drew || item->values;
            if (item->blocking) {
                LockGuard lock(mutex_);
                item->done = true;
                done_.notify_all();
            }
        }
        if (drew) frame_.shown(FrameClock::Clock::now());
        // What came meanwhile waits for its own frame: a thread that sets values faster than
        // they are drawn must not keep the event loop from painting.
        frame_due = false;
    }
    draining_ = false;
    if (wait && !frame_timer_->isActive()) frame_timer_->start(static_cast<int>(wait->count()));
}

}  // namespace zoq::qt
