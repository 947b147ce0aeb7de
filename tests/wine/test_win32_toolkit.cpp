// SPDX-License-Identifier: MIT
// The Win32 backend of the toolkit port, run as a Windows program (under Wine on Xvfb in CI).
// Expectations come from the templates' numbers and the dialog manager itself (MapDialogRect,
// GetClassName, window styles), never from the backend's own template writer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32_toolkit.h"
#include "platform/win32/windows_api.h"
#include "res/templates.h"

using namespace zoq;

namespace {

struct Recorder {
    int focus_on_open = 0;  // 0: let the dialog manager place the focus
    int end_on = -1;        // the command that ends the dialog
    int end_code = 0;
    std::vector<int> commands;
    DWORD proc_thread = 0;
    std::vector<int> clicks_on_open;  // posted to the buttons as the dialog opens
};

bool recording_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    auto& r = *static_cast<Recorder*>(context);
    r.proc_thread = GetCurrentThreadId();
    if (event.kind == EventKind::Opened) {
        HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(dialog));
        for (int id : r.clicks_on_open) PostMessageA(GetDlgItem(window, id), BM_CLICK, 0, 0);
        if (r.focus_on_open == 0) return true;
        ui.set_focus(dialog, r.focus_on_open);
        return false;
    }
    r.commands.push_back(event.control);
    if (event.control == r.end_on) ui.end_dialog(dialog, r.end_code);
    return true;
}

HWND hwnd(DialogHandle d) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(d));
}

std::string class_of(HWND w) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    return name;
}

std::string text_of(HWND w) {
    char text[512] = {};
    GetWindowTextA(w, text, sizeof text);
    return text;
}

RECT dialog_rect(HWND dialog, int x, int y, int width, int height) {
    RECT r{x, y, x + width, y + height};
    MapDialogRect(dialog, &r);
    return r;
}

RECT rect_in_dialog(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

const char* expected_class(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
            return "Button";
        case ControlKind::Edit:
            return "Edit";
        case ControlKind::StaticText:
        case ControlKind::Icon:
            return "Static";
        case ControlKind::ProgressBar:
            return "msctls_progress32";
        case ControlKind::DropDownList:
            return "ComboBox";
        case ControlKind::IpAddress:
            return "SysIPAddress32";
    }
    return "?";
}

// Pumps the thread's queue until `done` holds (a frame timer has shown the last values), for
// at most two seconds however slow the machine.
template <class Done>
bool pump_until(Toolkit& ui, DialogHandle d, Done done) {
    for (int i = 0; i < 400 && !done(); ++i) {
        ui.pump(d, true);
        Sleep(5);
    }
    return done();
}

// Counts the captions that really reach a window, through a subclass of its procedure.
std::atomic<int> captions_drawn{0};
WNDPROC dialog_class_proc = nullptr;
LRESULT CALLBACK counting_proc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SETTEXT) ++captions_drawn;
    return CallWindowProcA(dialog_class_proc, w, message, wparam, lparam);
}

void press(UINT key) {
    PostMessageA(GetFocus(), WM_KEYDOWN, key, 0);
}

class Win32ToolkitTest : public ::testing::Test {
  protected:
    Win32Toolkit ui;
    Recorder rec;
    DialogHandle open(int template_id) {
        DialogHandle d = ui.create_dialog(template_id, recording_proc, &rec);
        EXPECT_NE(d, NO_DIALOG);
        ui.pump(d, true);
        return d;
    }
    void TearDown() override {
        // Whatever a test left open goes with it.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
};

TEST_F(Win32ToolkitTest, EveryTemplateBuildsItsControlsInOrderWhereTheTableSays) {
    ASSERT_TRUE(ui.common_controls_ready());
    ASSERT_EQ(all_templates().size(), 10u);
    for (const DialogTemplate& t : all_templates()) {
        SCOPED_TRACE(t.id);
        DialogHandle d = open(t.id);
        HWND dialog = hwnd(d);
        ASSERT_TRUE(IsWindow(dialog));
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(text_of(dialog), t.caption);
        LONG style = GetWindowLongA(dialog, GWL_STYLE);
        EXPECT_TRUE(style & WS_CAPTION);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_TRUE(style & WS_POPUP);
        RECT client;
        GetClientRect(dialog, &client);
        RECT want = dialog_rect(dialog, 0, 0, t.width, t.height);
        EXPECT_EQ(client.right, want.right);
        EXPECT_EQ(client.bottom, want.bottom);

        HWND child = GetWindow(dialog, GW_CHILD);
        for (const ControlTemplate& c : t.controls) {
            SCOPED_TRACE(c.id);
            ASSERT_NE(child, nullptr) << "fewer windows than controls";
            EXPECT_EQ(GetDlgCtrlID(child), c.id);
            EXPECT_STRCASEEQ(class_of(child).c_str(), expected_class(c.kind));
            // Place and size convert each on their own, as the dialog manager converts them.
            RECT at = rect_in_dialog(child);
            RECT place = dialog_rect(dialog, c.x, c.y, 0, 0);
            RECT size = dialog_rect(dialog, 0, 0, c.width, c.height);
            EXPECT_EQ(at.left, place.left);
            EXPECT_EQ(at.top, place.top);
            // A closed drop-down list is one line high; an icon takes the icon's own size.
            if (c.kind != ControlKind::DropDownList && c.kind != ControlKind::Icon) {
                EXPECT_EQ(at.right - at.left, size.right);
                EXPECT_EQ(at.bottom - at.top, size.bottom);
            }
            LONG s = GetWindowLongA(child, GWL_STYLE);
            EXPECT_EQ((s & WS_TABSTOP) != 0, (c.style & STYLE_TAB_STOP) != 0);
            // An edit turns a flat border into a sunken edge. A themed progress bar draws its
            // own frame whatever its style says.
            const bool framed =
                (s & WS_BORDER) || (GetWindowLongA(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
            if (c.kind != ControlKind::ProgressBar) {
                EXPECT_EQ(framed, (c.style & STYLE_BORDER) != 0);
            }
            switch (c.kind) {
                case ControlKind::PushButton:
                    EXPECT_EQ(text_of(child), c.text);
                    EXPECT_EQ((s & 0x0F) == BS_DEFPUSHBUTTON,
                              (c.style & STYLE_DEFAULT_BUTTON) != 0);
                    break;
                case ControlKind::Edit:
                    EXPECT_EQ((s & ES_READONLY) != 0, (c.style & STYLE_READ_ONLY) != 0);
                    EXPECT_EQ((s & ES_MULTILINE) != 0, (c.style & STYLE_MULTILINE) != 0);
                    // Whatever the table says, what is typed as the password never shows.
                    EXPECT_EQ((s & ES_PASSWORD) != 0, t.id == IDD_PASSWORD && c.id == IDC_PASSWORD);
                    break;
                case ControlKind::StaticText:
                    EXPECT_EQ(text_of(child), c.text);
                    if (c.style & STYLE_ALIGN_RIGHT) {
                        EXPECT_EQ(s & SS_TYPEMASK, SS_RIGHT);
                    } else if (c.style & STYLE_ALIGN_CENTER) {
                        EXPECT_EQ(s & SS_TYPEMASK, SS_CENTER);
                    } else {
                        EXPECT_EQ(s & SS_TYPEMASK, SS_LEFT);
                    }
                    break;
                case ControlKind::DropDownList:
                    EXPECT_EQ(s & 3, CBS_DROPDOWNLIST);
                    EXPECT_FALSE(s & CBS_SORT);
                    break;
                case ControlKind::Icon: {
                    EXPECT_EQ(s & SS_TYPEMASK, SS_ICON);
                    // The program carries icon 286 and no 106.
                    const bool shown = SendMessageA(child, STM_GETICON, 0, 0) != 0;
                    EXPECT_EQ(shown, std::strcmp(c.text, "286") == 0);
                    break;
                }
                default:
                    break;
            }
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "more windows than controls";
        ui.destroy_dialog(d);
        EXPECT_FALSE(IsWindow(dialog));
    }
}

TEST_F(Win32ToolkitTest, FocusGoesWhereTheProcedureSaysOrToTheFirstTabStop) {
    rec.focus_on_open = IDCANCEL;
    DialogHandle notice = open(IDD_NOTICE);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDCANCEL);
    ui.destroy_dialog(notice);

    rec.focus_on_open = 0;
    DialogHandle confirm = open(IDD_CONFIRM);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDOK);
    ui.destroy_dialog(confirm);

    rec.focus_on_open = IDC_IP_ADDRESS;
    DialogHandle address = open(IDD_ADDRESS);
    // The address control hands its focus to its first field, a child of its own.
    EXPECT_EQ(GetParent(GetFocus()), GetDlgItem(hwnd(address), IDC_IP_ADDRESS));
    ui.destroy_dialog(address);
}

TEST_F(Win32ToolkitTest, EnterEscapeAndTabWorkThroughThePump) {
    rec.focus_on_open = IDCANCEL;
    DialogHandle d = open(IDD_NOTICE);
    press(VK_RETURN);  // the default button, Cancel, which also has the focus
    ui.pump(d, true);
    press(VK_ESCAPE);
    ui.pump(d, true);
    EXPECT_EQ(rec.commands, (std::vector<int>{IDCANCEL, IDCANCEL}));

    press(VK_TAB);  // the warning is no tab stop: from Cancel round to Continue
    ui.pump(d, true);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDOK);
    press(VK_RETURN);  // the focused button is the one Enter presses
    ui.pump(d, true);
    EXPECT_EQ(rec.commands, (std::vector<int>{IDCANCEL, IDCANCEL, IDOK}));
    ui.destroy_dialog(d);
}

TEST_F(Win32ToolkitTest, CloseBoxIsCancelAndNotificationsAreNoCommands) {
    DialogHandle d = open(IDD_SUCCESS);  // no Cancel button at all
    SendMessageA(hwnd(d), WM_CLOSE, 0, 0);
    ui.pump(d, true);
    HWND version = GetDlgItem(hwnd(d), IDC_SUCCESS_VERSION);
    SendMessageA(hwnd(d), WM_COMMAND, MAKEWPARAM(IDC_SUCCESS_VERSION, EN_CHANGE),
                 reinterpret_cast<LPARAM>(version));
    SendMessageA(hwnd(d), WM_COMMAND, MAKEWPARAM(IDC_SUCCESS_VERSION, EN_SETFOCUS),
                 reinterpret_cast<LPARAM>(version));
    EXPECT_EQ(rec.commands, std::vector<int>{IDCANCEL});
    ui.destroy_dialog(d);
}

TEST_F(Win32ToolkitTest, EndedDialogsHearNothingMoreAndModalOnesReturnTheirCode) {
    rec.end_on = IDOK;
    rec.end_code = 7;
    rec.clicks_on_open = {IDOK, IDCANCEL};  // Cancel comes after the end: nobody hears it
    EXPECT_EQ(ui.dialog_box(IDD_CONFIRM, recording_proc, &rec), 7);
    EXPECT_EQ(rec.commands, std::vector<int>{IDOK});
    EXPECT_EQ(rec.proc_thread, GetCurrentThreadId());

    // A modeless dialog that was ended hears nothing more either.
    Recorder modeless;
    modeless.end_on = IDOK;
    modeless.clicks_on_open = {IDOK, IDCANCEL};
    DialogHandle d = ui.create_dialog(IDD_CONFIRM, recording_proc, &modeless);
    ui.pump(d, true);
    EXPECT_EQ(modeless.commands, std::vector<int>{IDOK});
    ui.destroy_dialog(d);

    EXPECT_EQ(ui.dialog_box(4242, recording_proc, &rec), -1);
    EXPECT_EQ(ui.create_dialog(4242, recording_proc, &rec), NO_DIALOG);
}

TEST_F(Win32ToolkitTest, TextsListsAndBarsReadBackAsTheControlsHoldThem) {
    DialogHandle d = open(IDD_ADDRESS);
    HWND dialog = hwnd(d);
    EXPECT_EQ(ui.get_item_text(d, IDC_IP_ADDRESS), "0.0.0.0");  // an empty address field
    ui.set_item_text(d, IDC_IP_ADDRESS, "127.0.0.2");
    EXPECT_EQ(ui.get_item_text(d, IDC_IP_ADDRESS), "127.0.0.2");
    ui.set_item_text(d, IDC_IP_ADDRESS, "192.168.100.200");  // longer than the creation text
    EXPECT_EQ(ui.get_item_text(d, IDC_IP_ADDRESS), "192.168.100.200");

    std::string long_text;
    for (int i = 0; i < 300; ++i) long_text += "line " + std::to_string(i) + "\r\n";
    ui.set_item_text(d, IDC_INSTRUCTIONS, long_text);
    EXPECT_EQ(ui.get_item_text(d, IDC_INSTRUCTIONS), long_text);
    EXPECT_EQ(ui.get_item_text(d, 4242), "");

    EXPECT_EQ(ui.list_selected(d, IDC_LOCAL_IPS), -1);
    for (const char* ip : {"192.168.1.20", "10.0.0.5", "127.0.0.1"}) {
        ui.list_add(d, IDC_LOCAL_IPS, ip);
    }
    EXPECT_EQ(ui.list_selected(d, IDC_LOCAL_IPS), -1);
    char first[32] = {};
    SendDlgItemMessageA(dialog, IDC_LOCAL_IPS, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
    EXPECT_STREQ(first, "192.168.1.20");  // in the order given, not sorted
    ui.list_select(d, IDC_LOCAL_IPS, 2);
    EXPECT_EQ(ui.list_selected(d, IDC_LOCAL_IPS), 2);
    EXPECT_EQ(ui.get_item_text(d, IDC_LOCAL_IPS), "127.0.0.1");
    ui.list_select(d, IDC_LOCAL_IPS, -1);
    EXPECT_EQ(ui.list_selected(d, IDC_LOCAL_IPS), -1);
    EXPECT_EQ(ui.list_selected(d, 4242), -1);

    ui.set_caption(d, "ZOQ-4502 Firmware Upgrade");
    EXPECT_EQ(text_of(dialog), "ZOQ-4502 Firmware Upgrade");
    ui.destroy_dialog(d);

    DialogHandle up = open(IDD_UPLOADING);
    ui.progress_set_range(up, IDC_PROGRESS, 0, 50);
    ui.progress_set_pos(up, IDC_PROGRESS, 20);
    EXPECT_EQ(SendDlgItemMessageA(hwnd(up), IDC_PROGRESS, PBM_GETPOS, 0, 0), 20);
    ui.progress_set_pos(up, IDC_PROGRESS, 80);
    // Within one frame of the last: it shows at the next one.
    EXPECT_TRUE(pump_until(ui, up, [&] {
        return SendDlgItemMessageA(hwnd(up), IDC_PROGRESS, PBM_GETPOS, 0, 0) == 50;
    }));
    EXPECT_EQ(SendDlgItemMessageA(hwnd(up), IDC_PROGRESS, PBM_GETRANGE, FALSE, 0), 50);
    ui.destroy_dialog(up);
}

TEST_F(Win32ToolkitTest, CaptionsAndBarsSetFasterThanFramesShowTheLatestOncePerFrame) {
    DialogHandle up = open(IDD_UPLOADING);
    HWND window = hwnd(up);
    HWND bar = GetDlgItem(window, IDC_PROGRESS);
    dialog_class_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&counting_proc)));
    ui.progress_set_range(up, IDC_PROGRESS, 0, 5000);
    captions_drawn = 0;
    // As the transfer does: bar, then title, per block, without pumping in between.
    const DWORD start = GetTickCount();
    for (int block = 1; block <= 5000; ++block) {
        ui.progress_set_pos(up, IDC_PROGRESS, block);
        ui.set_caption(up, "Upgrading " + std::to_string(block));
    }
    const DWORD elapsed = GetTickCount() - start;
    // One caption a frame (16 ms), and one for a clock that ticks coarsely, at most.
    EXPECT_LE(captions_drawn.load(), static_cast<int>(elapsed / 16) + 2) << elapsed << " ms";
    // The last values are not lost when the setting stops between two frames.
    EXPECT_TRUE(pump_until(ui, up, [&] { return text_of(window) == "Upgrading 5000"; }));
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 5000);

    // A position waiting for its frame reaches the bar before a new range does, so that it
    // cannot land in the new range later.
    ui.progress_set_pos(up, IDC_PROGRESS, 10);
    ui.progress_set_pos(up, IDC_PROGRESS, 70);
    ui.progress_set_range(up, IDC_PROGRESS, 0, 100);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 70);
    ui.progress_set_pos(up, IDC_PROGRESS, 0);
    EXPECT_TRUE(pump_until(ui, up, [&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) == 0; }));
    ui.destroy_dialog(up);
}

TEST_F(Win32ToolkitTest, PlacementKeepsTheSizeAndAllowsNegativeCoordinates) {
    DialogHandle d = open(IDD_WAITING);
    WindowRect before;
    ASSERT_TRUE(ui.get_window_rect(d, before));
    RECT system;
    GetWindowRect(hwnd(d), &system);
    EXPECT_EQ(before.left, system.left);
    EXPECT_EQ(before.bottom, system.bottom);
    ui.move_window(d, -30, 20);
    WindowRect after;
    ASSERT_TRUE(ui.get_window_rect(d, after));
    EXPECT_EQ(after.left, -30);
    EXPECT_EQ(after.top, 20);
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
    EXPECT_EQ(ui.screen_size().width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(ui.screen_size().height, GetSystemMetrics(SM_CYSCREEN));
    ui.destroy_dialog(d);
    EXPECT_FALSE(ui.get_window_rect(d, after));
}

TEST_F(Win32ToolkitTest, PumpTakesOneMessageOrAllOfThem) {
    DialogHandle d = open(IDD_PROGRESS);
    for (int i = 0; i < 3; ++i) PostMessageA(hwnd(d), WM_NULL, 0, 0);
    EXPECT_EQ(ui.pump(d, false), 1);
    EXPECT_EQ(ui.pump(d, true), 2);
    EXPECT_EQ(ui.pump(d, true), 0);
    ui.destroy_dialog(d);
}

// What a message box shows, read by another thread while it is up, then dismissed with OK.
struct BoxSeen {
    std::string text;
    std::vector<std::string> buttons;
    bool icon = false;
    bool owner_enabled = true;
};

BOOL CALLBACK collect_child(HWND child, LPARAM context) {
    auto& seen = *reinterpret_cast<BoxSeen*>(context);
    if (!IsWindowVisible(child)) return TRUE;
    std::string cls = class_of(child);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (_stricmp(cls.c_str(), "Button") == 0) {
        seen.buttons.push_back(text_of(child));
    } else if (_stricmp(cls.c_str(), "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            seen.icon = seen.icon || SendMessageA(child, STM_GETICON, 0, 0) != 0;
        } else if (!text_of(child).empty()) {
            seen.text = text_of(child);
        }
    }
    return TRUE;
}

std::thread watch_box(const char* caption, HWND dialog, BoxSeen& seen) {
    return std::thread([caption, dialog, &seen] {
        HWND box = nullptr;
        // Found, then shown: its controls are all there once it is visible.
        for (int i = 0; i < 2000 && !(box && IsWindowVisible(box)); ++i) {
            box = FindWindowA("#32770", caption);
            Sleep(5);
        }
        if (!box) return;
        EnumChildWindows(box, collect_child, reinterpret_cast<LPARAM>(&seen));
        if (dialog) seen.owner_enabled = IsWindowEnabled(dialog) != FALSE;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
}

TEST_F(Win32ToolkitTest, MessageBoxIsTaskModalWithTheTextsAsTheyStandAndOneOk) {
    DialogHandle d = open(IDD_PROGRESS);
    BoxSeen seen;
    std::thread watcher = watch_box("ZOQ Firwmare Upgrade Error", hwnd(d), seen);
    ui.message_box(NO_DIALOG, "Upgrade Failed: User Abort", "ZOQ Firwmare Upgrade Error");
    watcher.join();
    EXPECT_EQ(seen.text, "Upgrade Failed: User Abort");
    EXPECT_EQ(seen.buttons, std::vector<std::string>{"OK"});
    EXPECT_FALSE(seen.icon);
    EXPECT_FALSE(seen.owner_enabled) << "the thread's dialog stayed usable behind the box";
    EXPECT_TRUE(IsWindowEnabled(hwnd(d)));

    // Owned by a dialog (the address dialog's refusal): that dialog waits behind it.
    BoxSeen owned;
    std::thread watcher2 = watch_box("Error", hwnd(d), owned);
    ui.message_box(d, "Invalid IP Address", "Error");
    watcher2.join();
    EXPECT_EQ(owned.text, "Invalid IP Address");
    EXPECT_FALSE(owned.owner_enabled);
    EXPECT_TRUE(IsWindowEnabled(hwnd(d)));
    ui.destroy_dialog(d);
}

TEST_F(Win32ToolkitTest, AnotherThreadsBoxAndDialogsLeaveThisThreadsDialogAlone) {
    DialogHandle mine = open(IDD_WAITING);
    std::atomic<bool> box_done{false};
    Recorder theirs;
    DWORD their_thread = 0;
    DWORD dialog_owner = 0;
    std::thread other([&] {
        their_thread = GetCurrentThreadId();
        DialogHandle d = ui.create_dialog(IDD_UPLOADING, recording_proc, &theirs);
        dialog_owner = GetWindowThreadProcessId(hwnd(d), nullptr);
        ui.message_box(NO_DIALOG, "Upgrade Failed: Timeout", "ZOQ Firwmare Upgrade Error");
        ui.destroy_dialog(d);
        box_done = true;
    });
    HWND box = nullptr;
    for (int i = 0; i < 2000 && !box; ++i) {
        box = FindWindowA("#32770", "ZOQ Firwmare Upgrade Error");
        ui.pump(mine, true);
        Sleep(5);
    }
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(IsWindowEnabled(hwnd(mine)));
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    other.join();
    EXPECT_TRUE(box_done);
    EXPECT_EQ(dialog_owner, their_thread);
    EXPECT_EQ(theirs.proc_thread, their_thread);
    ui.destroy_dialog(mine);
}

}  // namespace
