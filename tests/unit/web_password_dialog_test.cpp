// SPDX-License-Identifier: MIT
// The password prompt on the scripted toolkit: what it shows and what it keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/text.h"
#include "platform/scripted/scripted_toolkit.h"
#include "res/templates.h"
#include "web/request.h"

namespace zoq {
namespace {

TEST(PasswordDialog, KeepsAtMost126CharactersAndStartsFreshEachTime) {
    ScriptedToolkit ui;
    Mutex mutex;
    DigestChallenge digest;
    Random rng;
    DigestShare share{&mutex, &digest, &rng};
    const std::string exact(126, 'u');
    const std::string longer = std::string(126, 'p') + "overflow";
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_USERNAME, exact), ScriptAction::type(IDC_PASSWORD, longer),
                ScriptAction::press(ID_OK)});
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_USERNAME, longer), ScriptAction::press(ID_OK)});
    ui.on_open(IDD_PASSWORD,
               {ScriptAction::type(IDC_USERNAME, "other"), ScriptAction::press(ID_CANCEL)});

    EXPECT_EQ(ui.dialog_box(IDD_PASSWORD, password_dialog_proc, &share), 1);
    EXPECT_EQ(std::string(digest.username.data()), exact);
    EXPECT_EQ(std::string(digest.password.data()), longer.substr(0, 126));
    EXPECT_EQ(ui.text_of(IDD_PASSWORD, IDC_INTRO).substr(0, 43),
              "This ZOQ requires a password in order to be");

    // The user field says "admin" again and the password field is empty again.
    EXPECT_EQ(ui.dialog_box(IDD_PASSWORD, password_dialog_proc, &share), 1);
    EXPECT_EQ(std::string(digest.username.data()), longer.substr(0, 126));
    EXPECT_STREQ(digest.password.data(), "");

    EXPECT_EQ(ui.dialog_box(IDD_PASSWORD, password_dialog_proc, &share), 0);
    EXPECT_EQ(std::string(digest.username.data()), longer.substr(0, 126));

    auto records = ui.records();
    EXPECT_EQ(std::count(records.begin(), records.end(), "text 104 1003 admin"), 3);
    EXPECT_EQ(std::count(records.begin(), records.end(), "focus 104 1005"), 3);
}

}  // namespace
}  // namespace zoq
