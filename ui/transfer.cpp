// SPDX-License-Identifier: MIT
#include "ui/transfer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"

namespace zoq {

ProgressTitle::ProgressTitle(std::string_view device_ip_text) {
    prefix_ =
        copy_text(text_, format("Uploading %s Firmware to ZOQ@%.*s ", "Target",
                                static_cast<int>(device_ip_text.size()), device_ip_text.data()));
}

std::string_view ProgressTitle::with_counts(std::uint32_t acked, std::uint32_t total) {
    char* const end = text_.data() + text_.size() - 1;  // the terminator always fits
    char* at = text_.data() + prefix_;
    auto put = [&](std::string_view s) {
        std::size_t n = std::min<std::size_t>(s.size(), static_cast<std::size_t>(end - at));
        std::memcpy(at, s.data(), n);
        at += n;
    };
    char digits[16];
    put({digits, static_cast<std::size_t>(std::to_chars(digits, digits + 16, acked).ptr - digits)});
    put("/");
    put({digits, static_cast<std::size_t>(std::to_chars(digits, digits + 16, total).ptr - digits)});
    put(" Bytes");
    *at = '\0';
    return {text_.data(), static_cast<std::size_t>(at - text_.data())};
}

bool transfer_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    if (event.kind == EventKind::Opened) {
        center_window(ui, dialog);
        return true;
    }
    if (event.kind == EventKind::Command && event.control == ID_CANCEL) {
        ui.destroy_dialog(dialog);
        *static_cast<bool*>(context) = true;
        return true;
    }
    return false;
}

void TransferDialogs::start_waiting(int activity_steps) {
    cancelled_ = false;
    dialog_ = ui_.create_dialog(IDD_WAITING, transfer_dialog_proc, &cancelled_);
    ui_.progress_set_range(dialog_, IDC_PROGRESS, 0, activity_steps);
    ui_.progress_set_pos(dialog_, IDC_PROGRESS, 0);
    ui_.set_item_text(dialog_, IDC_WAIT_TEXT, TFTP_INSTRUCTION_TEXT);
}

bool TransferDialogs::poll_waiting(int activity) {
    ui_.progress_set_pos(dialog_, IDC_PROGRESS, activity);
    ui_.pump(dialog_, true);
    return cancelled_;
}

void TransferDialogs::finish_waiting() {
    ui_.destroy_dialog(dialog_);
    dialog_ = NO_DIALOG;
}

void TransferDialogs::start(std::uint32_t block_count) {
    cancelled_ = false;
    dialog_ = ui_.create_dialog(IDD_UPLOADING, transfer_dialog_proc, &cancelled_);
    ui_.progress_set_range(dialog_, IDC_PROGRESS, 0, static_cast<int>(block_count));
}

void TransferDialogs::update(std::uint32_t block, std::uint32_t acked, std::uint32_t total) {
    ui_.progress_set_pos(dialog_, IDC_PROGRESS, static_cast<int>(block));
    ui_.set_caption(dialog_, title_.with_counts(acked, total));
}

bool TransferDialogs::poll() {
    ui_.pump(dialog_, false);
    return cancelled_;
}

}  // namespace zoq
