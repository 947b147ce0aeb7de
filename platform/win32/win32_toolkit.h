// SPDX-License-Identifier: MIT
// The toolkit port on the Win32 dialog manager: the native Windows front end.
//
// Every dialog is an ordinary Win32 dialog built in memory from the program's templates and
// owned by the thread that creates it, which also runs its procedure and pumps its messages;
// so there is no cross-thread machinery here. A DialogHandle is the dialog's HWND.
//
// Captions and bar positions that the owner sets faster than a screen shows them (the transfer
// sets both after every block) reach the window at most once per frame, always the newest; a
// timer shows the last ones when the setting stops between two frames.
#pragma once

#include "ui/port.h"

namespace zoq {

class Win32Toolkit final : public Toolkit {
  public:
    // `module` is the HINSTANCE whose resources the dialogs load (the program's icon); null
    // means the executable's own. Registers the common controls the templates use.
    explicit Win32Toolkit(void* module = nullptr);

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

    // Whether InitCommonControlsEx accepted the progress bar and IP-address classes.
    bool common_controls_ready() const { return common_controls_ready_; }

  private:
    void* module_;
    bool common_controls_ready_ = false;
};

}  // namespace zoq
