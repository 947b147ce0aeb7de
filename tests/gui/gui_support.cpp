// SPDX-License-Identifier: MIT
#include "gui_support.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QThread>
#include <QWidget>

namespace zoq::test {

std::vector<int> Recorder::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<std::thread::id> Recorder::threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

void Recorder::add(int command) {
    std::lock_guard lock(mutex_);
    commands_.push_back(command);
    threads_.push_back(std::this_thread::get_id());
}

bool recorder_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    auto& r = *static_cast<Recorder*>(context);
    if (event.kind == EventKind::Opened) {
        r.add(0);
        if (r.on_open) r.on_open(ui, dialog);
        return r.default_focus;
    }
    r.add(event.control);
    if (r.on_command) {
        r.on_command(ui, dialog, event.control);
    } else if (r.end_on_command) {
        ui.end_dialog(dialog, event.control);
    }
    return true;
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
    QDeadlineTimer deadline(timeout_ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

QMessageBox* visible_message_box() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    }
    return nullptr;
}

QWidget* wait_for_dialog(QtToolkit& ui, int template_id, int timeout_ms) {
    QWidget* found = nullptr;
    wait_until(
        [&] {
            DialogHandle h = ui.find_dialog(template_id);
            found = h ? ui.window_of(h) : nullptr;
            return found && found->isVisible();
        },
        timeout_ms);
    return found && found->isVisible() ? found : nullptr;
}

}  // namespace zoq::test
