// SPDX-License-Identifier: MIT
#include "app/completion.h"

#include <cstring>

#include "app/failure.h"
#include "app/firmware.h"
#include "app/request_page.h"
#include "common/clock.h"
#include "common/text.h"
#include "common/trace.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"

namespace zoq {
namespace {

std::uint32_t clock_units(Clock& clock) {
    return clock.now_ms() >> 5;
}

}  // namespace

void upgrade_completion(UpgradeState& state, TransferOutcome outcome, TransferDialogs& dialogs) {
    Toolkit& ui = *state.instance;
    const DialogHandle dialog = dialogs.uploading();
    Clock& clock = *state.clock;
    const std::uint32_t start = clock_units(clock);
    const std::uint32_t wait = restart_wait_units(text_of(state.model_name));
    ui.progress_set_range(dialog, IDC_PROGRESS, 0, static_cast<int>(wait));
    ui.progress_set_pos(dialog, IDC_PROGRESS, 0);
    Text<80> title{};
    format_text(title, "Updating %s Firmware to ZOQ@%s", "Target", state.device_ip_text.data());
    ui.set_caption(dialog, text_of(title));
    for (;;) {
        std::uint32_t now = clock_units(clock);
        if (now < start) now += RESTART_UNIT_WRAP;
        ui.progress_set_pos(dialog, IDC_PROGRESS, static_cast<int>(now - start));
        ui.pump(dialog, true);
        if (dialogs.cancelled()) end_run(ui, MSG_USER_ABORT);
        if (now >= start + wait) break;
        clock.sleep_ms(RESTART_UNIT_MS);
    }
    ui.destroy_dialog(dialog);

    if (outcome != TransferOutcome::Complete) {
        show_error(ui, MSG_UPLOAD_INCOMPLETE);
        return;
    }
    // The address the user entered, which is also the transfer's sender in every run (the
    // listener serves no other): the verdict and the stored credentials belong to the device
    // the user named, so the transfer hands back no address at all.
    for (int attempt = 0; attempt < STATUS_READ_ATTEMPTS; ++attempt) {
        const int received = request_page(state, state.local_ip, state.device_ip, STATUS_PAGE_PATH,
                                          state.completion_buffer.data());
        if (received <= 0) continue;
        SuccessReport report;
        report.state = &state;
        {
            LockGuard lock(state.shared_mutex);
            copy_text(report.software_version, text_of(state.device_info.software_version));
        }
        trace("[%d]%s %s\n", 1, state.image.version(), report.software_version.data());
        if (!state.is_phone &&
            std::strcmp(report.software_version.data(), state.image.version()) != 0) {
            show_error(ui, MSG_VERSION_MISMATCH);
            return;
        }
        ui.dialog_box(success_template(text_of(state.model_name)), success_dialog_proc, &report);
        return;
    }
    // Ending silently here would leave the user wondering whether the device was upgraded.
    show_error(ui, MSG_NO_RESPONSE);
}

bool success_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    auto* report = static_cast<SuccessReport*>(context);
    if (event.kind == EventKind::Opened) {
        Text<80> title{};
        format_text(title, "ZOQ@%s Upgrade Successful!", report->state->device_ip_text.data());
        ui.set_caption(dialog, text_of(title));
        ui.set_item_text(dialog, IDC_INTRO, SUCCESS_TEXT);
        ui.set_item_text(dialog, IDC_SUCCESS_VERSION, text_of(report->software_version));
        center_window(ui, dialog);
        return true;
    }
    return end_on_ok_cancel(ui, dialog, event);
}

}  // namespace zoq
