// SPDX-License-Identifier: MIT
// zoq-dialog-gallery.exe TEMPLATE: the Windows twin of tests/gui/gallery.cpp. It opens one of
// the ten dialogs as a real run shows it, with the program's own dialog procedures and example
// values (a device at 192.168.1.30, three PC addresses), on the thread that owns it in a run.
// Once the dialog has been on screen for a moment it prints "READY <caption>"; a line (or the
// end) of standard input ends the process. scripts/screenshots --windows takes its pictures.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "app/startup.h"
#include "common/clock.h"
#include "common/process.h"
#include "common/state.h"
#include "common/text.h"
#include "platform/win32/win32_toolkit.h"
#include "platform/win32/windows_api.h"
#include "res/templates.h"
#include "res/texts.h"
#include "tftp/completion.h"
#include "tftp/session.h"
#include "ui/address.h"
#include "ui/notice.h"
#include "web/request.h"

using namespace zoq;

namespace {

void set(Text<128>& field, const char* value) {
    copy_text(field.data(), field.size(), value);
}

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

// The listener's way: a modeless dialog made, filled and pumped by a thread of its own.
[[noreturn]] void listener_like(Toolkit& ui, UpgradeState& state, int template_id) {
    std::thread([&ui, &state, template_id] {
        DialogHandle d = ui.create_dialog(template_id, transfer_dialog_proc, &state);
        const std::uint32_t blocks = state.image.size / 512 + 1;
        if (template_id == IDD_WAITING) {
            ui.progress_set_range(d, IDC_PROGRESS, 0, 1000);
            ui.progress_set_pos(d, IDC_PROGRESS, 350);
            ui.set_item_text(d, IDC_WAIT_TEXT, TFTP_INSTRUCTION_TEXT);
        } else {
            const std::uint32_t acked = blocks * 512 / 3;
            Text<128> title{};
            format_text(title, "Uploading %s Firmware to ZOQ@%s %d/%d Bytes", "Target",
                        state.device_ip_text.data(), static_cast<int>(acked),
                        static_cast<int>(state.image.size));
            ui.set_caption(d, text_of(title));
            ui.progress_set_range(d, IDC_PROGRESS, 0, static_cast<int>(blocks));
            ui.progress_set_pos(d, IDC_PROGRESS, static_cast<int>(blocks / 3));
        }
        for (;;) {
            ui.pump(d, true);
            Sleep(1);
        }
    }).detach();
    for (;;) ui.idle();
}

}  // namespace

int main(int argc, char** argv) {
    const int template_id = argc > 1 ? std::atoi(argv[1]) : 0;
    if (!find_template(template_id)) {
        std::fprintf(stderr,
                     "usage: zoq-dialog-gallery TEMPLATE (139 101 305 103 104 105 114 "
                     "110 111 113)\n");
        return 2;
    }
    Win32Toolkit ui;
    RealClock clock;
    auto* state = new UpgradeState{};
    state->instance = &ui;
    state->clock = &clock;
    start_up(*state);
    const std::array<std::uint32_t, 3> pcs{0xC0A80114u, 0x0A000005u, 0x7F000001u};
    collect_local_ips(*state, pcs);
    state->is_phone = template_id == IDD_ADDRESS_PHONE ? 1 : 0;
    copy_text(state->device_ip_text.data(), state->device_ip_text.size(), "192.168.1.30");
    state->device_ip = 0xC0A8011Eu;
    set(state->device_info.product_name, state->model_name.data());
    set(state->device_info.serial_number, "4B1D0C8E2207");
    set(state->device_info.mac_address, "00:1A:2B:3C:4D:5E");
    set(state->device_info.hardware_version, "2.1.0.4");
    set(state->device_info.software_version, "5.1.9(002)");

    // A line or the end of standard input ends the process, from this reader's thread.
    std::thread([] {
        std::string line;
        std::getline(std::cin, line);
        end_process();
    }).detach();
    announce_when_shown(template_id);

    SuccessReport report{state, {}};
    set(report.software_version, state->image.version());
    switch (template_id) {
        case IDD_NOTICE:
            ui.dialog_box(template_id, notice_dialog_proc, state);
            break;
        case IDD_ADDRESS:
        case IDD_ADDRESS_PHONE:
            ui.dialog_box(template_id, address_dialog_proc, state);
            break;
        case IDD_CONFIRM:
            ui.dialog_box(template_id, confirm_dialog_proc, state);
            break;
        case IDD_PASSWORD:
            ui.dialog_box(template_id, password_dialog_proc, state);
            break;
        case IDD_PROGRESS: {
            DialogHandle d = ui.create_dialog(template_id, progress_dialog_proc, state);
            ui.progress_set_pos(d, IDC_PROGRESS, 42);
            ui.idle();
        }
        case IDD_WAITING:
        case IDD_UPLOADING:
            listener_like(ui, *state, template_id);
        default:
            ui.dialog_box(template_id, success_dialog_proc, &report);
            break;
    }
    end_process();
}
