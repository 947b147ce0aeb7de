// SPDX-License-Identifier: MIT
#include "platform/qt/gui_calls.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
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

void GuiCalls::enqueue(const std::shared_ptr<Item>& item) {
    bool bell;
    {
        std::lock_guard lock(mutex_);
        // A queue that is not empty has rung already, or waits for the frame timer; a call
        // that must run in order rings anyway, so that it never waits for a frame.
        bell = queue_.empty() || !item->mergeable;
        if (!item->mergeable) ++ordered_;
        queue_.push_back(item);
    }
    if (bell) ring();
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
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return item->done; });
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
    {
        std::unique_lock lock(mutex_);
        for (auto it = queue_.rbegin(); it != queue_.rend() && (*it)->mergeable; ++it) {
            if ((*it)->key == key) {
                // To the end, where the newest call belongs: what was set last is drawn last
                // (the bar, then the title), and nothing it passes depends on it.
                std::shared_ptr<Item> item = std::move(*it);
                queue_.erase(std::next(it).base());
                std::swap(item->fn, fn);
                queue_.push_back(std::move(item));
                lock.unlock();
                return;  // the replaced call goes with `fn`, outside the lock
            }
        }
    }
    auto item = std::make_shared<Item>();
    item->fn = std::move(fn);
    item->mergeable = true;
    item->key = key;
    enqueue(item);
}

void GuiCalls::drain() {
    check_gui_thread("GuiCalls::drain");
    if (draining_) return;  // inside a call that runs a nested event loop
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
        }
        serve(true);
    }
}

void GuiCalls::serve(bool frame_due) {
    check_gui_thread("GuiCalls::serve");
    // A call that runs a nested event loop would come back here: the outer pass goes on.
    if (draining_) return;
    draining_ = true;
    std::optional<std::chrono::steady_clock::duration> wait;
    for (;;) {
        std::deque<std::shared_ptr<Item>> batch;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) break;
            const auto since = std::chrono::steady_clock::now() - last_frame_;
            if (ordered_ == 0 && !frame_due && since < FRAME) {
                wait = FRAME - since;
                break;
            }
            // All at once: the values of one moment, in the order they were set.
            batch.swap(queue_);
            ordered_ = 0;
        }
        bool drew = false;
        for (auto& item : batch) {
            item->fn();
            drew = drew || item->mergeable;
            if (item->blocking) {
                std::lock_guard lock(mutex_);
                item->done = true;
                done_.notify_all();
            }
        }
        if (drew) last_frame_ = std::chrono::steady_clock::now();
        // What came meanwhile waits for its own frame: a thread that sets values faster than
        // they are drawn must not keep the event loop from painting.
        frame_due = false;
    }
    draining_ = false;
    if (wait && !frame_timer_->isActive()) {
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wait);
        frame_timer_->start(std::max<int>(1, static_cast<int>(ms.count())));
    }
}

}  // namespace zoq::qt
