// SPDX-License-Identifier: MIT
// zoq-window-text.exe CAPTION: prints the texts of the static controls and drop-down lists (their
// chosen entry) of the dialog or message box with that caption, one per line, after waiting up to
// 30 s for it to show. Run in the same Wine session as the program under test, it reads what that
// program's box says (xdotool sees only the caption). Exit code 1 when no such window showed.
#include <cstdio>
#include <string>

#include "platform/win32/windows_api.h"

namespace {

BOOL CALLBACK print_static(HWND child, LPARAM) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (!IsWindowVisible(child)) return TRUE;
    char text[1024] = {};
    if (_stricmp(cls, "Static") == 0) {
        if (GetWindowTextA(child, text, sizeof text) > 0) std::printf("%s\n", text);
    } else if (_stricmp(cls, "ComboBox") == 0) {
        // GetWindowText of another program's window gives its creation title, not the entry the
        // list shows: ask the list itself.
        DWORD_PTR length = 0;
        if (SendMessageTimeoutA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                SMTO_ABORTIFHUNG, 2000, &length) != 0 &&
            length > 0) {
            std::printf("%s\n", text);
        }
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zoq-window-text CAPTION\n");
        return 2;
    }
    for (int i = 0; i < 600; ++i) {
        HWND box = FindWindowA("#32770", argv[1]);
        if (box && IsWindowVisible(box)) {
            EnumChildWindows(box, print_static, 0);
            return 0;
        }
        Sleep(50);
    }
    return 1;
}
