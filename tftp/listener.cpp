// SPDX-License-Identifier: MIT
#include "tftp/listener.h"

#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "common/text.h"
#include "common/trace.h"
#include "os/bind_helper.h"
#include "os/privileges.h"

namespace zoq {

// The bind helper serves exactly the ports this search tries.
static_assert(BIND_HELPER_FIRST_PORT == TFTP_FIRST_PORT &&
              BIND_HELPER_LAST_PORT == TFTP_FIRST_PORT + TFTP_BIND_ATTEMPTS - 1);

ListenerBind tftp_listener_bind(TftpListener& listener, std::uint32_t local_ip,
                                PortBinder* binder) {
    Socket socket(open_udp_socket());
    if (!socket.valid()) return ListenerBind::NoSocket;
    // A helper started for this search ends with it, before any dialog opens.
    std::optional<PortBinder> own;
    PortBinder& ports = binder ? *binder : own.emplace();
    std::uint16_t port = TFTP_FIRST_PORT;
    for (int failures = 0;;) {
        const PortBind bound = ports.bind(socket, local_ip, port);
        if (bound.outcome == PortBindOutcome::Bound) break;
        // The reason does not change what happens next, but it tells a user without the
        // capability (EACCES) from one whose ports are all taken (EADDRINUSE).
        trace("TFTP bind port %u: %s\n", static_cast<unsigned>(port), error_name(bound.error));
        if (++failures >= TFTP_BIND_ATTEMPTS) return ListenerBind::NoPort;
        ++port;
    }
    listener.local_ip = local_ip;
    listener.port = port;
    listener.socket = std::move(socket);
    return ListenerBind::Bound;
}

ListenerDispatch classify_listener_datagram(std::span<const std::uint8_t> datagram,
                                            std::string_view expected_name, std::uint32_t sender_ip,
                                            std::uint32_t device_ip) {
    ListenerDispatch result;
    if (datagram.size() < 2) return result;
    const std::uint8_t* data = datagram.data();
    const std::size_t length = datagram.size();
    switch (get_be16(data)) {
        case TFTP_RRQ: {
            // The image goes to the device the user named and to nobody else: on a shared LAN
            // any host can ask for every name the generator makes in under a second.
            if (sender_ip != device_ip) {
                result.input = ListenerInput::Stranger;
                return result;
            }
            const char* name = reinterpret_cast<const char*>(data + 2);
            const void* end = std::memchr(name, '\0', length - 2);
            if (!end) {
                // No terminator inside the datagram: whatever follows is not ours to read.
                result.input = ListenerInput::BadName;
                result.requested_name = std::string_view(name, length - 2);
                return result;
            }
            result.requested_name = std::string_view(
                name, static_cast<std::size_t>(static_cast<const char*>(end) - name));
            result.input = result.requested_name == expected_name ? ListenerInput::Serve
                                                                  : ListenerInput::BadName;
            // Options follow the mode string; an unterminated mode carries none. A client that
            // asked for none (tftp-hpa's) ignores an OACK and times out.
            const char* mode = static_cast<const char*>(end) + 1;
            const char* const stop = reinterpret_cast<const char*>(data + length);
            const void* mode_end =
                mode < stop ? std::memchr(mode, '\0', static_cast<std::size_t>(stop - mode))
                            : nullptr;
            const char* option = mode_end ? static_cast<const char*>(mode_end) + 1 : stop;
            result.options = option < stop && *option != '\0';
            return result;
        }
        case TFTP_WRQ:
            result.input = ListenerInput::Wrq;
            return result;
        case TFTP_DATA:
            result.input = ListenerInput::Data;
            return result;
        case TFTP_ACK:
            result.input = ListenerInput::Ack;
            return result;
        case TFTP_ERROR:
            result.input = ListenerInput::Error;
            return result;
        default:
            result.input = ListenerInput::Other;
            return result;
    }
}

TransferOutcome tftp_listener_serve(TftpListener& listener, const TftpOffer& offer,
                                    TransferProgress& progress) {
    progress.start_waiting(TFTP_ACTIVITY_STEPS);
    const int fd = listener.socket.fd();
    set_non_blocking(fd);
    const std::string_view expected = offer.file_name;
    int activity = 0;
    for (;;) {
        sockaddr_in from{};
        long received =
            receive_datagram(fd, listener.rx_buffer.data(), listener.rx_buffer.size(), from);
        const std::span<const std::uint8_t> datagram(
            listener.rx_buffer.data(), received > 0 ? static_cast<std::size_t>(received) : 0);
        std::uint32_t cip = 0;
        std::uint16_t cport = 0;
        if (received > 0) read_sockaddr(from, cip, cport);
        ListenerDispatch dispatch =
            classify_listener_datagram(datagram, expected, cip, offer.device_ip);
        switch (dispatch.input) {
            case ListenerInput::Silence:
                // Wait on the socket rather than sleep, so that a request is taken at once.
                wait_readable(fd, 1);
                if (++activity >= TFTP_ACTIVITY_STEPS) activity = 0;
                if (progress.poll_waiting(activity)) {
                    return TransferOutcome::Cancelled;
                }
                break;
            case ListenerInput::Serve:
            case ListenerInput::BadName: {
                const int name_length = static_cast<int>(dispatch.requested_name.size());
                trace("%.*s %.*s\n", static_cast<int>(expected.size()), expected.data(),
                      name_length, dispatch.requested_name.data());
                if (dispatch.input == ListenerInput::BadName) {
                    trace("+++ Bad TFTP RRQ filename %.*s\n", name_length,
                          dispatch.requested_name.data());
                    break;
                }
                progress.finish_waiting();
                std::unique_ptr<TftpSession> session(new (std::nothrow) TftpSession{});
                if (!session) return TransferOutcome::NoMemory;
                tftp_session_init(*session, static_cast<std::uint32_t>(offer.image.size()), fd, cip,
                                  cport, dispatch.options);
                progress.start(session->block_count);
                return tftp_session_exchange(*session, offer.image, progress, listener.heartbeat);
            }
            case ListenerInput::Stranger:
                trace("+++ TFTP RRQ from %x:%u, not the device; dropped\n", cip,
                      static_cast<unsigned>(cport));
                break;
            case ListenerInput::Wrq:
                trace("TFTP Rx WRQ?\n");
                break;
            case ListenerInput::Data:
                trace("TFTP Rx Data?\n");
                break;
            case ListenerInput::Ack:
                trace("TFTP Rx ACK?\n");
                break;
            case ListenerInput::Error:
                trace("TFTP Rx Error?\n");
                break;
            case ListenerInput::Other:
                break;
        }
    }
}

}  // namespace zoq
