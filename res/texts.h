// SPDX-License-Identifier: MIT
// The long texts the dialogs show, with their CR LF line breaks and double blanks as written.
#pragma once

namespace zoq {

inline constexpr const char* DEFAULT_ERROR_CAPTION = "ZOQ Firwmare Upgrade Error";

inline constexpr const char* NOTICE_WARNING_TEXT =
    "WARNING: Forcing a firmware upgrade on your ZOQ\r\n"
    "without prior approval from your service provider or\r\n"
    "network administrator may cause interruption to your\r\n"
    "service.  If your ZOQ is managed by a service\r\n"
    "provider who retains administrative control of the\r\n"
    "device, please contact the service provider for\r\n"
    "authorization before proceeding.  In such cases, the\r\n"
    "most current, approved for service firmware is\r\n"
    "automatically provided by your service provider without\r\n"
    "any onus on the end user to upgrade manually.";

inline constexpr const char* CONFIRM_INTRO_TEXT =
    "The following information was extracted\r\n"
    "from your ZOQ. Please click \"Upgrade\"\r\n"
    "if you would like to proceed. If you would\r\n"
    "like to quit click \"Cancel\".";

inline constexpr const char* ADDRESS_INTRO_TEXT =
    "This program will upgrade your ZOQ\r\nfirmware to:";

inline constexpr const char* PHONE_INSTRUCTIONS_TEXT =
    "To proceed, please provide the IP address\r\n"
    "of your ZOQ. To find out the IP address of\r\n"
    "your ZOQ, press the I button on the phone,\r\n"
    "select \"Network\" option, and check the\r\n"
    "value of \"Current IP\". For example, 10.1.0.13\r\n"
    "\r\n"
    "Please enter IP address of your ZOQ:";

inline constexpr const char* ADAPTER_INSTRUCTIONS_TEXT =
    "To proceed, please provide the IP address\r\n"
    "of your ZOQ. To find out the IP address\r\n"
    "of your ZOQ, using a telephone handset,\r\n"
    "enter * * * *, option 110#, and write down\r\n"
    "the value. For example, 10.1.0.123\r\n"
    "\r\n"
    "Please enter IP address of your ZOQ:";

inline constexpr const char* PASSWORD_EXPLANATION_TEXT =
    "This ZOQ requires a password in order to be\r\n"
    "upgraded. If you do not have administrator's\r\n"
    "privileges for this unit, please contact your\r\n"
    "Service Provider or network administrator,\r\n"
    "before proceeding.\r\n"
    "\r\n"
    "You must provide the ZOQ administrator's\r\n"
    "password to upgrade. If you are the administrator\r\n"
    "and forgot the password, you may perform a\r\n"
    "factory reset by entering * * * *, option 52614#,\r\n"
    "and value 1 from a telephone connected to the\r\n"
    "unit to be upgraded.\r\n"
    "\r\n"
    "* * * * * * * * * * *  Warning  * * * * * * * * * * *\r\n"
    "All settings will revert to default values\r\n"
    "after factory reset!  You may not be able to\r\n"
    "reestablish service after completing this upgrade\r\n"
    "without first reentering service configuration\r\n"
    "information.";

inline constexpr const char* TFTP_INSTRUCTION_TEXT =
    "Firmware upload will begin when the ZOQ is idle, where the ZOQ will request to download "
    "the firmware from this PC using TFTP at the first available UDP port starting at port "
    "number 69.\r\n"
    "\r\n"
    "If firmware download does not start, please check that you have done the following: a) "
    "Hangup properly all the phones attached to the ZOQ, b) Disable any firewall software (such "
    "as Internet Connection Firewall) on this PC, and c) Make sure that this PC and the ZOQ are "
    "on the same LAN subnet; it will not work for example if this PC is behind a router while "
    "the ZOQ is in front of it.";

inline constexpr const char* SUCCESS_TEXT =
    "Your ZOQ has been successfully\r\nupgraded to the version shown\r\nbelow.";

// Failure messages.
inline constexpr const char* MSG_WINSOCK_INIT = "Upgrade Failed: Winsock init error";
inline constexpr const char* MSG_NO_RESPONSE = "Upgrade Failed: No Response From ZOQ";
inline constexpr const char* MSG_USER_ABORT = "Upgrade Failed: User Abort";
inline constexpr const char* MSG_HTTP_OPEN = "Upgrade Failed: Can't open HTTP socket";
inline constexpr const char* MSG_HTTP_BIND = "Upgrade Failed: Can't bind HTTP socket";
inline constexpr const char* MSG_TFTP_MALLOC = "Upgrade Failed: Can't malloc for TFTP listener";
inline constexpr const char* MSG_TFTP_SOCKET = "Upgrade Failed: Can't create TFTP listener socket";
inline constexpr const char* MSG_TFTP_BIND = "Upgrade Failed: Can't bind TFTP listener socket";
inline constexpr const char* MSG_SESSION_MALLOC = "Upgrade Failed: Can't malloc for TFTP session";
inline constexpr const char* MSG_UPLOAD_INCOMPLETE = "Upgrade Failed: Firmware Upload Incomplete";
inline constexpr const char* MSG_VERSION_MISMATCH = "Upgrade Failed: Version not matching";
inline constexpr const char* MSG_INVALID_IP = "Invalid IP Address";
inline constexpr const char* MSG_INVALID_IP_CAPTION = "Error";

}  // namespace zoq
