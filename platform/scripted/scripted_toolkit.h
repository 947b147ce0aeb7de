// SPDX-License-Identifier: MIT
// A toolkit backend for tests: it answers dialogs from a script keyed by template id and control
// id, and records everything a user would have seen, as lines, for assertions.
//
// Record lines (control texts escape CR as \r and LF as \n):
//   open T | caption T TEXT | text T C TEXT | focus T C | command T C | end T CODE | destroy T
//   message CAPTION|TEXT | list T C add TEXT | select T C INDEX | range T C LOW HIGH
//   progress T C POS (only with record_progress) | unscripted T
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/port.h"

namespace zoq {

// One step of a script: what the user does in a dialog.
struct ScriptAction {
    enum Kind { Type, Press, Select, WaitPumps, WaitMs } kind = Press;
    int control = 0;
    std::string text;  // Type
    int value = 0;     // Select: the position; WaitPumps: how many pumps; WaitMs: milliseconds

    static ScriptAction type(int control, std::string text) {
        return {Type, control, std::move(text), 0};
    }
    static ScriptAction press(int control) { return {Press, control, {}, 0}; }
    static ScriptAction select(int control, int index) { return {Select, control, {}, index}; }
    // Modeless dialogs: let `pumps` pumps of the dialog pass before the next step.
    static ScriptAction wait_pumps(int pumps) { return {WaitPumps, 0, {}, pumps}; }
    // Real time passes before the next step (for a modal dialog, or a modeless one's pumps).
    static ScriptAction wait_ms(int ms) { return {WaitMs, 0, {}, ms}; }
};

class ScriptedToolkit final : public Toolkit {
  public:
    ScriptedToolkit();
    ~ScriptedToolkit() override;

    // Each opening of template `template_id` takes the next script queued for it; the last one
    // queued stays for any further openings when `repeat` is true.
    void on_open(int template_id, std::vector<ScriptAction> actions, bool repeat = false);
    // Presses a button of the newest open dialog of `template_id`, from any thread: the press
    // reaches the dialog's procedure on its owner thread (inside dialog_box or pump). False
    // when no such dialog is open.
    bool press(int template_id, int control);
    // Waits (real time) until a dialog of `template_id` is open. False after `timeout_ms`.
    bool wait_open(int template_id, int timeout_ms);
    // An unscripted modal dialog waits this long for a press, then gets Cancel.
    void set_unscripted_timeout_ms(int ms) { unscripted_timeout_ms_ = ms; }
    void record_progress(bool on) { record_progress_ = on; }
    // Also write every record line to `fd` as it happens (for tests run in a child process).
    void set_record_fd(int fd) { record_fd_ = fd; }

    std::vector<std::string> records() const;
    // The current text of a control of the newest dialog of `template_id` (open or not).
    std::string text_of(int template_id, int control) const;
    std::string caption_of(int template_id) const;
    int progress_of(int template_id, int control) const;
    bool is_open(int template_id) const;

    // Toolkit
    int dialog_box(int template_id, DialogProc proc, void* context) override;
    DialogHandle create_dialog(int template_id, DialogProc proc, void* context) override;
    void destroy_dialog(DialogHandle dialog) override;
    void end_dialog(DialogHandle dialog, int code) override;
    void set_item_text(DialogHandle dialog, int control, std::string_view text) override;
    std::string get_item_text(DialogHandle dialog, int control) override;
    void set_caption(DialogHandle dialog, std::string_view caption) override;
    void set_focus(DialogHandle dialog, int control) override;
    bool get_window_rect(DialogHandle dialog, WindowRect& rect) override;
    ScreenSize screen_size() override { return {1280, 1024}; }
    void move_window(DialogHandle dialog, int x, int y) override;
    void progress_set_range(DialogHandle dialog, int control, int low, int high) override;
    void progress_set_pos(DialogHandle dialog, int control, int pos) override;
    void list_add(DialogHandle dialog, int control, std::string_view text) override;
    void list_select(DialogHandle dialog, int control, int index) override;
    int list_selected(DialogHandle dialog, int control) override;
    void message_box(DialogHandle owner, std::string_view text, std::string_view caption) override;
    int pump(DialogHandle dialog, bool all) override;
    [[noreturn]] void idle() override;

  private:
    struct Dialog;
    std::shared_ptr<Dialog> find(DialogHandle handle) const;
    std::shared_ptr<Dialog> open(int template_id, DialogProc proc, void* context);
    void record(std::string line);
    // Runs the next step of the dialog's script, or a posted press. True when one ran.
    bool step(const std::shared_ptr<Dialog>& dialog);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<DialogHandle, std::shared_ptr<Dialog>> dialogs_;  // every dialog ever opened
    std::map<int, std::deque<std::vector<ScriptAction>>> scripts_;
    std::map<int, bool> repeat_;
    std::vector<std::string> records_;
    DialogHandle next_handle_ = 1;
    int unscripted_timeout_ms_ = 30000;
    bool record_progress_ = false;
    int record_fd_ = -1;
};

// "\r\n" as the two-character escapes, so that a record stays one line.
std::string escape_record(std::string_view text);

}  // namespace zoq
