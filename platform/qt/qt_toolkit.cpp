// SPDX-License-Identifier: MIT
#include "platform/qt/qt_toolkit.h"

#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/qt/dialog_window.h"
#include "platform/qt/gui_calls.h"
#include "res/templates.h"

namespace zoq {

using qt::DialogWindow;
using qt::fatal;
using qt::GuiCalls;
using qt::SlotKey;

namespace {

// The setters whose newer value replaces a queued older one.
enum Latest : int { LATEST_TEXT = 1, LATEST_CAPTION, LATEST_PROGRESS_POS };

struct Message {
    enum Kind { Command, Wake, BoxClosed } kind = Command;
    std::uint64_t target = 0;  // the dialog (Command, Wake) or the message box (BoxClosed)
    int command = 0;
};

// What reaches a thread that owns dialogs: clicks on them, the end of a modal wait, the close
// of its message box.
struct Mailbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Message> queue;

    void post(const Message& m) {
        {
            std::lock_guard lock(mutex);
            queue.push_back(m);
        }
        arrived.notify_all();
    }

    template <class Pred>
    std::optional<Message> take(Pred pred) {
        std::lock_guard lock(mutex);
        return extract(pred);
    }

    template <class Pred>
    Message wait(Pred pred) {
        std::unique_lock lock(mutex);
        std::optional<Message> m;
        arrived.wait(lock, [&] { return (m = extract(pred)).has_value(); });
        return *m;
    }

    void drop(std::uint64_t target) {
        std::lock_guard lock(mutex);
        std::erase_if(queue, [&](const Message& m) { return m.target == target; });
    }

  private:
    template <class Pred>
    std::optional<Message> extract(Pred pred) {
        auto it = std::find_if(queue.begin(), queue.end(), pred);
        if (it == queue.end()) return std::nullopt;
        Message m = *it;
        queue.erase(it);
        return m;
    }
};

// Lets a thread that ends tell the toolkit, so that no dialog of a gone thread stays on screen.
struct ExitHook {
    std::mutex mutex;
    QtToolkit::Core* core = nullptr;
};

void thread_gone(QtToolkit::Core& core, std::thread::id thread);

struct ThreadExit {
    std::vector<std::shared_ptr<ExitHook>> hooks;
    ~ThreadExit() {
        for (auto& hook : hooks) {
            std::lock_guard lock(hook->mutex);
            if (hook->core) thread_gone(*hook->core, std::this_thread::get_id());
        }
    }
};
thread_local ThreadExit thread_exit;

}  // namespace

struct QtToolkit::Core {
    struct Dialog {
        DialogHandle handle = NO_DIALOG;
        const DialogTemplate* tmpl = nullptr;
        DialogProc proc = nullptr;
        void* context = nullptr;
        std::thread::id owner;
        std::shared_ptr<Mailbox> mailbox;
        bool modal = false;
        // Owner thread only.
        int in_proc = 0;           // procedure calls on the stack
        std::deque<int> deferred;  // commands that came while the procedure ran
        int delivered = 0;
        // Guarded by Core::mutex.
        bool ended = false;
        int end_code = 0;
        bool destroyed = false;
        // GUI thread only.
        DialogWindow* window = nullptr;
        QEventLoop* loop = nullptr;
    };
    using DialogPtr = std::shared_ptr<Dialog>;

    explicit Core(QtToolkit& toolkit) : ui(toolkit), hook(std::make_shared<ExitHook>()) {
        hook->core = this;
    }

    ~Core() {
        std::lock_guard lock(hook->mutex);
        hook->core = nullptr;
    }

    QtToolkit& ui;
    std::shared_ptr<ExitHook> hook;
    mutable std::mutex mutex;
    std::map<DialogHandle, DialogPtr> dialogs;
    std::map<std::thread::id, std::shared_ptr<Mailbox>> mailboxes;
    DialogHandle next_handle = 1;
    std::uint64_t next_box = 1;
    // Last, so that it goes first: its final drain still finds everything above.
    GuiCalls calls;

    DialogPtr find(DialogHandle handle) const {
        std::lock_guard lock(mutex);
        auto it = dialogs.find(handle);
        return it == dialogs.end() ? nullptr : it->second;
    }

    std::vector<DialogPtr> owned_by(std::thread::id thread) const {
        std::vector<DialogPtr> out;
        std::lock_guard lock(mutex);
        for (auto& [h, d] : dialogs) {
            if (d->owner == thread) out.push_back(d);
        }
        return out;
    }

    std::shared_ptr<Mailbox> my_mailbox() {
        const auto me = std::this_thread::get_id();
        bool fresh = false;
        std::shared_ptr<Mailbox> box;
        {
            std::lock_guard lock(mutex);
            auto& slot = mailboxes[me];
            if (!slot) {
                slot = std::make_shared<Mailbox>();
                fresh = true;
            }
            box = slot;
        }
        if (fresh && me != calls.gui_thread()) thread_exit.hooks.push_back(hook);
        return box;
    }

    bool accepting(const Dialog& d) const {
        std::lock_guard lock(mutex);
        return !d.ended && !d.destroyed;
    }

    bool finished(const Dialog& d) const { return !accepting(d); }

    // On the owner thread. A command that arrives while the procedure runs (a second click
    // inside the first click's pump or message box) waits until the procedure has returned.
    bool run_proc(const DialogPtr& d, DialogEvent event) {
        ++d->in_proc;
        bool result = d->proc(ui, d->handle, event, d->context);
        --d->in_proc;
        while (d->in_proc == 0 && !d->deferred.empty()) {
            int command = d->deferred.front();
            d->deferred.pop_front();
            if (!accepting(*d)) {
                d->deferred.clear();
                break;
            }
            ++d->delivered;
            ++d->in_proc;
            d->proc(ui, d->handle, {EventKind::Command, command}, d->context);
            --d->in_proc;
        }
        return result;
    }

    void deliver(const DialogPtr& d, int command) {
        if (d->owner != std::this_thread::get_id()) fatal("a command delivered off its thread");
        if (d->in_proc > 0) {
            d->deferred.push_back(command);
            return;
        }
        if (!accepting(*d)) return;
        ++d->delivered;
        run_proc(d, {EventKind::Command, command});
    }

    // On the GUI thread: a button, Escape or the close box of a dialog.
    void on_command(DialogHandle handle, int command) {
        DialogPtr d = find(handle);
        if (!d || !d->window || !d->window->isEnabled()) return;
        if (d->owner == calls.gui_thread()) {
            deliver(d, command);
        } else {
            d->mailbox->post({Message::Command, handle, command});
        }
    }

    // On the GUI thread.
    void destroy_window(const DialogPtr& d) {
        if (d->loop) d->loop->quit();
        DialogWindow* w = d->window;
        if (!w) return;
        d->window = nullptr;
        w->hide();
        // A procedure of the GUI thread may destroy its dialog inside the dialog's own signal
        // handler: deleting it there would pull the widget from under Qt.
        if (d->owner == calls.gui_thread() && d->in_proc > 0) {
            w->deleteLater();
        } else {
            delete w;
        }
    }

    void wake(const DialogPtr& d) {
        if (d->owner == calls.gui_thread()) {
            calls.post([d] {
                if (d->loop) d->loop->quit();
            });
        } else {
            d->mailbox->post({Message::Wake, d->handle, 0});
        }
    }

    DialogPtr open(const DialogTemplate& tmpl, DialogProc proc, void* context, bool modal) {
        auto d = std::make_shared<Dialog>();
        d->modal = modal;
        d->tmpl = &tmpl;
        d->proc = proc;
        d->context = context;
        d->owner = std::this_thread::get_id();
        d->mailbox = my_mailbox();
        {
            std::lock_guard lock(mutex);
            d->handle = next_handle++;
            dialogs[d->handle] = d;
        }
        calls.call([this, d] {
            const DialogHandle handle = d->handle;
            d->window = new DialogWindow(
                *d->tmpl, [this, handle](int command) { on_command(handle, command); });
        });
        // The procedure fills the dialog in before it shows, as classic dialog managers do.
        bool default_focus = run_proc(d, {EventKind::Opened, 0});
        calls.post([d, default_focus] {
            if (!d->window) return;
            if (default_focus) d->window->focus_first_tab_stop();
            d->window->show();
            d->window->raise();
            d->window->activateWindow();
        });
        return d;
    }

    void close(const DialogPtr& d) {
        {
            std::lock_guard lock(mutex);
            d->destroyed = true;
            dialogs.erase(d->handle);
        }
        d->mailbox->drop(d->handle);
        calls.call([this, d] { destroy_window(d); });
    }

    void dispatch(const Message& m) {
        if (m.kind != Message::Command) return;
        DialogPtr target = find(m.target);
        if (target && target->owner == std::this_thread::get_id()) deliver(target, m.command);
    }
};

namespace {

void thread_gone(QtToolkit::Core& core, std::thread::id thread) {
    std::vector<QtToolkit::Core::DialogPtr> left;
    {
        std::lock_guard lock(core.mutex);
        for (auto it = core.dialogs.begin(); it != core.dialogs.end();) {
            if (it->second->owner == thread) {
                it->second->destroyed = true;
                left.push_back(it->second);
                it = core.dialogs.erase(it);
            } else {
                ++it;
            }
        }
        core.mailboxes.erase(thread);
    }
    if (left.empty()) return;
    // Queued, not blocking: the GUI thread may be joining this very thread.
    core.calls.post([&core, left] {
        for (auto& d : left) core.destroy_window(d);
    });
}

}  // namespace

QtToolkit::QtToolkit() : core_(std::make_shared<Core>(*this)) {
    // Between the listener's dialogs no window is visible; that is no reason to stop.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(qt::program_icon());
}

QtToolkit::~QtToolkit() {
    core_->calls.check_gui_thread("~QtToolkit");
    std::vector<Core::DialogPtr> left;
    {
        std::lock_guard lock(core_->mutex);
        for (auto& [h, d] : core_->dialogs) {
            d->destroyed = true;
            left.push_back(d);
        }
        core_->dialogs.clear();
    }
    for (auto& d : left) core_->destroy_window(d);
}

QWidget* QtToolkit::window_of(DialogHandle dialog) const {
    core_->calls.check_gui_thread("QtToolkit::window_of");
    auto d = core_->find(dialog);
    return d ? d->window : nullptr;
}

DialogHandle QtToolkit::find_dialog(int template_id) const {
    std::lock_guard lock(core_->mutex);
    for (auto it = core_->dialogs.rbegin(); it != core_->dialogs.rend(); ++it) {
        if (it->second->tmpl->id == template_id) return it->first;
    }
    return NO_DIALOG;
}

int QtToolkit::dialog_box(int template_id, DialogProc proc, void* context) {
    const DialogTemplate* tmpl = find_template(template_id);
    if (!tmpl) return -1;
    auto d = core_->open(*tmpl, proc, context, true);
    if (core_->calls.on_gui_thread()) {
        // The modal loop of the GUI thread: every thread's calls and clicks go on meanwhile.
        while (!core_->finished(*d)) {
            QEventLoop loop;
            d->loop = &loop;
            if (!core_->finished(*d)) loop.exec(QEventLoop::DialogExec);
            d->loop = nullptr;
        }
    } else {
        // The GUI thread shows it; this thread runs the procedures of its own dialogs.
        while (!core_->finished(*d)) {
            Message m = d->mailbox->wait([](const Message& msg) {
                return msg.kind == Message::Command || msg.kind == Message::Wake;
            });
            core_->dispatch(m);
        }
    }
    int code;
    {
        std::lock_guard lock(core_->mutex);
        code = d->end_code;
    }
    core_->close(d);
    return code;
}

DialogHandle QtToolkit::create_dialog(int template_id, DialogProc proc, void* context) {
    const DialogTemplate* tmpl = find_template(template_id);
    if (!tmpl) return NO_DIALOG;
    return core_->open(*tmpl, proc, context, false)->handle;
}

void QtToolkit::destroy_dialog(DialogHandle dialog) {
    auto d = core_->find(dialog);
    if (!d) return;
    core_->close(d);
    if (d->modal) core_->wake(d);  // its modal wait ends
}

void QtToolkit::end_dialog(DialogHandle dialog, int code) {
    auto d = core_->find(dialog);
    if (!d) return;
    {
        std::lock_guard lock(core_->mutex);
        if (d->ended) return;
        d->ended = true;
        d->end_code = code;
    }
    if (d->modal) core_->wake(d);
}

void QtToolkit::set_item_text(DialogHandle dialog, int control, std::string_view text) {
    auto d = core_->find(dialog);
    if (!d) return;
    core_->calls.post_latest({dialog, LATEST_TEXT, control}, [d, control, s = std::string(text)] {
        if (d->window) d->window->set_text(control, s);
    });
}

std::string QtToolkit::get_item_text(DialogHandle dialog, int control) {
    auto d = core_->find(dialog);
    if (!d) return {};
    return core_->calls.get<std::string>(
        [d, control] { return d->window ? d->window->text(control) : std::string(); });
}

void QtToolkit::set_caption(DialogHandle dialog, std::string_view caption) {
    auto d = core_->find(dialog);
    if (!d) return;
    core_->calls.post_latest({dialog, LATEST_CAPTION, 0}, [d, s = std::string(caption)] {
        if (d->window) d->window->setWindowTitle(qt::to_qstring(s, false));
    });
}

void QtToolkit::set_focus(DialogHandle dialog, int control) {
    auto d = core_->find(dialog);
    if (!d) return;
    core_->calls.post([d, control] {
        if (d->window) d->window->focus_control(control);
    });
}

bool QtToolkit::get_window_rect(DialogHandle dialog, WindowRect& rect) {
    auto d = core_->find(dialog);
    if (!d) return false;
    std::optional<QRect> frame =
        core_->calls.get<std::optional<QRect>>([d]() -> std::optional<QRect> {
            if (!d->window) return std::nullopt;
            return d->window->frameGeometry();
        });
    if (!frame) return false;
    rect = {frame->left(), frame->top(), frame->left() + frame->width(),
            frame->top() + frame->height()};
    return true;
}

ScreenSize QtToolkit::screen_size() {
    return core_->calls.get<ScreenSize>([] {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen) return ScreenSize{};
        QRect g = screen->geometry();
        return ScreenSize{g.width(), g.height()};
    });
}

void QtToolkit::move_window(DialogHandle dialog, int x, int y) {
    auto d = core_->find(dialog);
    if (!d) return;
    core_->calls.post([d, x, y] {
        if (!d->window) return;
        d->window->move(x, y);
        d->window->raise();
    });
}

void QtToolkit::progress_set_range(DialogHandle dialog, int control, int low, int high) {
    auto d = core_->find(dialog);
    if (!d) return;
    core_->calls.post([d, control, low, high] {
        if (d->window) d->window->set_progress_range(control, low, high);
    });
}

void QtToolkit::progress_set_pos(DialogHandle dialog, int control, int pos) {
    auto d = core_->find(dialog);
    if (!d) return;
    core_->calls.post_latest({dialog, LATEST_PROGRESS_POS, control}, [d, control, pos] {
        if (d->window) d->window->set_progress_pos(control, pos);
    });
}

void QtToolkit::list_add(DialogHandle dialog, int control, std::string_view text) {
    auto d = core_->find(dialog);
    if (!d) return;
    core_->calls.post([d, control, s = std::string(text)] {
        if (d->window) d->window->list_add(control, s);
    });
}

void QtToolkit::list_select(DialogHandle dialog, int control, int index) {
    auto d = core_->find(dialog);
    if (!d) return;
    core_->calls.post([d, control, index] {
        if (d->window) d->window->list_select(control, index);
    });
}

int QtToolkit::list_selected(DialogHandle dialog, int control) {
    auto d = core_->find(dialog);
    if (!d) return -1;
    return core_->calls.get<int>(
        [d, control] { return d->window ? d->window->list_selected(control) : -1; });
}

void QtToolkit::message_box(DialogHandle, std::string_view text, std::string_view caption) {
    // The owner changes nothing here: the box is centred on the screen, and task-modal
    // behaviour already disables every window of the calling thread.
    const auto me = std::this_thread::get_id();
    const bool gui = core_->calls.on_gui_thread();
    std::shared_ptr<Mailbox> mailbox = gui ? nullptr : core_->my_mailbox();
    std::uint64_t box_id;
    {
        std::lock_guard lock(core_->mutex);
        box_id = core_->next_box++;
    }
    std::vector<Core::DialogPtr> mine = core_->owned_by(me);
    std::vector<Core::DialogPtr> disabled;
    QEventLoop* loop = nullptr;
    bool closed = false;  // GUI thread only
    std::optional<QEventLoop> gui_loop;
    if (gui) loop = &gui_loop.emplace();

    core_->calls.call([&, box_id, mailbox] {
        for (auto& d : mine) {
            if (d->window && d->window->isEnabled()) {
                d->window->setEnabled(false);
                disabled.push_back(d);
            }
        }
        auto* box = new QMessageBox(QMessageBox::NoIcon, qt::to_qstring(caption, false),
                                    qt::to_qstring(text, true), QMessageBox::Ok);
        box->setObjectName(QStringLiteral("message_box"));
        box->setTextFormat(Qt::PlainText);
        box->setWindowModality(Qt::NonModal);
        box->button(QMessageBox::Ok)->setText(QString::fromUtf8(MESSAGE_BOX_TEMPLATE.button));
        QObject::connect(box, &QMessageBox::finished, box, [box, box_id, mailbox, loop, &closed] {
            if (mailbox) {
                mailbox->post({Message::BoxClosed, box_id, 0});
            } else {
                closed = true;
                loop->quit();
            }
            box->deleteLater();
        });
        box->show();
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = box->frameGeometry();
            frame.moveCenter(screen->geometry().center());
            box->move(frame.topLeft());
        }
        box->raise();
        box->activateWindow();
    });

    if (gui) {
        while (!closed) loop->exec(QEventLoop::DialogExec);
    } else {
        mailbox->wait([box_id](const Message& m) {
            return m.kind == Message::BoxClosed && m.target == box_id;
        });
    }
    core_->calls.post([disabled] {
        for (auto& d : disabled) {
            if (d->window) d->window->setEnabled(true);
        }
    });
}

int QtToolkit::pump(DialogHandle dialog, bool all) {
    auto d = core_->find(dialog);
    if (!d) return 0;
    if (d->owner != std::this_thread::get_id()) {
        fatal("pump called by a thread that does not own the dialog");
    }
    if (core_->calls.on_gui_thread()) {
        // Qt cannot single out one window's events; the GUI thread serves them all.
        int before = d->delivered;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return d->delivered - before;
    }
    int handled = 0;
    while (auto m = d->mailbox->take([dialog](const Message& msg) {
        return msg.kind == Message::Command && msg.target == dialog;
    })) {
        core_->deliver(d, m->command);
        ++handled;
        if (!all || !core_->accepting(*d)) break;
    }
    return handled;
}

void QtToolkit::idle() {
    if (core_->calls.on_gui_thread()) {
        // The event loop, for good: nobody ever quits it, and other threads' calls and
        // dialogs go on being served.
        for (;;) {
            QEventLoop loop;
            loop.exec();
        }
    }
    for (;;) ::pause();
}

}  // namespace zoq
