// SPDX-License-Identifier: MIT
// The program's own texts, byte for byte: every message, caption and dialog text of res/ against
// a copy typed here by hand, and the same copy against the bytes of the built program (the Qt
// executable; zoq-upgrade.exe in the Windows build), so that a text changed in one of the three
// places and not in the others fails. Line breaks are CR LF, double blanks and typos as written.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "res/short_texts.h"
#include "res/templates.h"
#include "res/texts.h"

namespace zoq {
namespace {

struct NamedText {
    const char* in_res;
    const char* expected;
};

const NamedText TEXTS[] = {
    {DEFAULT_ERROR_CAPTION, "ZOQ Firwmare Upgrade Error"},
    {NOTICE_WARNING_TEXT,
     "WARNING: Forcing a firmware upgrade on your ZOQ\r\nwithout prior approval from your service "
     "provider or\r\nnetwork administrator may cause interruption to your\r\nservice.  If your ZOQ "
     "is managed by a service\r\nprovider who retains administrative control of the\r\ndevice, "
     "please contact the service provider for\r\nauthorization before proceeding.  In such cases, "
     "the\r\nmost current, approved for service firmware is\r\nautomatically provided by your "
     "service provider without\r\nany onus on the end user to upgrade manually."},
    {CONFIRM_INTRO_TEXT,
     "The following information was extracted\r\nfrom your ZOQ. Please click \"Upgrade\"\r\nif you "
     "would like to proceed. If you would\r\nlike to quit click \"Cancel\"."},
    {ADDRESS_INTRO_TEXT, "This program will upgrade your ZOQ\r\nfirmware to:"},
    {PHONE_INSTRUCTIONS_TEXT,
     "To proceed, please provide the IP address\r\nof your ZOQ. To find out the IP address "
     "of\r\nyour ZOQ, press the I button on the phone,\r\nselect \"Network\" option, and check "
     "the\r\nvalue of \"Current IP\". For example, 10.1.0.13\r\n\r\nPlease enter IP address of "
     "your ZOQ:"},
    {ADAPTER_INSTRUCTIONS_TEXT,
     "To proceed, please provide the IP address\r\nof your ZOQ. To find out the IP "
     "address\r\nof your ZOQ, using a telephone handset,\r\nenter * * * *, option 110#, and write "
     "down\r\nthe value. For example, 10.1.0.123\r\n\r\nPlease enter IP address of your ZOQ:"},
    {PASSWORD_EXPLANATION_TEXT,
     "This ZOQ requires a password in order to be\r\nupgraded. If you do not have "
     "administrator's\r\nprivileges for this unit, please contact your\r\nService Provider or "
     "network administrator,\r\nbefore proceeding.\r\n\r\nYou must provide the ZOQ "
     "administrator's\r\npassword to upgrade. If you are the administrator\r\nand forgot the "
     "password, you may perform a\r\nfactory reset by entering * * * *, option 52614#,\r\nand "
     "value 1 from a telephone connected to the\r\nunit to be upgraded.\r\n\r\n* * * * * * * * * "
     "* *  Warning  * * * * * * * * * * *\r\nAll settings will revert to default values\r\nafter "
     "factory reset!  You may not be able to\r\nreestablish service after completing this "
     "upgrade\r\nwithout first reentering service configuration\r\ninformation."},
    {TFTP_INSTRUCTION_TEXT,
     "Firmware upload will begin when the ZOQ is idle, where the ZOQ will request to download the "
     "firmware from this PC using TFTP at the first available UDP port starting at port number "
     "69.\r\n\r\nIf firmware download does not start, please check that you have done the "
     "following: a) Hangup properly all the phones attached to the ZOQ, b) Disable any firewall "
     "software (such as Internet Connection Firewall) on this PC, and c) Make sure that this PC "
     "and the ZOQ are on the same LAN subnet; it will not work for example if this PC is behind a "
     "router while the ZOQ is in front of it."},
    {SUCCESS_TEXT, "Your ZOQ has been successfully\r\nupgraded to the version shown\r\nbelow."},
    {MSG_WINSOCK_INIT, "Upgrade Failed: Winsock init error"},
    {MSG_NO_RESPONSE, "Upgrade Failed: No Response From ZOQ"},
    {MSG_USER_ABORT, "Upgrade Failed: User Abort"},
    {MSG_HTTP_OPEN, "Upgrade Failed: Can't open HTTP socket"},
    {MSG_HTTP_BIND, "Upgrade Failed: Can't bind HTTP socket"},
    {MSG_TFTP_MALLOC, "Upgrade Failed: Can't malloc for TFTP listener"},
    {MSG_TFTP_SOCKET, "Upgrade Failed: Can't create TFTP listener socket"},
    {MSG_TFTP_BIND, "Upgrade Failed: Can't bind TFTP listener socket"},
    {MSG_SESSION_MALLOC, "Upgrade Failed: Can't malloc for TFTP session"},
    {MSG_UPLOAD_INCOMPLETE, "Upgrade Failed: Firmware Upload Incomplete"},
    {MSG_VERSION_MISMATCH, "Upgrade Failed: Version not matching"},
    {MSG_INVALID_IP, "Invalid IP Address"},
    {MSG_INVALID_IP_CAPTION, "Error"},
    {MESSAGE_BOX_TEMPLATE.button, "OK"},
    {UNKNOWN_MODEL_NAME, "ODM-Product"},
    {TFTP_OPTION_TSIZE, "tsize"},
    {TFTP_OPTION_TIMEOUT, "timeout"},
};

// Each template's caption and its controls' texts in template order. The success dialogs' web
// addresses are ours (reserved example domains); an icon's text is its resource number.
struct TemplateTexts {
    int id;
    const char* caption;
    std::vector<std::string_view> controls;
};

const TemplateTexts TEMPLATES[] = {
    {139, "ZOQ-4200 Firmware Upgrade", {"Continue", "Cancel", ""}},
    {101,
     "Enter ZOQ IP Address",
     {"OK", "Cancel", "", "", "", "", "Your IP Address", "106", "IPAddress1"}},
    {305, "Dialog", {"OK", "Cancel", "", "", "", "", "Your IP Address", "286", "IPAddress1"}},
    {103,
     "Confirm Upgrade",
     {"Upgrade", "Cancel", "", "", "", "", "", "Serial Number", "MAC Address", "Software Version",
      "Hardware Version", "Product Name", ""}},
    {104, "Enter Password Information", {"OK", "Cancel", "", "", "User", "Password", ""}},
    {105, "Connecting with ZOQ", {"Cancel", "Progress1"}},
    {114, "Waiting For Firmware Download Request From ZOQ", {"", "", "Cancel"}},
    {110,
     "Uploading Firmware To ZOQ",
     {"Please do not unplug the power of your ZOQ until the Status Light stops blinking", "",
      "Cancel"}},
    {111, "ZOQ Upgrade Successful!", {"", "example.com", "", "OK"}},
    {113, "ZOQ Upgrade Successful!", {"", "example.net", "", "OK"}},
};

TEST(SystemTexts, ResHoldsEachTextByteForByte) {
    for (const NamedText& t : TEXTS) {
        EXPECT_EQ(std::string_view(t.in_res), std::string_view(t.expected));
    }
    ASSERT_EQ(all_templates().size(), std::size(TEMPLATES));
    for (const TemplateTexts& want : TEMPLATES) {
        SCOPED_TRACE(want.id);
        const DialogTemplate* t = find_template(want.id);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(std::string_view(t->caption), std::string_view(want.caption));
        ASSERT_EQ(t->controls.size(), want.controls.size());
        for (std::size_t i = 0; i < want.controls.size(); ++i) {
            EXPECT_EQ(std::string_view(t->controls[i].text), want.controls[i]) << "control " << i;
        }
    }
}

#ifdef ZOQ_PROGRAM_FILE
// The program as built: a text the compiler took apart, or one the program does not carry,
// is missing from its bytes.
TEST(SystemTexts, TheBuiltProgramCarriesEachText) {
    std::ifstream file(ZOQ_PROGRAM_FILE, std::ios::binary);
    ASSERT_TRUE(file) << ZOQ_PROGRAM_FILE;
    const std::string program{std::istreambuf_iterator<char>(file), {}};
    ASSERT_GT(program.size(), 100000u);
    std::vector<std::string_view> texts;
    for (const NamedText& t : TEXTS) texts.emplace_back(t.expected);
    for (const TemplateTexts& t : TEMPLATES) {
        texts.emplace_back(t.caption);
        texts.insert(texts.end(), t.controls.begin(), t.controls.end());
    }
    for (std::string_view text : texts) {
        if (text.empty()) continue;
        EXPECT_NE(program.find(text), std::string::npos) << "missing: " << text;
    }
}
#endif

}  // namespace
}  // namespace zoq
