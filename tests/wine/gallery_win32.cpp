// SPDX-License-Identifier: MIT
// zoq-dialog-gallery.exe TEMPLATE: the Windows twin of tests/gui/gallery.cpp. It opens one of
// the ten dialogs as a real run shows it, with the program's own dialog procedures and example
// values (a device at 192.168.1.30, three PC addresses), on the thread that owns it in a run.
// Once the dialog has been on screen for a moment it prints "READY <caption>"; a line (or the
// end) of standard input ends the process. scripts/screenshots --windows takes its pictures.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/win32/win32_toolkit.h"
#include "platform/win32/windows_api.h"
#include "tests/support/gallery.h"

using namespace zoq;

namespace {

struct Shown {
    HWND window = nullptr;
};

BOOL CALLBACK find_shown_dialog(HWND window, LPARAM context) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || std::string(cls) != "#32770") {
        return TRUE;
    }
    reinterpret_cast<Shown*>(context)->window = window;
    return FALSE;
}

// Waits for the dialog on screen, types into it what a user would have typed by then, and
// announces it with its caption.
void announce_when_shown(int template_id) {
    std::thread([template_id] {
        Shown shown;
        while (!shown.window) {
            Sleep(50);
            EnumWindows(find_shown_dialog, reinterpret_cast<LPARAM>(&shown));
        }
        if (template_id == IDD_ADDRESS || template_id == IDD_ADDRESS_PHONE) {
            // As typed: the control's own fields, not its window text.
            SendDlgItemMessageA(shown.window, IDC_IP_ADDRESS, IPM_SETADDRESS, 0,
                                MAKEIPADDRESS(192, 168, 1, 30));
        } else if (template_id == IDD_PASSWORD) {
            SetDlgItemTextA(shown.window, IDC_PASSWORD, "secret");
        }
        Sleep(500);  // let Wine draw it
        char caption[256] = {};
        GetWindowTextA(shown.window, caption, sizeof caption);
        std::printf("READY %s\n", caption);
        std::fflush(stdout);
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    const int template_id = argc > 1 ? std::atoi(argv[1]) : 0;
    if (!gallery::known_template(template_id)) return 2;
    Win32Toolkit ui;
    RealClock clock;
    UpgradeState* state = gallery::sample_state(ui, clock, template_id);
    gallery::end_on_input_line();
    announce_when_shown(template_id);
    gallery::show(ui, state, template_id);
}
