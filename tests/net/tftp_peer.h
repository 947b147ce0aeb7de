// SPDX-License-Identifier: MIT
// A raw UDP peer for the TFTP tests: sends the bytes a device would send and hands back every
// datagram as it arrived, with its sender. Loopback only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/net.h"
#include "os/socket.h"
#include "tests/support/sockets.h"

namespace zoq::test {

inline constexpr std::uint32_t LOOPBACK_PC = 0x7F000001;      // 127.0.0.1
inline constexpr std::uint32_t LOOPBACK_DEVICE = 0x7F000002;  // 127.0.0.2

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes ack_packet(unsigned block) {
    Bytes b(4);
    put_be16(b.data(), 4);
    put_be16(b.data() + 2, block);
    return b;
}

// A read request: opcode 1, the name, then NUL-terminated mode and option strings.
inline Bytes rrq_packet(std::string_view name, const std::vector<std::string>& tail = {"octet"}) {
    // Built as a string first: g++ 12 misreads a vector insert behind a two-byte start.
    std::string text("\0\1", 2);
    text.append(name);
    text.push_back('\0');
    for (const auto& s : tail) {
        text.append(s);
        text.push_back('\0');
    }
    return Bytes(text.begin(), text.end());
}

// The option acknowledgement the server must send for an image of `size` bytes.
inline Bytes expected_oack(std::uint32_t size) {
    Bytes b{0, 6};
    for (const std::string& s :
         {std::string("tsize"), std::to_string(size), std::string("timeout"), std::string("5")}) {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
    }
    return b;
}

struct Datagram {
    Bytes bytes;
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    unsigned opcode() const { return bytes.size() >= 2 ? get_be16(bytes.data()) : 0u; }
    unsigned block() const { return bytes.size() >= 4 ? get_be16(bytes.data() + 2) : 0u; }
};

class UdpPeer {
  public:
    // Binds on `ip`, port `port` (0: any free one).
    explicit UdpPeer(std::uint32_t ip, std::uint16_t port = 0) : socket_(open_udp_socket()) {
        sockaddr_in a{};
        fill_sockaddr(ip, port, a);
        bound_ = bind_socket(socket_.fd(), a);
        test::socket_local_address(socket_.fd(), a);
        std::uint32_t host = 0;
        read_sockaddr(a, host, port_);
    }
    bool bound() const { return bound_; }
    std::uint16_t port() const { return port_; }
    int fd() const { return socket_.fd(); }

    void send(std::uint32_t ip, std::uint16_t port, const Bytes& bytes) const {
        sockaddr_in a{};
        fill_sockaddr(ip, port, a);
        send_datagram(socket_.fd(), bytes.data(), bytes.size(), a);
    }
    // The next datagram, or nothing after `timeout_ms`.
    std::optional<Datagram> receive(int timeout_ms) const {
        if (!wait_readable(socket_.fd(), timeout_ms)) return std::nullopt;
        Datagram d;
        d.bytes.resize(65536);
        sockaddr_in a{};
        long n = receive_datagram(socket_.fd(), d.bytes.data(), d.bytes.size(), a);
        if (n < 0) return std::nullopt;
        d.bytes.resize(static_cast<std::size_t>(n));
        read_sockaddr(a, d.ip, d.port);
        return d;
    }

  private:
    Socket socket_;
    bool bound_ = false;
    std::uint16_t port_ = 0;
};

}  // namespace zoq::test
