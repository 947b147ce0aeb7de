// SPDX-License-Identifier: MIT
// What a request to the device shows while it runs: the "Connecting" dialog with its moving
// bar, and the password prompt when the device demands credentials. The request itself sees
// only RequestProgress.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/text.h"
#include "ui/port.h"

namespace zoq {

// Longest user name or password kept from the prompt.
inline constexpr std::size_t CREDENTIAL_MAX = 126;

struct Credentials {
    Text<128> username{};
    Text<128> password{};
};

// How a request reports that it runs and learns that the user wants it stopped. One attempt
// is start, then poll and update until it ends, then finish; after a stop the attempt is over
// and finish is not called.
class RequestProgress {
  public:
    virtual ~RequestProgress() = default;
    virtual void start() = 0;
    // Handles what the user did since the last call; true once they asked to stop.
    virtual bool poll() = 0;
    virtual void update(int position) = 0;  // 0 to 100
    virtual void finish() = 0;
    // The device wants credentials: fills `out`; false when the user cancels.
    virtual bool ask_credentials(Credentials& out) = 0;
};

// The progress dialog's context. Cancel destroys the dialog and sets `cancelled`; the loop
// that pumps the dialog sees it and returns.
struct ProgressDialog {
    std::string_view device_ip_text;  // in the caption
    bool cancelled = false;
};

// Template 105 ("Connecting"); context: a ProgressDialog.
bool progress_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);
// Template 104 (password prompt); context: the Credentials it fills on OK. Ends with 1 for OK,
// 0 for Cancel.
bool password_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

// RequestProgress as templates 105 and 104 on the thread that asked for the request.
class ConnectingDialogs : public RequestProgress {
  public:
    ConnectingDialogs(Toolkit& ui, std::string_view device_ip_text)
        : ui_(ui), device_ip_text_(device_ip_text) {}
    void start() override;
    bool poll() override;
    void update(int position) override;
    void finish() override;
    bool ask_credentials(Credentials& out) override;

  private:
    Toolkit& ui_;
    std::string_view device_ip_text_;
    ProgressDialog progress_;
    DialogHandle dialog_ = NO_DIALOG;
};

}  // namespace zoq
