// SPDX-License-Identifier: MIT
// What the firmware transfer shows while it runs: the waiting dialog with its activity bar and
// instruction, then the uploading dialog whose bar and title follow the device's ACKs (the
// restart wait goes on in it). The transfer itself sees only TransferProgress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/text.h"
#include "ui/port.h"

namespace zoq {

// How the transfer reports that it waits and serves, and learns that the user wants it
// stopped. Waiting is start_waiting, then poll_waiting until a request comes, then
// finish_waiting; serving is start, then update and poll until the last ACK or the retry limit.
// Once a poll has answered true the dialog is gone and nothing else is called.
class TransferProgress {
  public:
    virtual ~TransferProgress() = default;
    virtual void start_waiting(int activity_steps) = 0;
    // Moves the activity bar to `activity` and handles what the user did; true once they
    // asked to stop.
    virtual bool poll_waiting(int activity) = 0;
    virtual void finish_waiting() = 0;
    virtual void start(std::uint32_t block_count) = 0;
    // `block` acknowledged, `acked` of `total` bytes.
    virtual void update(std::uint32_t block, std::uint32_t acked, std::uint32_t total) = 0;
    // Handles what the user did since the last call; true once they asked to stop.
    virtual bool poll() = 0;
};

// Procedure of the waiting (114) and uploading (110) dialogs; `context` is a bool that Cancel
// sets after destroying the dialog, for the loop that pumps it to see.
bool transfer_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context);

// "Uploading %s Firmware to ZOQ@%s %d/%d Bytes" in the 128-character title buffer. The title
// changes with every ACK: formatting it whole each time cost as much as the block's system
// calls, so the fixed part is formatted once and only the two counts are written per ACK.
class ProgressTitle {
  public:
    explicit ProgressTitle(std::string_view device_ip_text);
    std::string_view with_counts(std::uint32_t acked, std::uint32_t total);

  private:
    Text<128> text_{};
    std::size_t prefix_ = 0;
};

// TransferProgress as templates 114 and 110 on the listener thread. The uploading dialog stays
// open after the transfer: the restart wait takes it over through uploading() and cancelled().
class TransferDialogs : public TransferProgress {
  public:
    TransferDialogs(Toolkit& ui, std::string_view device_ip_text)
        : ui_(ui), title_(device_ip_text) {}
    void start_waiting(int activity_steps) override;
    bool poll_waiting(int activity) override;
    void finish_waiting() override;
    void start(std::uint32_t block_count) override;
    void update(std::uint32_t block, std::uint32_t acked, std::uint32_t total) override;
    bool poll() override;

    DialogHandle uploading() const { return dialog_; }
    bool cancelled() const { return cancelled_; }

  private:
    Toolkit& ui_;
    ProgressTitle title_;
    DialogHandle dialog_ = NO_DIALOG;
    bool cancelled_ = false;
};

}  // namespace zoq
