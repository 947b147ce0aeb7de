// SPDX-License-Identifier: MIT
// The notice, confirmation and address dialogs on the run's fields, and the password prompt,
// driven through the scripted toolkit.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "app/firmware.h"
#include "app/workflow.h"
#include "common/text.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/connecting.h"

namespace zoq {
namespace {

using A = ScriptAction;

struct Fixture {
    std::unique_ptr<UpgradeState> state = std::make_unique<UpgradeState>();
    ScriptedToolkit ui;
    Fixture() {
        state->instance = &ui;
        load_firmware_image(*state);
        identify_model(*state);
    }
    bool saw(const std::string& line) const {
        auto r = ui.records();
        return std::find(r.begin(), r.end(), line) != r.end();
    }
    int count_prefix(const std::string& prefix) const {
        auto r = ui.records();
        return static_cast<int>(std::count_if(
            r.begin(), r.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
};

TEST(NoticeDialog, CaptionWarningFocusAndButtons) {
    Fixture f;
    f.ui.on_open(IDD_NOTICE, {A::press(ID_OK)});
    f.ui.on_open(IDD_NOTICE, {A::press(ID_CANCEL)});
    EXPECT_EQ(show_notice(f.ui, *f.state), 1);
    EXPECT_EQ(show_notice(f.ui, *f.state), 0);
    EXPECT_TRUE(f.saw("caption 139 ZOQ-4502 Firmware Upgrade"));
    EXPECT_EQ(f.ui.text_of(IDD_NOTICE, IDC_WARNING), NOTICE_WARNING_TEXT);
    // The procedure sets the focus on Cancel itself; the dialog manager must not move it.
    EXPECT_EQ(f.count_prefix("focus 139 2"), 2);
    EXPECT_EQ(f.count_prefix("focus 139 1"), 0);
}

TEST(ConfirmDialog, ShowsTheDeviceAndTheImageVersion) {
    Fixture f;
    copy_text(f.state->device_info.serial_number, "SN123");
    copy_text(f.state->device_info.mac_address, "02:00:00:AA:BB:CC");
    copy_text(f.state->device_info.software_version, "5.2.10(001)");
    copy_text(f.state->device_info.product_name, "ZOQ-4502");
    // hardware_version left empty: its box stays empty and Upgrade is still offered.
    f.ui.on_open(IDD_CONFIRM, {A::press(ID_OK)});
    EXPECT_EQ(confirm_upgrade(f.ui, *f.state), 1);
    EXPECT_TRUE(f.saw("caption 103 Confirm Upgrade to Ver. 5.2.13(004)"));
    EXPECT_TRUE(f.saw("focus 103 1"));
    EXPECT_EQ(f.ui.text_of(IDD_CONFIRM, IDC_INTRO), CONFIRM_INTRO_TEXT);
    EXPECT_EQ(f.ui.text_of(IDD_CONFIRM, IDC_SERIAL), "SN123");
    EXPECT_EQ(f.ui.text_of(IDD_CONFIRM, IDC_MAC), "02:00:00:AA:BB:CC");
    EXPECT_EQ(f.ui.text_of(IDD_CONFIRM, IDC_SW_VERSION), "5.2.10(001)");
    EXPECT_EQ(f.ui.text_of(IDD_CONFIRM, IDC_HW_VERSION), "");
    EXPECT_EQ(f.ui.text_of(IDD_CONFIRM, IDC_PRODUCT), "ZOQ-4502");
    f.ui.on_open(IDD_CONFIRM, {A::press(ID_CANCEL)});
    EXPECT_EQ(confirm_upgrade(f.ui, *f.state), 0);
}

TEST(AddressDialog, ListsThePcAddressesAndStoresTheChoice) {
    Fixture f;
    f.state->local_ips = {0x0A000005u, 0xC0A8010Au, 0x7F000001u};
    f.state->local_ip = 0x0A000005u;
    f.state->rng.seed(1);  // first draw 41 = 0x29
    f.ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, "192.168.1.20"), A::select(IDC_LOCAL_IPS, 2),
                               A::press(ID_OK)});
    EXPECT_EQ(choose_addresses(f.ui, *f.state), 1);
    EXPECT_TRUE(f.saw("list 101 1017 add 10.0.0.5"));
    EXPECT_TRUE(f.saw("list 101 1017 add 192.168.1.10"));
    EXPECT_TRUE(f.saw("list 101 1017 add 127.0.0.1"));
    EXPECT_EQ(f.count_prefix("list 101 1017 add"), 3);
    EXPECT_TRUE(f.saw("select 101 1017 0"));
    EXPECT_TRUE(f.saw("caption 101 ZOQ-4502 Firmware Upgrade"));
    EXPECT_TRUE(f.saw("focus 101 1000"));
    EXPECT_EQ(f.ui.text_of(IDD_ADDRESS, IDC_INTRO), ADDRESS_INTRO_TEXT);
    EXPECT_EQ(f.ui.text_of(IDD_ADDRESS, IDC_INSTRUCTIONS), ADAPTER_INSTRUCTIONS_TEXT);
    EXPECT_EQ(f.ui.text_of(IDD_ADDRESS, IDC_VERSION_LINE), "Version 5.2.13(004)");
    EXPECT_EQ(f.state->device_ip, 0xC0A80114u);
    EXPECT_EQ(text_of(f.state->device_ip_text), "192.168.1.20");
    EXPECT_EQ(f.state->local_ip, 0x7F000001u);
    EXPECT_EQ(text_of(f.state->tftp_file_name), "/zoq29.bi1");
}

TEST(AddressDialog, RefusedAddressesKeepTheDialogOpenAndDrawNoName) {
    Fixture f;
    f.state->local_ips = {0x7F000001u};
    f.state->local_ip = 0x7F000001u;
    f.state->rng.seed(1);
    f.ui.on_open(
        IDD_ADDRESS,
        {A::type(IDC_IP_ADDRESS, "0.0.0.0"), A::press(ID_OK), A::type(IDC_IP_ADDRESS, "256.1.1.1"),
         A::press(ID_OK), A::type(IDC_IP_ADDRESS, "a very long text that does not fit"),
         A::press(ID_OK), A::type(IDC_IP_ADDRESS, "127.0.0.2"), A::press(ID_OK)});
    EXPECT_EQ(choose_addresses(f.ui, *f.state), 1);
    EXPECT_EQ(f.count_prefix("message Error|Invalid IP Address"), 3);
    EXPECT_EQ(f.state->device_ip, 0x7F000002u);
    // The three refusals drew nothing: the name comes from the first draw.
    EXPECT_EQ(text_of(f.state->tftp_file_name), "/zoq29.bi1");
}

TEST(AddressDialog, EachAcceptedOkDrawsAFreshName) {
    Fixture f;
    f.state->local_ips = {0x7F000001u};
    f.state->rng.seed(1);
    f.ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, "127.0.0.2"), A::press(ID_OK)}, true);
    choose_addresses(f.ui, *f.state);
    std::string first(text_of(f.state->tftp_file_name));
    choose_addresses(f.ui, *f.state);
    EXPECT_NE(first, text_of(f.state->tftp_file_name));
    EXPECT_EQ(text_of(f.state->tftp_file_name), "/zoq4823.bi1");  // second draw 18467
}

TEST(AddressDialog, PhoneVariantAndCancelAndNoPcAddress) {
    Fixture f;
    f.state->is_phone = 1;
    f.ui.on_open(IDD_ADDRESS_PHONE, {A::type(IDC_IP_ADDRESS, "10.1.0.13"), A::press(ID_CANCEL)});
    EXPECT_EQ(choose_addresses(f.ui, *f.state), 0);
    EXPECT_EQ(f.ui.text_of(IDD_ADDRESS_PHONE, IDC_INSTRUCTIONS), PHONE_INSTRUCTIONS_TEXT);
    EXPECT_EQ(f.state->device_ip, 0u);
    EXPECT_EQ(f.state->tftp_file_name[0], 0);

    // No PC address at all: the list is empty, nothing is selected, local_ip stays 0.
    f.ui.on_open(IDD_ADDRESS_PHONE, {A::type(IDC_IP_ADDRESS, "10.1.0.13"), A::press(ID_OK)});
    EXPECT_EQ(choose_addresses(f.ui, *f.state), 1);
    EXPECT_EQ(f.state->local_ip, 0u);
    EXPECT_EQ(f.state->device_ip, 0x0A01000Du);
}

TEST(AddressDialog, AddressTextIsBoundedByItsField) {
    Fixture f;
    f.ui.on_open(IDD_ADDRESS, {A::type(IDC_IP_ADDRESS, std::string(100, '1')), A::press(ID_OK),
                               A::press(ID_CANCEL)});
    EXPECT_EQ(choose_addresses(f.ui, *f.state), 0);
    EXPECT_EQ(text_of(f.state->device_ip_text), std::string(31, '1'));
    EXPECT_EQ(f.state->device_ip, 0u);
}

TEST(PasswordDialog, KeepsAtMost126CharactersAndStartsFreshEachTime) {
    ScriptedToolkit ui;
    Credentials typed;
    const std::string exact(126, 'u');
    const std::string longer = std::string(126, 'p') + "overflow";
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_USERNAME, exact), ScriptAction::type(IDC_PASSWORD, longer),
                ScriptAction::press(ID_OK)});
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_USERNAME, longer), ScriptAction::press(ID_OK)});
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_USERNAME, "other"), ScriptAction::press(ID_CANCEL)});

    EXPECT_EQ(ui.dialog_box(IDD_PASSWORD, password_dialog_proc, &typed), 1);
    EXPECT_EQ(std::string(typed.username.data()), exact);
    EXPECT_EQ(std::string(typed.password.data()), longer.substr(0, 126));
    EXPECT_EQ(ui.text_of(IDD_PASSWORD, IDC_INTRO).substr(0, 43),
              "This ZOQ requires a password in order to be");

    // The user field says "admin" again and the password field is empty again.
    EXPECT_EQ(ui.dialog_box(IDD_PASSWORD, password_dialog_proc, &typed), 1);
    EXPECT_EQ(std::string(typed.username.data()), longer.substr(0, 126));
    EXPECT_STREQ(typed.password.data(), "");

    EXPECT_EQ(ui.dialog_box(IDD_PASSWORD, password_dialog_proc, &typed), 0);
    EXPECT_EQ(std::string(typed.username.data()), longer.substr(0, 126));

    auto records = ui.records();
    EXPECT_EQ(std::count(records.begin(), records.end(), "text 104 1003 admin"), 3);
    EXPECT_EQ(std::count(records.begin(), records.end(), "focus 104 1005"), 3);
}

}  // namespace
}  // namespace zoq
