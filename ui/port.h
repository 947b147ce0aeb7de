// SPDX-License-Identifier: MIT
// The toolkit port: the few dialog-manager operations the program's dialogs are written against.
// The logic never knows which backend (Qt, scripted) runs behind it.
//
// Threads: any thread may call any operation. A dialog procedure always runs on the thread that
// created its dialog: a modal dialog's procedure inside `dialog_box`, a modeless dialog's inside
// `pump` (and inside `create_dialog` for its Opened event). A backend whose widgets live on one
// thread carries calls there and back itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "res/templates.h"  // the control ids, ID_OK and ID_CANCEL among them

namespace zoq {

class Toolkit;

// A dialog as the port knows it. 0 is no dialog.
using DialogHandle = std::uint64_t;
inline constexpr DialogHandle NO_DIALOG = 0;

enum class EventKind {
    Opened,   // the dialog was built; its procedure fills it in. Return true to let the dialog
              // manager place the focus on the first tab stop, false when the procedure set it.
    Command,  // a button was pressed (`control` is its id); return true when handled.
};

struct DialogEvent {
    EventKind kind = EventKind::Opened;
    int control = 0;
};

using DialogProc = bool (*)(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

struct WindowRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct ScreenSize {
    int width = 0, height = 0;
};

class Toolkit {
  public:
    virtual ~Toolkit() = default;

    // Builds the dialog of template `template_id`, runs `proc` for Opened, then blocks the
    // calling thread until the procedure calls end_dialog; returns that code. -1 when the
    // template does not exist.
    virtual int dialog_box(int template_id, DialogProc proc, void* context) = 0;
    // Builds and shows a modeless dialog, runs `proc` for Opened and returns at once.
    // NO_DIALOG when the template does not exist.
    virtual DialogHandle create_dialog(int template_id, DialogProc proc, void* context) = 0;
    virtual void destroy_dialog(DialogHandle dialog) = 0;
    // Ends a modal dialog: dialog_box returns `code` once the procedure has returned.
    virtual void end_dialog(DialogHandle dialog, int code) = 0;

    virtual void set_item_text(DialogHandle dialog, int control, std::string_view text) = 0;
    virtual std::string get_item_text(DialogHandle dialog, int control) = 0;
    virtual void set_caption(DialogHandle dialog, std::string_view caption) = 0;
    virtual void set_focus(DialogHandle dialog, int control) = 0;

    virtual bool get_window_rect(DialogHandle dialog, WindowRect& rect) = 0;
    virtual ScreenSize screen_size() = 0;
    // Moves without resizing and raises the window.
    virtual void move_window(DialogHandle dialog, int x, int y) = 0;

    virtual void progress_set_range(DialogHandle dialog, int control, int low, int high) = 0;
    virtual void progress_set_pos(DialogHandle dialog, int control, int pos) = 0;

    virtual void list_add(DialogHandle dialog, int control, std::string_view text) = 0;
    virtual void list_select(DialogHandle dialog, int control, int index) = 0;
    // The selected position, or -1 when nothing is selected.
    virtual int list_selected(DialogHandle dialog, int control) = 0;

    // A message box with an OK button only; blocks the calling thread until dismissed and
    // disables that thread's other windows meanwhile. `owner` may be NO_DIALOG.
    virtual void message_box(DialogHandle owner, std::string_view text,
                             std::string_view caption) = 0;

    // Handles pending events of `dialog` without blocking: at most one when `all` is false,
    // else until none is left. Returns the number handled. Called by the thread that owns the
    // dialog; a procedure may destroy the dialog (or end the process) inside it.
    virtual int pump(DialogHandle dialog, bool all) = 0;

    // What the main thread does once the run belongs to the TFTP listener: nothing visible,
    // for ever. Never returns.
    [[noreturn]] virtual void idle() = 0;
};

}  // namespace zoq
