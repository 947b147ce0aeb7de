// SPDX-License-Identifier: MIT
// zoq-upgrade.exe: one firmware upgrade, run on the Win32 dialog manager.
#include "app/state.h"
#include "app/workflow.h"
#include "common/clock.h"
#include "platform/win32/win32_toolkit.h"
#include "platform/win32/windows_api.h"

namespace {

// The program's window class: no window of it is ever made, every window is a dialog. It
// answers every message with 0.
LRESULT CALLBACK inert_window_procedure(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

bool register_window_class(HINSTANCE instance) {
    WNDCLASSA wcl{};
    wcl.lpfnWndProc = inert_window_procedure;
    wcl.hInstance = instance;
    wcl.lpszClassName = "ZoqUpgrade";
    return RegisterClassA(&wcl) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // A class that cannot be registered means a system in no state for dialogs: stop, silently.
    if (!register_window_class(instance)) return 0;

    zoq::Win32Toolkit toolkit(instance);
    zoq::RealClock clock;
    // The run's record lives as long as the process: threads that outlive the entry routine
    // (the TFTP listener) keep using it until they end the process themselves.
    auto* state = new zoq::UpgradeState{};
    state->instance = &toolkit;
    state->clock = &clock;
    return zoq::run_upgrade(*state);
}
