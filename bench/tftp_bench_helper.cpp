// SPDX-License-Identifier: MIT
// Helper of bench/tftp_bench.sh:
//   write-image PATH   writes the embedded image to PATH (for the reference server)
//   serve NAME COUNT [ADDRESS]
//                      COUNT times: binds ADDRESS (default 127.0.0.1) from port 69 up, prints
//                      "port N" and serves one read request for NAME with the real listener and
//                      session (one warm process, as the reference server is); an address on a
//                      veth link lets a firewall trial see the utility's own traffic
//   floor RUNS         the lock-step floor: as many bare UDP round trips over loopback as one
//                      transfer of the embedded image needs, with the same datagram sizes;
//                      prints one time in milliseconds per run
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/firmware.h"
#include "app/state.h"
#include "common/clock.h"
#include "common/net.h"
#include "common/text.h"
#include "os/image.h"
#include "os/socket.h"
#include "tftp/listener.h"
#include "ui/ipv4.h"

namespace {

using namespace zoq;

constexpr std::uint32_t LOOPBACK = 0x7F000001;

int write_image(const char* path) {
    auto image = embedded_image();
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
    return f ? 0 : 1;
}

// A desktop with nobody at it: every dialog operation does nothing. The scripted toolkit of the
// tests would add its record keeping (a formatted line per title change) to the figures.
class NullToolkit final : public Toolkit {
  public:
    int dialog_box(int, DialogProc, void*) override { return 1; }
    DialogHandle create_dialog(int, DialogProc, void*) override { return 1; }
    void destroy_dialog(DialogHandle) override {}
    void end_dialog(DialogHandle, int) override {}
    void set_item_text(DialogHandle, int, std::string_view) override {}
    std::string get_item_text(DialogHandle, int) override { return {}; }
    void set_caption(DialogHandle, std::string_view) override {}
    void set_focus(DialogHandle, int) override {}
    bool get_window_rect(DialogHandle, WindowRect&) override { return false; }
    ScreenSize screen_size() override { return {1280, 1024}; }
    void move_window(DialogHandle, int, int) override {}
    void progress_set_range(DialogHandle, int, int, int) override {}
    void progress_set_pos(DialogHandle, int, int) override {}
    void list_add(DialogHandle, int, std::string_view) override {}
    void list_select(DialogHandle, int, int) override {}
    int list_selected(DialogHandle, int) override { return -1; }
    void message_box(DialogHandle, std::string_view, std::string_view) override {}
    int pump(DialogHandle, bool) override { return 0; }
    [[noreturn]] void idle() override {
        for (;;) ::pause();
    }
};

int serve(const char* name, int count, std::uint32_t address) {
    for (int i = 0; i < count; ++i) {
        NullToolkit ui;
        // The completion's restart wait passes at once; its status reads find nobody at port 80.
        FastClock clock;
        auto state = std::make_unique<UpgradeState>();
        state->instance = &ui;
        state->clock = &clock;
        load_firmware_image(*state);
        identify_model(*state);
        // curl asks from 127.0.0.1, the one device this server serves.
        state->device_ip = LOOPBACK;
        copy_text(state->device_ip_text, "127.0.0.1");
        copy_text(state->tftp_file_name, name);
        TftpListener listener;
        if (tftp_listener_bind(listener, address) != ListenerBind::Bound) return 1;
        std::printf("port %u\n", listener.port);
        std::fflush(stdout);
        TransferDialogs dialogs(ui, text_of(state->device_ip_text));
        tftp_listener_serve(
            listener, {name, state->device_ip, {state->image.data, state->image.size}}, dialogs);
    }
    return 0;
}

Socket bound_socket() {
    Socket s(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in a{};
    fill_sockaddr(LOOPBACK, 0, a);
    ::bind(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    return s;
}

std::uint16_t port_of(const Socket& s) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&a), &length);
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    return read_sockaddr(a, ip, port);
}

int floor_runs(int runs) {
    const std::uint32_t size = static_cast<std::uint32_t>(embedded_image().size());
    // The answers of one transfer: the OACK, then every DATA packet.
    std::vector<std::size_t> answers{build_oack(std::vector<std::uint8_t>(1024).data(), size)};
    for (std::uint32_t block = 1; block <= size / 512 + 1; ++block) {
        answers.push_back(4 + (block == size / 512 + 1 ? size % 512 : 512));
    }
    for (int run = 0; run < runs; ++run) {
        Socket server = bound_socket();
        Socket client = bound_socket();
        const std::uint16_t server_port = port_of(server);
        std::thread answerer([&] {
            std::uint8_t buffer[1024] = {};
            for (std::size_t length : answers) {
                sockaddr_in from{};
                socklen_t from_length = sizeof from;
                if (::recvfrom(server.fd(), buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&from), &from_length) < 0) {
                    return;
                }
                ::sendto(server.fd(), buffer, length, 0, reinterpret_cast<sockaddr*>(&from),
                         from_length);
            }
        });
        sockaddr_in to{};
        fill_sockaddr(LOOPBACK, server_port, to);
        std::uint8_t request[32] = {0, 1};
        std::uint8_t buffer[1024];
        auto start = std::chrono::steady_clock::now();
        // The read request is about as long as curl's; every later one is a 4-byte ACK.
        std::size_t request_length = 30;
        for (std::size_t i = 0; i < answers.size(); ++i) {
            ::sendto(client.fd(), request, request_length, 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
            ::recv(client.fd(), buffer, sizeof buffer, 0);
            request_length = 4;
        }
        auto elapsed = std::chrono::steady_clock::now() - start;
        answerer.join();
        std::printf("%.3f\n", std::chrono::duration<double, std::milli>(elapsed).count());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "write-image") == 0) return write_image(argv[2]);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "serve") == 0) {
        std::uint32_t address = LOOPBACK;
        if (argc == 5) {
            const Ipv4Parse parsed = parse_ipv4(argv[4]);
            if (parsed.result != Ipv4Result::Ok) {
                std::fprintf(stderr, "not an IPv4 address: %s\n", argv[4]);
                return 2;
            }
            address = parsed.address;
        }
        return serve(argv[2], std::atoi(argv[3]), address);
    }
    if (argc == 3 && std::strcmp(argv[1], "floor") == 0) return floor_runs(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: %s write-image PATH | serve NAME COUNT [ADDRESS] | floor RUNS\n",
                 argv[0]);
    return 2;
}
