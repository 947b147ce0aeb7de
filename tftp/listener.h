// SPDX-License-Identifier: MIT
// The PC side of the firmware download: the UDP socket on port 69 or the next free one, and the
// loop that waits for the device's read request and serves it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/net.h"
#include "os/socket.h"
#include "tftp/session.h"

namespace zoq {

inline constexpr std::uint16_t TFTP_FIRST_PORT = 69;
// Ports 69 to 168: the hundredth failed bind gives up.
inline constexpr int TFTP_BIND_ATTEMPTS = 100;
// The waiting dialog's activity bar runs 0 to 999 and starts again.
inline constexpr int TFTP_ACTIVITY_STEPS = 1000;

struct TftpListener {
    std::uint32_t local_ip = 0;
    std::uint16_t port = 0;
    Socket socket;
    std::array<std::uint8_t, TFTP_PACKET_SIZE> rx_buffer{};
    // The transfer's 1 ms beat; null means the system's. Tests set their own.
    Heartbeat* heartbeat = nullptr;
};

// What the listener serves and to whom: the image under its name, to the device the user named.
struct TftpOffer {
    std::string_view file_name;
    std::uint32_t device_ip = 0;
    std::span<const std::uint8_t> image;
};

enum class ListenerBind { Bound, NoSocket, NoPort };

class PortBinder;

// Creates the socket and binds it on `local_ip`, port 69 upwards, through `binder` (null: one
// that looks for the bind helper where the program is installed).
ListenerBind tftp_listener_bind(TftpListener& listener, std::uint32_t local_ip,
                                PortBinder* binder = nullptr);

// What one datagram means to the waiting listener.
enum class ListenerInput {
    Silence,   // nothing, an empty datagram, or one too short to carry an opcode
    Serve,     // a read request for the expected name, from the device
    BadName,   // a read request for any other name, or one whose name is not terminated
    Stranger,  // a read request from any other address than the device's, whatever its name
    Wrq,
    Data,
    Ack,
    Error,
    Other,  // any other opcode: dropped without a trace
};

struct ListenerDispatch {
    ListenerInput input = ListenerInput::Silence;
    // The requested name of a read request, within the received bytes (no terminator).
    std::string_view requested_name;
    // The read request carries at least one option after its mode: it is answered with the
    // OACK; a plain RFC 1350 request gets DATA 1 at once.
    bool options = false;
};

// Classifies one received datagram (empty: a receive that found nothing) sent from
// `sender_ip`; never reads beyond it.
ListenerDispatch classify_listener_datagram(std::span<const std::uint8_t> datagram,
                                            std::string_view expected_name, std::uint32_t sender_ip,
                                            std::uint32_t device_ip);

// The waiting and the polling loop; serves the first read request for `offer.file_name` from
// `offer.device_ip` on this thread and returns when its transfer is over (`progress` then still
// shows the uploading dialog after Complete and Failed), or when the user cancels the waiting.
TransferOutcome tftp_listener_serve(TftpListener& listener, const TftpOffer& offer,
                                    TransferProgress& progress);

}  // namespace zoq
