// SPDX-License-Identifier: MIT
// What the two dialog galleries (tests/gui/gallery.cpp on Qt, tests/wine/gallery_win32.cpp on
// Win32) share: the example values of a run (a device at 192.168.1.30, three PC addresses), the
// listener's way of showing its dialogs, and which procedure runs each template. Each gallery
// adds only its toolkit and how it finds its window on screen.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "app/completion.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/workflow.h"
#include "common/clock.h"
#include "common/process.h"
#include "common/text.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/port.h"
#include "ui/transfer.h"
#include "web/request.h"

namespace zoq::gallery {

inline void set(Text<128>& field, const char* value) {
    copy_text(field.data(), field.size(), value);
}

// False, with the usage on standard error, for a number that names no dialog.
inline bool known_template(int template_id) {
    if (find_template(template_id)) return true;
    std::fprintf(stderr,
                 "usage: zoq-dialog-gallery TEMPLATE (139 101 305 103 104 105 114 "
                 "110 111 113)\n");
    return false;
}

// A run's state as it stands when `template_id` shows. Never freed: the process ends with it.
inline UpgradeState* sample_state(Toolkit& ui, Clock& clock, int template_id) {
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
    return state;
}

// A line or the end of standard input ends the process, from this reader's thread.
inline void end_on_input_line() {
    std::thread([] {
        std::string line;
        std::getline(std::cin, line);
        end_process();
    }).detach();
}

// The listener's way: a modeless dialog made, filled and pumped by a thread of its own.
inline void listener_like(Toolkit& ui, UpgradeState& state, int template_id) {
    std::thread([&ui, &state, template_id] {
        auto* cancelled = new bool(false);  // the thread never ends: neither does its dialog
        const DialogHandle d = ui.create_dialog(template_id, transfer_dialog_proc, cancelled);
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
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }).detach();
}

// Shows `template_id` with the program's own procedure, on the thread that owns it in a run,
// until the process is ended.
[[noreturn]] inline void show(Toolkit& ui, UpgradeState* state, int template_id) {
    SuccessReport report{state, {}};
    set(report.software_version, state->image.version());
    switch (template_id) {
        case IDD_NOTICE:
            show_notice(ui, *state);
            break;
        case IDD_ADDRESS:
        case IDD_ADDRESS_PHONE:
            choose_addresses(ui, *state);
            break;
        case IDD_CONFIRM:
            confirm_upgrade(ui, *state);
            break;
        case IDD_PASSWORD:
            ui.dialog_box(template_id, password_dialog_proc, new Credentials);
            break;
        case IDD_PROGRESS: {
            DialogHandle d = ui.create_dialog(template_id, progress_dialog_proc,
                                              new ProgressDialog{text_of(state->device_ip_text)});
            ui.progress_set_pos(d, IDC_PROGRESS, 42);
            ui.idle();
            break;  // idle() never returns
        }
        case IDD_WAITING:
        case IDD_UPLOADING:
            listener_like(ui, *state, template_id);
            ui.idle();
            break;
        default:
            ui.dialog_box(template_id, success_dialog_proc, &report);
            break;
    }
    end_process();
}

}  // namespace zoq::gallery
