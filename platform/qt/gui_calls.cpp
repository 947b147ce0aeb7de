// SPDX-License-Identifier: MIT
#include "platform/qt/gui_calls.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
        drain();
    });
}

GuiCalls::~GuiCalls() {
    check_gui_thread("~GuiCalls");
    drain();  // nobody may be left waiting for a call
    delete notifier_;
    ::close(fd_);
}

void GuiCalls::check_gui_thread(const char* where) const {
    if (!on_gui_thread()) {
        std::fprintf(stderr, "zoq-upgrade: %s called outside the GUI thread\n", where);
        fatal("widget touched from another thread");
    }
}

void GuiCalls::enqueue(const std::shared_ptr<Item>& item) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(item);
    }
    std::uint64_t one = 1;
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
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

void GuiCalls::drain() {
    check_gui_thread("GuiCalls::drain");
    // A call that runs a nested event loop would come back here: the outer drain goes on.
    if (draining_) return;
    draining_ = true;
    for (;;) {
        std::shared_ptr<Item> item;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) break;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        item->fn();
        if (item->blocking) {
            std::lock_guard lock(mutex_);
            item->done = true;
            done_.notify_all();
        }
    }
    draining_ = false;
}

}  // namespace zoq::qt
