// SPDX-License-Identifier: MIT
#include "tftp/session.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>

#include "common/text.h"
#include "common/trace.h"
#include "os/heartbeat.h"
#include "res/short_texts.h"
#include "res/templates.h"
#include "ui/helpers.h"

namespace zoq {
namespace {

// Appends a NUL-terminated token; the OACK never comes near the buffer's end.
std::size_t append_token(std::uint8_t* packet, std::size_t at, std::string_view token) {
    std::memcpy(packet + at, token.data(), token.size());
    packet[at + token.size()] = 0;
    return at + token.size() + 1;
}

// "Uploading %s Firmware to ZOQ@%s %d/%d Bytes" in the 128-character title buffer. The title
// changes with every ACK: formatting it whole each time cost as much as the block's system
// calls, so the fixed part is formatted once and only the two counts are written per ACK.
class ProgressTitle {
  public:
    explicit ProgressTitle(std::string_view device_ip_text) {
        prefix_ = copy_text(text_,
                            format("Uploading %s Firmware to ZOQ@%.*s ", "Target",
                                   static_cast<int>(device_ip_text.size()), device_ip_text.data()));
    }
    std::string_view with_counts(std::uint32_t acked, std::uint32_t total) {
        char* const end = text_.data() + text_.size() - 1;  // the terminator always fits
        char* at = text_.data() + prefix_;
        auto put = [&](std::string_view s) {
            std::size_t n = std::min<std::size_t>(s.size(), static_cast<std::size_t>(end - at));
            std::memcpy(at, s.data(), n);
            at += n;
        };
        char digits[16];
        put({digits,
             static_cast<std::size_t>(std::to_chars(digits, digits + 16, acked).ptr - digits)});
        put("/");
        put({digits,
             static_cast<std::size_t>(std::to_chars(digits, digits + 16, total).ptr - digits)});
        put(" Bytes");
        *at = '\0';
        return {text_.data(), static_cast<std::size_t>(at - text_.data())};
    }

  private:
    Text<128> text_{};
    std::size_t prefix_ = 0;
};

long send_packet(int socket, const std::uint8_t* packet, std::size_t length,
                 const sockaddr_in& destination) {
    return send_datagram(socket, packet, length, destination);
}

}  // namespace

SessionInput classify_session_datagram(const TftpSession& session, long received, std::uint32_t ip,
                                       std::uint16_t port) {
    if (received < 1) return SessionInput::Silence;
    if (ip != session.device_ip || port != session.device_port) return SessionInput::Stranger;
    // A runt is never an ACK: its missing bytes would be read from our own last DATA packet,
    // still in the buffer, and could acknowledge a block the device never received.
    if (received < 4) return SessionInput::Silence;
    if (get_be16(session.packet.data()) != TFTP_ACK) return SessionInput::Silence;
    return get_be16(session.packet.data() + 2) == session.block ? SessionInput::AckBlock
                                                                : SessionInput::AckOther;
}

std::size_t build_oack(std::uint8_t* packet, std::uint32_t size) {
    put_be16(packet, TFTP_OACK);
    std::size_t at = 2;
    at = append_token(packet, at, short_text(TFTP_OPTION_TSIZE));
    at = append_token(packet, at, format("%u", size));
    at = append_token(packet, at, short_text(TFTP_OPTION_TIMEOUT));
    return append_token(packet, at, format("%u", TFTP_ANNOUNCED_TIMEOUT_S));
}

std::size_t build_data_block(std::uint8_t* packet, std::span<const std::uint8_t> payload,
                             std::uint32_t block) {
    put_be16(packet, TFTP_DATA);
    put_be16(packet + 2, block);
    if (!payload.empty()) std::memcpy(packet + 4, payload.data(), payload.size());
    return 4 + payload.size();
}

long send_oack(int socket, std::uint8_t* packet, const sockaddr_in& destination,
               std::uint32_t size) {
    return send_packet(socket, packet, build_oack(packet, size), destination);
}

void send_data_block(int socket, std::uint8_t* packet, std::span<const std::uint8_t> payload,
                     std::uint32_t block, const sockaddr_in& destination) {
    send_packet(socket, packet, build_data_block(packet, payload, block), destination);
}

void tftp_session_init(const UpgradeState& state, TftpSession& session, int socket,
                       std::uint32_t local_ip, std::uint16_t local_port, std::uint32_t device_ip,
                       std::uint16_t device_port, std::string_view file_name,
                       bool acknowledge_options) {
    session.socket = socket;
    session.acknowledge_options = acknowledge_options;
    session.local_ip = local_ip;
    session.local_port = local_port;
    session.device_ip = device_ip;
    session.device_port = device_port;
    copy_text(session.file_name, file_name);
    session.block = 0;
    session.bytes_acked = 0;
    session.block_size = 0;
    session.total_size = state.image.size;
    session.block_count = session.total_size / TFTP_BLOCK_SIZE + 1;
    session.last_block_size = session.total_size % TFTP_BLOCK_SIZE;
    trace("++++size %u, %u, %u\n", session.total_size, session.last_block_size,
          session.block_count);
}

TransferOutcome tftp_session_exchange(UpgradeState& state, TftpSession& session,
                                      TransferDialog& uploading) {
    Toolkit& ui = *state.instance;
    const DialogHandle dialog = uploading.handle;
    set_non_blocking(session.socket);
    sockaddr_in destination{};
    fill_sockaddr(session.device_ip, session.device_port, destination);

    ProgressTitle title(text_of(state.device_ip_text));
    std::unique_ptr<Heartbeat> system_heartbeat;
    Heartbeat* heartbeat = state.heartbeat;
    if (heartbeat == nullptr) {
        system_heartbeat = make_system_heartbeat();
        heartbeat = system_heartbeat.get();
    }
    const std::span<const std::uint8_t> image(state.image.data, state.image.size);
    std::uint32_t offset = 0;  // of the block in flight in the image
    // The block in flight is acknowledged (block 0: the OACK, or the plain request itself):
    // the bar and title follow, and the next block goes out. True after the last block.
    auto advance = [&] {
        ++session.block;
        session.bytes_acked += session.block_size;
        ui.progress_set_pos(dialog, IDC_PROGRESS, static_cast<int>(session.block));
        ui.set_caption(dialog, title.with_counts(session.bytes_acked, session.total_size));
        if (session.block > session.block_count) {
            trace("All blocks ack'd\n");
            return true;
        }
        session.block_size =
            session.block == session.block_count ? session.last_block_size : TFTP_BLOCK_SIZE;
        offset = session.block == 1 ? 0 : offset + TFTP_BLOCK_SIZE;
        send_data_block(session.socket, session.packet.data(),
                        image.subspan(offset, session.block_size), session.block, destination);
        trace("Send block %u (%u)\n", session.block, session.block_size);
        return false;
    };
    if (session.acknowledge_options) {
        send_oack(session.socket, session.packet.data(), destination, session.total_size);
    } else {
        advance();
    }
    // Beats of silence in the current interval, and intervals since the last accepted ACK.
    unsigned ticks = 0;
    int retries = 0;
    for (;;) {
        sockaddr_in from{};
        long received = -1;
        const Wake wake = heartbeat->wait(session.socket);
        if (wake.readable) {
            received = receive_datagram(session.socket, session.packet.data(),
                                        session.packet.size(), from);
        }
        std::uint32_t ip = 0;
        std::uint16_t port = 0;
        if (received < 1) {
            ui.pump(dialog, false);
            if (uploading.cancelled) return TransferOutcome::Cancelled;
        } else {
            read_sockaddr(from, ip, port);
        }
        SessionInput input = classify_session_datagram(session, received, ip, port);
        if (input == SessionInput::Stranger) {
            trace("Unknown source request in session: %x:%u", ip, port);
        }
        if (input == SessionInput::AckBlock) {
            ticks = 0;
            retries = 0;
            if (advance()) return TransferOutcome::Complete;
            continue;
        }
        // Only the passing milliseconds advance the count, whatever arrived with them: a
        // stranger's datagram, an ERROR or a runt is silence, and a duplicate or stray ACK is
        // dropped without a resend of its own (answering duplicates would double every
        // following block, the sorcerer's apprentice), but none of them holds the beats back.
        // A late wake ends at most one interval, as a sleep that overslept is one poll.
        if (wake.beats < TFTP_POLLS_PER_INTERVAL - ticks) {
            ticks += wake.beats;
            continue;
        }
        if (++retries >= TFTP_RETRY_LIMIT) {
            trace("Timeout for ack; upgrade failed\n");
            return TransferOutcome::Failed;
        }
        // The buffer may hold a received datagram by now: rebuild the packet from the image.
        if (session.block == 0) {
            trace("ReSend option ack\n");
            send_oack(session.socket, session.packet.data(), destination, session.total_size);
        } else {
            trace("ReSend block %u\n", session.block);
            send_data_block(session.socket, session.packet.data(),
                            image.subspan(offset, session.block_size), session.block, destination);
        }
        ticks = 0;
    }
}

TransferOutcome tftp_session_transfer(UpgradeState& state, TftpSession& session,
                                      TransferDialog& dialog) {
    Toolkit& ui = *state.instance;
    dialog = TransferDialog{};
    dialog.handle = ui.create_dialog(IDD_UPLOADING, transfer_dialog_proc, &dialog);
    ui.progress_set_range(dialog.handle, IDC_PROGRESS, 0, static_cast<int>(session.block_count));
    return tftp_session_exchange(state, session, dialog);
}

Transfer tftp_session_run(UpgradeState& state, TransferDialog& dialog, int socket,
                          std::uint32_t local_ip, std::uint16_t local_port, std::uint32_t device_ip,
                          std::uint16_t device_port, std::string_view file_name,
                          bool acknowledge_options) {
    std::unique_ptr<TftpSession> session(new (std::nothrow) TftpSession{});
    if (!session) return {TransferOutcome::NoMemory, local_ip, device_ip};
    tftp_session_init(state, *session, socket, local_ip, local_port, device_ip, device_port,
                      file_name, acknowledge_options);
    return {tftp_session_transfer(state, *session, dialog), local_ip, device_ip};
}

bool transfer_dialog_proc(Toolkit& ui, DialogHandle dialog, DialogEvent event, void* context) {
    if (event.kind == EventKind::Opened) {
        center_window(ui, dialog);
        return true;
    }
    if (event.kind == EventKind::Command && event.control == ID_CANCEL) {
        ui.destroy_dialog(dialog);
        static_cast<TransferDialog*>(context)->cancelled = true;
        return true;
    }
    return false;
}

}  // namespace zoq
