// SPDX-License-Identifier: MIT
#include "ui/address.h"

#include <string>

#include "common/text.h"
#include "common/trace.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"
#include "ui/ipv4.h"

namespace zoq {
namespace {

void fill_dialog(Toolkit& ui, DialogHandle dialog, const AddressDialog& address) {
    for (std::uint32_t ip : address.local_ips) {
        if (ip == 0) break;
        ui.list_add(dialog, IDC_LOCAL_IPS, dotted(ip));
    }
    ui.list_select(dialog, IDC_LOCAL_IPS, 0);
    ui.set_caption(dialog, format("%s Firmware Upgrade", std::string(address.model_name).c_str()));
    ui.set_item_text(dialog, IDC_INTRO, ADDRESS_INTRO_TEXT);
    ui.set_item_text(dialog, IDC_INSTRUCTIONS,
                     address.is_phone ? PHONE_INSTRUCTIONS_TEXT : ADAPTER_INSTRUCTIONS_TEXT);
    ui.set_item_text(dialog, IDC_VERSION_LINE,
                     format("Version %s", std::string(address.image_version).c_str()));
    // The address field has the focus, so the user can type at once.
    ui.set_focus(dialog, IDC_IP_ADDRESS);
    center_window(ui, dialog);
}

void accept(Toolkit& ui, DialogHandle dialog, AddressDialog& address) {
    copy_text(address.device_ip_text, ui.get_item_text(dialog, IDC_IP_ADDRESS));
    // Only the address decides: 0.0.0.0 parses, yet names no device.
    address.device_ip = parse_ipv4(address.device_ip_text.data()).address;
    if (address.device_ip == 0) {
        ui.message_box(dialog, MSG_INVALID_IP, MSG_INVALID_IP_CAPTION);
        ui.set_focus(dialog, IDC_IP_ADDRESS);
        return;
    }
    const unsigned draw = static_cast<unsigned>(address.rng.next()) & 0xFFFFu;
    format_text(address.tftp_file_name, "/zoq%x.bi1", draw);
    int selected = ui.list_selected(dialog, IDC_LOCAL_IPS);
    // With no PC address listed nothing is selected, and `local_ip` stays as start-up left it.
    if (selected >= 0 && static_cast<std::size_t>(selected) < address.local_ips.size() &&
        address.local_ips[static_cast<std::size_t>(selected)] != 0) {
        address.local_ip = address.local_ips[static_cast<std::size_t>(selected)];
    }
    trace("+++ using %x\n", address.local_ip);
    ui.end_dialog(dialog, 1);
}

}  // namespace

bool address_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    auto& address = *static_cast<AddressDialog*>(context);
    if (event.kind == EventKind::Opened) {
        fill_dialog(ui, dialog, address);
        return false;
    }
    if (event.control == ID_OK) {
        accept(ui, dialog, address);
        return true;
    }
    return end_on_ok_cancel(ui, dialog, event);
}

}  // namespace zoq
