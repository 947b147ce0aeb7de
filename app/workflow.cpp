// SPDX-License-Identifier: MIT
#include "app/workflow.h"

#include "app/failure.h"
#include "app/startup.h"
#include "app/trigger.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/address.h"
#include "ui/helpers.h"
#include "ui/notice.h"

namespace zoq {

int run_upgrade(UpgradeState& state) {
    Toolkit& ui = *state.instance;
    // No window class to register here: every window is a dialog built from a template.
    start_up(state);

    if (ui.dialog_box(IDD_NOTICE, notice_dialog_proc, &state) != 1) return 0;
    int address_template = state.is_phone ? IDD_ADDRESS_PHONE : IDD_ADDRESS;
    if (ui.dialog_box(address_template, address_dialog_proc, &state) != 1) return 0;
    if (state.device_ip == 0) return 0;

    const int received = request_page(state, state.local_ip, state.device_ip, STATUS_PAGE_PATH,
                                      state.response_buffer.data());
    if (received < 1) {
        show_error(ui, MSG_NO_RESPONSE);
        return 0;
    }
    if (ui.dialog_box(IDD_CONFIRM, confirm_dialog_proc, &state) != 1) {
        show_error(ui, MSG_USER_ABORT);
        return 0;
    }
    upgrade_trigger(state);
}

}  // namespace zoq
