// SPDX-License-Identifier: MIT
#include "ui/confirm.h"

#include <string>

#include "common/text.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"

namespace zoq {

bool confirm_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    const auto& details = *static_cast<const ConfirmDetails*>(context);
    if (event.kind == EventKind::Opened) {
        ui.set_caption(dialog, format("Confirm Upgrade to Ver. %s",
                                      std::string(details.image_version).c_str()));
        ui.set_item_text(dialog, IDC_INTRO, CONFIRM_INTRO_TEXT);
        ui.set_item_text(dialog, IDC_SERIAL, details.serial_number);
        ui.set_item_text(dialog, IDC_MAC, details.mac_address);
        ui.set_item_text(dialog, IDC_SW_VERSION, details.software_version);
        ui.set_item_text(dialog, IDC_HW_VERSION, details.hardware_version);
        ui.set_item_text(dialog, IDC_PRODUCT, details.product_name);
        center_window(ui, dialog);
        return true;  // the dialog manager focuses the first tab stop: Upgrade
    }
    return end_on_ok_cancel(ui, dialog, event);
}

}  // namespace zoq
