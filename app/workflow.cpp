// SPDX-License-Identifier: MIT
#include "app/workflow.h"

#include "app/failure.h"
#include "app/request_page.h"
#include "app/startup.h"
#include "app/trigger.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/address.h"
#include "ui/confirm.h"
#include "ui/helpers.h"
#include "ui/notice.h"

namespace zoq {

int show_notice(Toolkit& ui, const UpgradeState& state) {
    NoticeDetails notice{text_of(state.model_name)};
    return ui.dialog_box(IDD_NOTICE, notice_dialog_proc, &notice);
}

int choose_addresses(Toolkit& ui, UpgradeState& state) {
    AddressDialog address{state.local_ips, text_of(state.model_name), state.is_phone,
                          state.image.version()};
    address.local_ip = state.local_ip;
    address.device_ip = state.device_ip;
    address.device_ip_text = state.device_ip_text;
    address.tftp_file_name = state.tftp_file_name;
    {
        LockGuard lock(state.shared_mutex);
        address.rng = state.rng;
    }
    const int template_id = state.is_phone ? IDD_ADDRESS_PHONE : IDD_ADDRESS;
    const int chosen = ui.dialog_box(template_id, address_dialog_proc, &address);
    {
        LockGuard lock(state.shared_mutex);
        state.rng = address.rng;
    }
    // What the dialog stored before a Cancel stays stored, as the run has always had it.
    state.local_ip = address.local_ip;
    state.device_ip = address.device_ip;
    state.device_ip_text = address.device_ip_text;
    state.tftp_file_name = address.tftp_file_name;
    return chosen;
}

int confirm_upgrade(Toolkit& ui, UpgradeState& state) {
    DeviceInfo info;
    {
        LockGuard lock(state.shared_mutex);
        info = state.device_info;
    }
    ConfirmDetails details{state.image.version(),          text_of(info.serial_number),
                           text_of(info.mac_address),      text_of(info.software_version),
                           text_of(info.hardware_version), text_of(info.product_name)};
    return ui.dialog_box(IDD_CONFIRM, confirm_dialog_proc, &details);
}

int run_upgrade(UpgradeState& state) {
    Toolkit& ui = *state.instance;
    // No window class to register here: every window is a dialog built from a template.
    start_up(state);

    if (show_notice(ui, state) != 1) return 0;
    if (choose_addresses(ui, state) != 1) return 0;
    if (state.device_ip == 0) return 0;

    const int received = request_page(state, state.local_ip, state.device_ip, STATUS_PAGE_PATH,
                                      state.response_buffer.data());
    if (received < 1) {
        show_error(ui, MSG_NO_RESPONSE);
        return 0;
    }
    if (confirm_upgrade(ui, state) != 1) {
        show_error(ui, MSG_USER_ABORT);
        return 0;
    }
    upgrade_trigger(state);
}

}  // namespace zoq
