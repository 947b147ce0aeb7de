// SPDX-License-Identifier: MIT
// What the Qt tests share: a dialog procedure that records what reaches it, and waits that keep
// the GUI thread's event loop turning (a GUI thread that waits without it deadlocks every thread
// that makes a blocking call).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_toolkit.h"

class QMessageBox;
class QWidget;

namespace zoq::test {

struct Recorder {
    // Opened: the procedure's answer (true: the dialog manager places the focus) and an
    // optional filler; Command: recorded, then `on_command` if set, else end_dialog(command)
    // when `end_on_command`.
    bool default_focus = true;
    bool end_on_command = false;
    std::function<void(Toolkit&, DialogHandle)> on_open;
    std::function<void(Toolkit&, DialogHandle, int)> on_command;

    std::vector<int> commands() const;
    std::vector<std::thread::id> threads() const;  // where each event ran
    void add(int command);

  private:
    mutable std::mutex mutex_;
    std::vector<int> commands_;
    std::vector<std::thread::id> threads_;
};

bool recorder_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

// Turns the GUI thread's event loop until `done` or `timeout_ms`; returns `done()`.
bool wait_until(const std::function<bool()>& done, int timeout_ms = 5000);

// The visible message box, or null. GUI thread.
QMessageBox* visible_message_box();

// The visible window of the newest dialog of `template_id`, waiting for it. GUI thread.
QWidget* wait_for_dialog(QtToolkit& ui, int template_id, int timeout_ms = 5000);

}  // namespace zoq::test
