// SPDX-License-Identifier: MIT
#include "ui/notice.h"

#include "common/state.h"
#include "common/text.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"

namespace zoq {
bool notice_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    auto& state = *static_cast<UpgradeState*>(context);
    if (event.kind == EventKind::Opened) {
        ui.set_caption(dialog, format("%s Firmware Upgrade", state.model_name.data()));
        ui.set_item_text(dialog, IDC_WARNING, NOTICE_WARNING_TEXT);
        // Cancel has the focus and is the default: Enter at once must not start anything.
        ui.set_focus(dialog, ID_CANCEL);
        center_window(ui, dialog);
        return false;
    }
    return end_on_ok_cancel(ui, dialog, event);
}

bool confirm_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    auto& state = *static_cast<UpgradeState*>(context);
    if (event.kind == EventKind::Opened) {
        ui.set_caption(dialog, format("Confirm Upgrade to Ver. %s", state.image.version()));
        ui.set_item_text(dialog, IDC_INTRO, CONFIRM_INTRO_TEXT);
        DeviceInfo info;
        {
            LockGuard lock(state.shared_mutex);
            info = state.device_info;
        }
        ui.set_item_text(dialog, IDC_SERIAL, text_of(info.serial_number));
        ui.set_item_text(dialog, IDC_MAC, text_of(info.mac_address));
        ui.set_item_text(dialog, IDC_SW_VERSION, text_of(info.software_version));
        ui.set_item_text(dialog, IDC_HW_VERSION, text_of(info.hardware_version));
        ui.set_item_text(dialog, IDC_PRODUCT, text_of(info.product_name));
        center_window(ui, dialog);
        return true;  // the dialog manager focuses the first tab stop: Upgrade
    }
    return end_on_ok_cancel(ui, dialog, event);
}

}  // namespace zoq
