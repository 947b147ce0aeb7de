// SPDX-License-Identifier: MIT
// Arbitrary datagrams into the listener's dispatch and the session's receive step. The first
// input byte picks the sender (the device or a stranger) and the block in flight; the rest is
// the datagram, copied into a buffer of exactly its length for the listener.
#include <cstdint>
#include <cstring>
#include <memory>

#include "tftp/listener.h"
#include "tftp/session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zoq;
    std::uint8_t selector = size > 0 ? data[0] : 0;
    const std::uint8_t* datagram = size > 0 ? data + 1 : data;
    std::size_t length = size > 0 ? size - 1 : 0;
    if (length > TFTP_PACKET_SIZE) length = TFTP_PACKET_SIZE;

    auto exact = std::make_unique<std::uint8_t[]>(length ? length : 1);
    if (length) std::memcpy(exact.get(), datagram, length);
    const std::uint32_t sender = (selector & 1) ? 0x7F000003 : 0x7F000002;
    ListenerDispatch d =
        classify_listener_datagram({exact.get(), length}, "/zoq1a2b.bi1", sender, 0x7F000002);
    if (d.input == ListenerInput::Serve || d.input == ListenerInput::BadName) {
        // The name must lie inside the received bytes.
        const auto* begin = reinterpret_cast<const std::uint8_t*>(d.requested_name.data());
        if (begin < exact.get() + 2 || begin + d.requested_name.size() > exact.get() + length) {
            __builtin_trap();
        }
    } else if (!d.requested_name.empty() || d.options) {
        __builtin_trap();
    }

    TftpSession s;
    s.device_ip = 0x7F000002;
    s.device_port = 4000;
    s.block = selector >> 1;
    build_data_block(s.packet.data(), {}, s.block);
    if (length) std::memcpy(s.packet.data(), datagram, length);
    SessionInput input = classify_session_datagram(s, static_cast<long>(length), sender, 4000);
    // Nothing shorter than a whole ACK header may ever acknowledge a block.
    if (input == SessionInput::AckBlock && length < 4) __builtin_trap();
    return 0;
}
