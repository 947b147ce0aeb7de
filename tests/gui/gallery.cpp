// SPDX-License-Identifier: MIT
// zoq-dialog-gallery TEMPLATE: opens one of the ten dialogs as a real run shows it, with the
// program's own dialog procedures and example values (a device at 192.168.1.30, three PC
// addresses), on the thread that owns it in a run (the waiting and uploading dialogs on a
// listener-like thread). When it is on screen it prints "READY <window id> <caption>" on
// standard output; a line (or the end) of standard input ends the process. scripts/screenshots
// takes its pictures with it.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "app/startup.h"
#include "common/clock.h"
#include "common/process.h"
#include "common/state.h"
#include "common/text.h"
#include "platform/qt/qt_toolkit.h"
#include "res/templates.h"
#include "res/texts.h"
#include "tftp/completion.h"
#include "tftp/session.h"
#include "ui/address.h"
#include "ui/notice.h"
#include "web/request.h"

using namespace zoq;
using namespace std::chrono_literals;

namespace {

void set(Text<128>& field, const char* value) {
    copy_text(field.data(), field.size(), value);
}

// Announces the dialog once it has been on screen for a moment, and types into it what a user
// would have typed by then.
void announce_when_shown(QtToolkit& ui, int template_id) {
    auto* timer = new QTimer(qApp);
    auto shown_for = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [&ui, template_id, timer, shown_for] {
        DialogHandle h = ui.find_dialog(template_id);
        QWidget* w = h ? ui.window_of(h) : nullptr;
        if (!w || !w->isVisible()) return;
        if (++*shown_for == 1) {
            if (template_id == IDD_ADDRESS || template_id == IDD_ADDRESS_PHONE) {
                ui.set_item_text(h, IDC_IP_ADDRESS, "192.168.1.30");
            } else if (template_id == IDD_PASSWORD) {
                ui.set_item_text(h, IDC_PASSWORD, "secret");
            }
        }
        if (*shown_for < 10) return;  // let the window system draw it
        timer->stop();
        std::printf("READY %llu %s\n", static_cast<unsigned long long>(w->winId()),
                    w->windowTitle().toUtf8().constData());
        std::fflush(stdout);
    });
    timer->start(50);
}

// The listener's way: a modeless dialog made, filled and pumped by a thread of its own.
void listener_like(QtToolkit& ui, UpgradeState& state, int template_id) {
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
            std::this_thread::sleep_for(1ms);
        }
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int template_id = argc > 1 ? std::atoi(argv[1]) : 0;
    if (!find_template(template_id)) {
        std::fprintf(stderr,
                     "usage: zoq-dialog-gallery TEMPLATE (139 101 305 103 104 105 114 "
                     "110 111 113)\n");
        return 2;
    }
    QtToolkit ui;
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
    announce_when_shown(ui, template_id);

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
            ui.idle();
        default:
            ui.dialog_box(template_id, success_dialog_proc, &report);
            break;
    }
    end_process();
}
