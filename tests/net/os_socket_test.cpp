// SPDX-License-Identifier: MIT
// The system's socket calls as the core uses them, on loopback in a private network: datagrams
// and their senders, the bounded wait, non-blocking receives, a stream whose peer is gone, and
// the 1 ms beat of the transfer with a socket beside it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/net.h"
#include "os/heartbeat.h"
#include "os/socket.h"
#include "tests/support/sockets.h"

namespace zoq {
namespace {

constexpr std::uint32_t PC = 0x7F000001;      // 127.0.0.1
constexpr std::uint32_t DEVICE = 0x7F000002;  // 127.0.0.2

Socket bound_udp(std::uint32_t ip, std::uint16_t port) {
    Socket s(open_udp_socket());
    sockaddr_in a{};
    fill_sockaddr(ip, port, a);
    EXPECT_TRUE(s.valid());
    EXPECT_TRUE(bind_socket(s.fd(), a)) << "port " << port;
    return s;
}

long send_to(const Socket& from, std::uint32_t ip, std::uint16_t port, const std::string& bytes) {
    sockaddr_in to{};
    fill_sockaddr(ip, port, to);
    return send_datagram(from.fd(), bytes.data(), bytes.size(), to);
}

TEST(OsSockets, DatagramsArriveWholeWithTheirSender) {
    Socket pc = bound_udp(PC, 40069);
    Socket device = bound_udp(DEVICE, 40070);
    ASSERT_EQ(send_to(device, PC, 40069, std::string("\0\4\0\1", 4)), 4);
    ASSERT_TRUE(wait_readable(pc.fd(), 5000));
    char buffer[16];
    sockaddr_in from{};
    ASSERT_EQ(receive_datagram(pc.fd(), buffer, sizeof buffer, from), 4);
    EXPECT_EQ(std::memcmp(buffer, "\0\4\0\1", 4), 0);
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    read_sockaddr(from, ip, port);
    EXPECT_EQ(ip, DEVICE);
    EXPECT_EQ(port, 40070);

    // The reply goes back to where the request came from, and a datagram larger than the
    // buffer is cut to the buffer, never written beyond it.
    ASSERT_EQ(send_datagram(pc.fd(), "0123456789abcdefXYZ", 19, from), 19);
    ASSERT_TRUE(wait_readable(device.fd(), 5000));
    char small[9] = "________";
    sockaddr_in back{};
    receive_datagram(device.fd(), small, 8, back);
    EXPECT_EQ(std::string(small, 8), "01234567");
    EXPECT_EQ(small[8], '\0');
}

TEST(OsSockets, LocalAddressIsTheBoundOne) {
    Socket s = bound_udp(PC, 40071);
    sockaddr_in a{};
    ASSERT_TRUE(test::socket_local_address(s.fd(), a));
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    read_sockaddr(a, ip, port);
    EXPECT_EQ(ip, PC);
    EXPECT_EQ(port, 40071);
    // A second socket cannot take the same address and port.
    Socket other(open_udp_socket());
    EXPECT_FALSE(bind_socket(other.fd(), a));
}

TEST(OsSockets, WaitsAreBoundedAndNonBlockingReceivesComeBack) {
    Socket s = bound_udp(PC, 40072);
    // Nothing waiting: the wait ends by its bound, and a non-blocking receive returns at once
    // (a blocking one would hang this test until ctest's time limit).
    EXPECT_FALSE(wait_readable(s.fd(), 20));
    ASSERT_TRUE(set_non_blocking(s.fd()));
    char buffer[8];
    sockaddr_in from{};
    EXPECT_LT(receive_datagram(s.fd(), buffer, sizeof buffer, from), 0);
    Socket peer = bound_udp(DEVICE, 40073);
    ASSERT_EQ(send_to(peer, PC, 40072, "x"), 1);
    EXPECT_TRUE(wait_readable(s.fd(), 5000));
    EXPECT_EQ(receive_datagram(s.fd(), buffer, sizeof buffer, from), 1);
}

TEST(OsSockets, SendingToAStreamWhosePeerIsGoneFailsWithoutEndingTheProcess) {
    Socket listener(open_tcp_socket());
    sockaddr_in a{};
    fill_sockaddr(DEVICE, 40080, a);
    ASSERT_TRUE(bind_socket(listener.fd(), a));
    ASSERT_TRUE(test::listen_socket(listener.fd(), 4));
    Socket client(open_tcp_socket());
    ASSERT_TRUE(connect_socket(client.fd(), a));
    sockaddr_in peer{};
    {
        Socket accepted(test::accept_connection(listener.fd(), &peer));
        ASSERT_TRUE(accepted.valid());
        std::uint32_t ip = 0;
        std::uint16_t port = 0;
        read_sockaddr(peer, ip, port);
        EXPECT_EQ(ip, PC) << "the client leaves from the PC's loopback address";
        test::reset_on_close(accepted.fd());
    }
    // The peer has reset the connection: sends fail, the first with the reset and the ones after
    // it with a broken pipe, whose signal would end this test program.
    std::string block(4096, 'x');
    int failures = 0;
    for (int i = 0; i < 20; ++i) {
        if (send_stream(client.fd(), block.data(), block.size()) < 0) ++failures;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_GE(failures, 2);
    char buffer[8];
    EXPECT_LE(receive_stream(client.fd(), buffer, sizeof buffer), 0);
}

TEST(OsHeartbeat, BeatsAddUpToTheTimeThatPassed) {
    Socket s = bound_udp(PC, 40074);
    auto heartbeat = make_system_heartbeat();
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    unsigned long beats = 0;
    int wakes = 0;
    while (Clock::now() - start < std::chrono::milliseconds(300)) {
        Wake wake = heartbeat->wait(s.fd());
        EXPECT_FALSE(wake.readable);
        EXPECT_GT(wake.beats, 0u) << "a wake without a datagram must carry a beat";
        beats += wake.beats;
        ++wakes;
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // Both clocks measure the same time however loaded the machine is; the beat's clock may
    // lag the other by the one beat in progress.
    EXPECT_GE(static_cast<long long>(beats), elapsed * 9 / 10 - 2) << wakes << " wakes";
    EXPECT_LE(static_cast<long long>(beats), elapsed + 2) << wakes << " wakes";
}

TEST(OsHeartbeat, AWaitingDatagramWakesAtOnceWithTheBeatsThatPassed) {
    Socket s = bound_udp(PC, 40075);
    Socket peer = bound_udp(DEVICE, 40076);
    auto heartbeat = make_system_heartbeat();
    heartbeat->wait(s.fd());  // the beat is running
    ASSERT_EQ(send_to(peer, PC, 40075, "ack"), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Wake wake = heartbeat->wait(s.fd());
    EXPECT_TRUE(wake.readable);
    EXPECT_GE(wake.beats, 20u) << "the milliseconds slept before the wait are beats too";
    // The wait does not consume the datagram.
    char buffer[8];
    sockaddr_in from{};
    EXPECT_EQ(receive_datagram(s.fd(), buffer, sizeof buffer, from), 3);
}

}  // namespace
}  // namespace zoq
