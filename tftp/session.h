// SPDX-License-Identifier: MIT
// One transfer of the embedded image to the device that asked for it: option acknowledgement,
// 512-byte DATA blocks in lock-step with the device's acknowledgements, resends on silence. What
// it shows goes through TransferProgress.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/net.h"
#include "os/socket.h"
#include "ui/transfer.h"

namespace zoq {

inline constexpr std::size_t TFTP_PACKET_SIZE = 1024;
inline constexpr std::uint32_t TFTP_BLOCK_SIZE = 512;
// Empty polls of 1 ms that make one interval of silence, and the intervals before giving up.
inline constexpr unsigned TFTP_POLLS_PER_INTERVAL = 100;
inline constexpr int TFTP_RETRY_LIMIT = 30;
// Announced to the device only; the server keeps its own, much shorter, resend interval.
inline constexpr unsigned TFTP_ANNOUNCED_TIMEOUT_S = 5;

enum TftpOpcode : std::uint16_t {
    TFTP_RRQ = 1,
    TFTP_WRQ = 2,
    TFTP_DATA = 3,
    TFTP_ACK = 4,
    TFTP_ERROR = 5,
    TFTP_OACK = 6,
};

class Heartbeat;

struct TftpSession {
    // Every outgoing packet is built here and every incoming datagram lands here.
    std::array<std::uint8_t, TFTP_PACKET_SIZE> packet{};
    std::uint32_t device_ip = 0;
    std::uint16_t device_port = 0;
    int socket = INVALID_SOCKET_HANDLE;
    std::uint32_t block = 0;  // in flight; 0 while the OACK waits for its ACK
    std::uint32_t total_size = 0;
    std::uint32_t block_count = 0;  // total_size / 512 + 1: the last block is always short
    std::uint32_t bytes_acked = 0;
    std::uint32_t last_block_size = 0;
    std::uint32_t block_size = 0;  // payload of the block in flight
    // The read request carried options: the OACK goes first and ACK 0 starts the blocks.
    // Without any (RFC 1350), DATA 1 goes at once.
    bool acknowledge_options = true;
};

// How a served request ended. After Complete and Failed the progress still shows the uploading
// dialog: the restart wait goes on in it.
enum class TransferOutcome {
    Complete,   // every block acknowledged
    Failed,     // the device went silent for the retry limit
    Cancelled,  // Cancel in the waiting or uploading dialog (now destroyed)
    NoMemory,   // no room for the session: nothing was sent
};

// What one received datagram means to the session.
enum class SessionInput {
    Silence,   // nothing, or nothing the session waits for (ERROR, other opcodes, runts)
    Stranger,  // from another address or port: silence, but traced
    AckOther,  // an ACK of the device for another block: dropped without effect
    AckBlock,  // the ACK of the block in flight
};

// Classifies `received` bytes at the start of `session.packet` (a negative count is a receive
// that found nothing) sent from `ip`:`port`.
SessionInput classify_session_datagram(const TftpSession& session, long received, std::uint32_t ip,
                                       std::uint16_t port);

// Packet builders; both return the packet length. `packet` holds TFTP_PACKET_SIZE bytes.
std::size_t build_oack(std::uint8_t* packet, std::uint32_t size);
std::size_t build_data_block(std::uint8_t* packet, std::span<const std::uint8_t> payload,
                             std::uint32_t block);

// Build and send; the send result is not examined: a lost packet shows as a missing ACK.
long send_oack(int socket, std::uint8_t* packet, const sockaddr_in& destination,
               std::uint32_t size);
void send_data_block(int socket, std::uint8_t* packet, std::span<const std::uint8_t> payload,
                     std::uint32_t block, const sockaddr_in& destination);

// Fills a zeroed session for one transfer of an image of `image_size` bytes to the device at
// `device_ip`:`device_port`, on `socket`.
void tftp_session_init(TftpSession& session, std::uint32_t image_size, int socket,
                       std::uint32_t device_ip, std::uint16_t device_port,
                       bool acknowledge_options = true);

// The lock-step exchange of `image` from the first OACK to the last ACK, the retry limit or a
// Cancel. `progress` has started (its bar and title follow the ACKs; it is polled while the
// line is quiet). `heartbeat` null: the system's 1 ms beat.
TransferOutcome tftp_session_exchange(TftpSession& session, std::span<const std::uint8_t> image,
                                      TransferProgress& progress, Heartbeat* heartbeat = nullptr);

}  // namespace zoq
