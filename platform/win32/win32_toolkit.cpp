// SPDX-License-Identifier: MIT
#include "platform/win32/win32_toolkit.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/frame_throttle.h"
#include "platform/win32/dialog_memory.h"
#include "platform/win32/windows_api.h"
#include "res/templates.h"

namespace zoq {
namespace {

// The timer that shows the last values when the setting stops between two frames. The
// transfer sets a caption and a bar after every block; each caption is drawn on the spot, so
// that drawing every one made the transfer under Wine many times slower than the device.
constexpr UINT_PTR FRAME_TIMER = 0x5A51;

// What a waiting value sets: the caption, or the position of bar `control`.
struct ValueKey {
    bool caption = false;
    int control = 0;
    bool operator==(const ValueKey&) const = default;
};

// What a dialog's window carries (in DWLP_USER) for its procedure.
struct DialogRecord {
    DialogRecord(Toolkit* u, DialogProc p, void* c, bool m)
        : ui(u), proc(p), context(c), modal(m) {}
    Toolkit* ui = nullptr;
    DialogProc proc = nullptr;
    void* context = nullptr;
    bool modal = false;
    bool ended = false;  // end_dialog was called: later clicks reach nobody
    // The newest caption and bar positions that wait for their frame.
    LatestValues<ValueKey> waiting;
    FrameClock frame;
    bool timer = false;
};

HWND window_of(DialogHandle dialog) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(dialog));
}

DialogHandle handle_of(HWND window) {
    return static_cast<DialogHandle>(reinterpret_cast<std::uintptr_t>(window));
}

HWND control_of(DialogHandle dialog, int control) {
    return GetDlgItem(window_of(dialog), control);
}

DialogRecord* record_of(HWND window) {
    return reinterpret_cast<DialogRecord*>(GetWindowLongPtrA(window, DWLP_USER));
}

// Sends what waits to the window, in the order it was set.
void show_waiting_values(HWND window, DialogRecord& d) {
    if (d.timer) {
        KillTimer(window, FRAME_TIMER);
        d.timer = false;
    }
    d.frame.shown(FrameClock::Clock::now());
    d.waiting.show();
}

// Keeps `apply` as the newest value of `key` and shows what waits if a frame has passed since
// the last values were shown; otherwise leaves it to the frame timer, which the owning thread's
// next pump serves.
void show_at_frame(HWND window, DialogRecord& d, ValueKey key, std::function<void()> apply) {
    d.waiting.set(key, std::move(apply));
    const auto wait = d.frame.wait(FrameClock::Clock::now());
    if (!wait) {
        show_waiting_values(window, d);
        return;
    }
    if (d.timer) return;
    d.timer = SetTimer(window, FRAME_TIMER, static_cast<UINT>(wait->count()), nullptr) != 0;
    // Without a timer nothing would show the last values: show them now.
    if (!d.timer) show_waiting_values(window, d);
}

INT_PTR CALLBACK dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* d = reinterpret_cast<DialogRecord*>(lparam);
        SetWindowLongPtrA(window, DWLP_USER, lparam);
        // TRUE lets the dialog manager focus the first tab stop; FALSE: the procedure did.
        return d->proc(*d->ui, handle_of(window), {EventKind::Opened, 0}, d->context) ? TRUE
                                                                                      : FALSE;
    }
    DialogRecord* d = record_of(window);
    if (!d) return FALSE;
    switch (message) {
        case WM_COMMAND:
            // Buttons, Enter, Escape and the close box all arrive as BN_CLICKED; the edit,
            // combo and IP-address controls' notifications are no commands of the port.
            if (HIWORD(wparam) != BN_CLICKED) return FALSE;
            if (d->ended) return TRUE;
            // The procedure may destroy this window (and with it `d`) or end the process.
            return d->proc(*d->ui, handle_of(window),
                           {EventKind::Command, static_cast<int>(LOWORD(wparam))}, d->context)
                       ? TRUE
                       : FALSE;
        case WM_TIMER:
            if (wparam != FRAME_TIMER) return FALSE;
            show_waiting_values(window, *d);
            return TRUE;
        case WM_NCDESTROY:
            SetWindowLongPtrA(window, DWLP_USER, 0);
            if (!d->modal) delete d;
            return FALSE;
        default:
            return FALSE;
    }
}

bool is_program_dialog(HWND window) {
    return window &&
           GetWindowLongPtrA(window, DWLP_DLGPROC) == reinterpret_cast<LONG_PTR>(&dialog_procedure);
}

// One message off the thread's queue: Tab, Enter and Escape go to the dialog they belong to.
void dispatch(MSG& msg) {
    HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (is_program_dialog(top) && IsDialogMessageA(top, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

bool owned_by_this_thread(HWND window) {
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

// The record whose waiting values the calling thread may keep: only the owner's, since only
// the owner runs the frame timer. Another thread's calls go to the window directly.
DialogRecord* frame_record(HWND window) {
    if (!IsWindow(window) || !owned_by_this_thread(window)) return nullptr;
    return record_of(window);
}

}  // namespace

Win32Toolkit::Win32Toolkit(void* module) : module_(module ? module : GetModuleHandleA(nullptr)) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES;  // 0x820
    common_controls_ready_ = InitCommonControlsEx(&controls) != FALSE;
}

int Win32Toolkit::dialog_box(int template_id, DialogProc proc, void* context) {
    const DialogTemplate* tmpl = find_template(template_id);
    if (!tmpl) return -1;
    std::vector<std::uint16_t> memory = win32::build_dialog_memory(*tmpl, false);
    DialogRecord record(this, proc, context, true);
    INT_PTR code = DialogBoxIndirectParamA(
        static_cast<HINSTANCE>(module_), reinterpret_cast<LPCDLGTEMPLATEA>(memory.data()), nullptr,
        dialog_procedure, reinterpret_cast<LPARAM>(&record));
    return static_cast<int>(code);
}

DialogHandle Win32Toolkit::create_dialog(int template_id, DialogProc proc, void* context) {
    const DialogTemplate* tmpl = find_template(template_id);
    if (!tmpl) return NO_DIALOG;
    std::vector<std::uint16_t> memory = win32::build_dialog_memory(*tmpl, true);
    auto* record = new DialogRecord(this, proc, context, false);
    HWND window = CreateDialogIndirectParamA(
        static_cast<HINSTANCE>(module_), reinterpret_cast<LPCDLGTEMPLATEA>(memory.data()), nullptr,
        dialog_procedure, reinterpret_cast<LPARAM>(record));
    // Without a window WM_NCDESTROY never comes to free the record.
    if (!window) {
        delete record;
        return NO_DIALOG;
    }
    return handle_of(window);
}

void Win32Toolkit::destroy_dialog(DialogHandle dialog) {
    HWND window = window_of(dialog);
    if (IsWindow(window)) DestroyWindow(window);
}

void Win32Toolkit::end_dialog(DialogHandle dialog, int code) {
    HWND window = window_of(dialog);
    if (!IsWindow(window)) return;
    DialogRecord* d = record_of(window);
    if (!d || d->ended) return;
    d->ended = true;
    if (d->modal) EndDialog(window, code);
}

void Win32Toolkit::set_item_text(DialogHandle dialog, int control, std::string_view text) {
    std::string s(text);
    SetDlgItemTextA(window_of(dialog), control, s.c_str());
}

std::string Win32Toolkit::get_item_text(DialogHandle dialog, int control) {
    HWND item = control_of(dialog, control);
    if (!item) return {};
    // No WM_GETTEXTLENGTH: the IP-address control answers it with its creation text's length,
    // not its address's. Grow until the text fits with room to spare.
    std::vector<char> buffer(256);
    for (;;) {
        int n = GetWindowTextA(item, buffer.data(), static_cast<int>(buffer.size()));
        if (n < 0) n = 0;
        if (static_cast<std::size_t>(n) + 1 < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        }
        if (buffer.size() >= (1u << 24)) return std::string(buffer.data(), buffer.size() - 1);
        buffer.resize(buffer.size() * 4);
    }
}

void Win32Toolkit::set_caption(DialogHandle dialog, std::string_view caption) {
    HWND window = window_of(dialog);
    if (DialogRecord* d = frame_record(window)) {
        show_at_frame(window, *d, {true, 0},
                      [window, s = std::string(caption)] { SetWindowTextA(window, s.c_str()); });
        return;
    }
    std::string s(caption);
    SetWindowTextA(window, s.c_str());
}

void Win32Toolkit::set_focus(DialogHandle dialog, int control) {
    HWND window = window_of(dialog);
    HWND item = GetDlgItem(window, control);
    if (!item) return;
    // WM_NEXTDLGCTL rather than SetFocus: the dialog manager moves the default-button frame
    // and selects an edit's text as Tab would.
    if (owned_by_this_thread(window)) {
        SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
    } else {
        PostMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
    }
}

bool Win32Toolkit::get_window_rect(DialogHandle dialog, WindowRect& rect) {
    RECT r;
    if (!GetWindowRect(window_of(dialog), &r)) return false;
    rect = {static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right),
            static_cast<int>(r.bottom)};
    return true;
}

ScreenSize Win32Toolkit::screen_size() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

void Win32Toolkit::move_window(DialogHandle dialog, int x, int y) {
    SetWindowPos(window_of(dialog), HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}

void Win32Toolkit::progress_set_range(DialogHandle dialog, int control, int low, int high) {
    // A position set before the range belongs to the old one: it goes first.
    if (DialogRecord* d = frame_record(window_of(dialog))) {
        if (!d->waiting.empty()) show_waiting_values(window_of(dialog), *d);
    }
    SendDlgItemMessageA(window_of(dialog), control, PBM_SETRANGE32, static_cast<WPARAM>(low),
                        static_cast<LPARAM>(high));
}

void Win32Toolkit::progress_set_pos(DialogHandle dialog, int control, int pos) {
    HWND window = window_of(dialog);
    if (DialogRecord* d = frame_record(window)) {
        show_at_frame(window, *d, {false, control}, [window, control, pos] {
            SendDlgItemMessageA(window, control, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
        });
        return;
    }
    SendDlgItemMessageA(window_of(dialog), control, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32Toolkit::list_add(DialogHandle dialog, int control, std::string_view text) {
    std::string s(text);
    SendDlgItemMessageA(window_of(dialog), control, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(s.c_str()));
}

void Win32Toolkit::list_select(DialogHandle dialog, int control, int index) {
    SendDlgItemMessageA(window_of(dialog), control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Toolkit::list_selected(DialogHandle dialog, int control) {
    HWND item = control_of(dialog, control);
    if (!item) return -1;
    LRESULT index = SendMessageA(item, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void Win32Toolkit::message_box(DialogHandle owner, std::string_view text,
                               std::string_view caption) {
    std::string t(text), c(caption);
    HWND owner_window =
        owner != NO_DIALOG && IsWindow(window_of(owner)) ? window_of(owner) : nullptr;
    MessageBoxA(owner_window, t.c_str(), c.c_str(), MB_OK | MB_TASKMODAL);
}

int Win32Toolkit::pump(DialogHandle dialog, bool all) {
    // One queue per thread: pumping it serves every dialog the calling thread owns, as the
    // port asks of the thread that owns `dialog`.
    (void)dialog;
    int handled = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Nobody asks this program to quit; keep the request for a loop that wants it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        dispatch(msg);
        ++handled;
        if (!all) break;
    }
    return handled;
}

void Win32Toolkit::idle() {
    // Twelve-millisecond naps, answering whatever the system sends meanwhile.
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_QUIT) dispatch(msg);
        }
        Sleep(12);
    }
}

}  // namespace zoq
