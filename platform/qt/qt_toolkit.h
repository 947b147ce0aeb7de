// SPDX-License-Identifier: MIT
// The toolkit port on Qt 6 Widgets: the real desktop front end.
//
// Widgets live on the GUI thread (the one that made the QApplication and this toolkit). Calls
// from other threads are carried there: blocking for what returns a value or creates or
// destroys, queued for setters, and a newer caption, text or bar position replaces the one
// still queued. A dialog's procedure runs on the thread that created the dialog: a click on a
// dialog of another thread goes to that thread's mailbox, which `pump` and the modal waits
// drain. A modal dialog or message box of another thread is shown by the GUI thread while the
// requesting thread waits on its mailbox. On the GUI thread a modal dialog is a nested event
// loop and `pump` processes events, so the GUI thread never waits without serving the other
// threads' calls.
#pragma once

#include <memory>

#include "ui/port.h"

class QWidget;

namespace zoq {

class QtToolkit final : public Toolkit {
  public:
    // On the thread that owns the QApplication, which must live longer than this toolkit.
    QtToolkit();
    ~QtToolkit() override;
    QtToolkit(const QtToolkit&) = delete;
    QtToolkit& operator=(const QtToolkit&) = delete;

    // The window of a dialog, or null once it is gone. GUI thread only (tests, the gallery).
    QWidget* window_of(DialogHandle dialog) const;
    // The newest open dialog of `template_id`, or NO_DIALOG. Any thread.
    DialogHandle find_dialog(int template_id) const;

    int dialog_box(int template_id, DialogProc proc, void* context) override;
    DialogHandle create_dialog(int template_id, DialogProc proc, void* context) override;
    void destroy_dialog(DialogHandle dialog) override;
    void end_dialog(DialogHandle dialog, int code) override;
    void set_item_text(DialogHandle dialog, int control, std::string_view text) override;
    std::string get_item_text(DialogHandle dialog, int control) override;
    void set_caption(DialogHandle dialog, std::string_view caption) override;
    void set_focus(DialogHandle dialog, int control) override;
    bool get_window_rect(DialogHandle dialog, WindowRect& rect) override;
    ScreenSize screen_size() override;
    void move_window(DialogHandle dialog, int x, int y) override;
    void progress_set_range(DialogHandle dialog, int control, int low, int high) override;
    void progress_set_pos(DialogHandle dialog, int control, int pos) override;
    void list_add(DialogHandle dialog, int control, std::string_view text) override;
    void list_select(DialogHandle dialog, int control, int index) override;
    int list_selected(DialogHandle dialog, int control) override;
    void message_box(DialogHandle owner, std::string_view text, std::string_view caption) override;
    int pump(DialogHandle dialog, bool all) override;
    [[noreturn]] void idle() override;

    struct Core;

  private:
    std::shared_ptr<Core> core_;
};

}  // namespace zoq
