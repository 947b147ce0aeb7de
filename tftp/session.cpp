// SPDX-License-Identifier: MIT
#include "tftp/session.h"

#include <cstring>
#include <memory>

#include "common/text.h"
#include "common/trace.h"
#include "os/heartbeat.h"
#include "res/short_texts.h"

namespace zoq {
namespace {

// Appends a NUL-terminated token; the OACK never comes near the buffer's end.
std::size_t append_token(std::uint8_t* packet, std::size_t at, std::string_view token) {
    std::memcpy(packet + at, token.data(), token.size());
    packet[at + token.size()] = 0;
    return at + token.size() + 1;
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
    return send_datagram(socket, packet, build_oack(packet, size), destination);
}

void send_data_block(int socket, std::uint8_t* packet, std::span<const std::uint8_t> payload,
                     std::uint32_t block, const sockaddr_in& destination) {
    send_datagram(socket, packet, build_data_block(packet, payload, block), destination);
}

void tftp_session_init(TftpSession& session, std::uint32_t image_size, int socket,
                       std::uint32_t device_ip, std::uint16_t device_port,
                       bool acknowledge_options) {
    session.socket = socket;
    session.acknowledge_options = acknowledge_options;
    session.device_ip = device_ip;
    session.device_port = device_port;
    session.block = 0;
    session.bytes_acked = 0;
    session.block_size = 0;
    session.total_size = image_size;
    session.block_count = session.total_size / TFTP_BLOCK_SIZE + 1;
    session.last_block_size = session.total_size % TFTP_BLOCK_SIZE;
    trace("++++size %u, %u, %u\n", session.total_size, session.last_block_size,
          session.block_count);
}

TransferOutcome tftp_session_exchange(TftpSession& session, std::span<const std::uint8_t> image,
                                      TransferProgress& progress, Heartbeat* heartbeat) {
    set_non_blocking(session.socket);
    sockaddr_in destination{};
    fill_sockaddr(session.device_ip, session.device_port, destination);

    std::unique_ptr<Heartbeat> system_heartbeat;
    if (heartbeat == nullptr) {
        system_heartbeat = make_system_heartbeat();
        heartbeat = system_heartbeat.get();
    }
    std::uint32_t offset = 0;  // of the block in flight in the image
    // The block in flight is acknowledged (block 0: the OACK, or the plain request itself):
    // the bar and title follow, and the next block goes out. True after the last block.
    auto advance = [&] {
        ++session.block;
        session.bytes_acked += session.block_size;
        progress.update(session.block, session.bytes_acked, session.total_size);
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
            if (progress.poll()) return TransferOutcome::Cancelled;
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

}  // namespace zoq
