// SPDX-License-Identifier: MIT
#include "ui/notice.h"

#include <string>

#include "common/text.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"

namespace zoq {

bool notice_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    const auto& details = *static_cast<const NoticeDetails*>(context);
    if (event.kind == EventKind::Opened) {
        ui.set_caption(dialog,
                       format("%s Firmware Upgrade", std::string(details.model_name).c_str()));
        ui.set_item_text(dialog, IDC_WARNING, NOTICE_WARNING_TEXT);
        // Cancel has the focus and is the default: Enter at once must not start anything.
        ui.set_focus(dialog, ID_CANCEL);
        center_window(ui, dialog);
        return false;
    }
    return end_on_ok_cancel(ui, dialog, event);
}

}  // namespace zoq
