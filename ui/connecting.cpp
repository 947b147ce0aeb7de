// SPDX-License-Identifier: MIT
#include "ui/connecting.h"

#include <algorithm>
#include <string>

#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"

namespace zoq {
namespace {

constexpr int PROGRESS_MAX = 100;

}  // namespace

bool progress_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    auto& progress = *static_cast<ProgressDialog*>(context);
    if (event.kind == EventKind::Opened) {
        Text<80> caption{};
        format_text(caption, "Connecting with ZOQ@%s",
                    std::string(progress.device_ip_text).c_str());
        ui.set_caption(dialog, text_of(caption));
        center_window(ui, dialog);
        ui.progress_set_range(dialog, IDC_PROGRESS, 0, PROGRESS_MAX);
        return true;
    }
    if (event.control == ID_CANCEL) {
        // The worker may be blocked in connect or receive for minutes: it is not waited for.
        ui.destroy_dialog(dialog);
        progress.cancelled = true;
        return true;
    }
    return false;
}

bool password_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    auto& credentials = *static_cast<Credentials*>(context);
    if (event.kind == EventKind::Opened) {
        ui.set_item_text(dialog, IDC_INTRO, PASSWORD_EXPLANATION_TEXT);
        ui.set_item_text(dialog, IDC_USERNAME, "admin");
        ui.set_focus(dialog, IDC_PASSWORD);
        center_window(ui, dialog);
        return false;
    }
    if (event.control == ID_OK) {
        std::string user = ui.get_item_text(dialog, IDC_USERNAME);
        std::string password = ui.get_item_text(dialog, IDC_PASSWORD);
        copy_text(credentials.username.data(), CREDENTIAL_MAX + 1, user);
        copy_text(credentials.password.data(), CREDENTIAL_MAX + 1, password);
        std::fill(password.begin(), password.end(), '\0');
        ui.end_dialog(dialog, 1);
        return true;
    }
    return end_on_ok_cancel(ui, dialog, event);
}

void ConnectingDialogs::start() {
    progress_ = ProgressDialog{device_ip_text_};
    dialog_ = ui_.create_dialog(IDD_PROGRESS, progress_dialog_proc, &progress_);
}

bool ConnectingDialogs::poll() {
    ui_.pump(dialog_, false);
    return progress_.cancelled;
}

void ConnectingDialogs::update(int position) {
    ui_.progress_set_pos(dialog_, IDC_PROGRESS, position);
}

void ConnectingDialogs::finish() {
    ui_.destroy_dialog(dialog_);
}

bool ConnectingDialogs::ask_credentials(Credentials& out) {
    return ui_.dialog_box(IDD_PASSWORD, password_dialog_proc, &out) != 0;
}

}  // namespace zoq
