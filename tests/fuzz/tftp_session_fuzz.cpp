// SPDX-License-Identifier: MIT
// The transfer session fed a sequence of datagrams and silent beats: the input is a script of
// what happens in each of the session's waits (the device's ACKs right, wrong, repeated or
// ahead, raw datagrams from the device or from a stranger on another port, ERROR packets, and
// beats), played through a heartbeat of the target's own, so no real time passes. Loopback
// sockets carry the datagrams. After every wait the target checks, from what the device
// received and what the user saw, that the session never sent a DATA block the device had not
// asked for, never more bytes than the image (nor other bytes), and that the byte count in the
// title never went down.
//
// The first two input bytes choose the image size (0 to 4,095 bytes); then one step per byte,
// some followed by their own bytes (see `Script::next`).
#include <poll.h>
#include <sys/socket.h>

#include <bitset>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/firmware.h"
#include "common/net.h"
#include "common/text.h"
#include "os/heartbeat.h"
#include "os/socket.h"
#include "tftp/session.h"
#include "ui/port.h"
#include "ui/transfer.h"

namespace {

using namespace zoq;

[[noreturn]] void fail(const char*) {
    __builtin_trap();
}

constexpr std::uint32_t LOOPBACK = 0x7F000001;

struct UdpSocket {
    Socket socket;
    std::uint16_t port = 0;
    UdpSocket() : socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        sockaddr_in a{};
        fill_sockaddr(LOOPBACK, 0, a);
        socklen_t length = sizeof a;
        if (::bind(socket.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&a), &length) != 0) {
            std::abort();
        }
        std::uint32_t ip = 0;
        read_sockaddr(a, ip, port);
    }
    void send_to(std::uint16_t to, const std::uint8_t* bytes, std::size_t n) const {
        sockaddr_in a{};
        fill_sockaddr(LOOPBACK, to, a);
        ::sendto(socket.fd(), bytes, n, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    // Reads and drops whatever waits.
    void drain() const {
        std::uint8_t sink[2048];
        while (::recv(socket.fd(), sink, sizeof sink, MSG_DONTWAIT) >= 0) {
        }
    }
};

// The three sockets live as long as the process: a fresh set per input would cost more than
// the exchange itself.
struct Sockets {
    UdpSocket server;
    UdpSocket device;
    UdpSocket stranger;
};
Sockets& sockets() {
    static Sockets* s = new Sockets;
    return *s;
}

// A toolkit that only keeps what the checks need: the uploading dialog's title.
class TitleToolkit final : public Toolkit {
  public:
    std::string caption;
    int captions = 0;

    int dialog_box(int, DialogProc, void*) override { return 0; }
    DialogHandle create_dialog(int, DialogProc, void*) override { return 1; }
    void destroy_dialog(DialogHandle) override {}
    void end_dialog(DialogHandle, int) override {}
    void set_item_text(DialogHandle, int, std::string_view) override {}
    std::string get_item_text(DialogHandle, int) override { return {}; }
    void set_caption(DialogHandle, std::string_view text) override {
        caption.assign(text);
        ++captions;
    }
    void set_focus(DialogHandle, int) override {}
    bool get_window_rect(DialogHandle, WindowRect&) override { return false; }
    ScreenSize screen_size() override { return {800, 600}; }
    void move_window(DialogHandle, int, int) override {}
    void progress_set_range(DialogHandle, int, int, int) override {}
    void progress_set_pos(DialogHandle, int, int) override {}
    void list_add(DialogHandle, int, std::string_view) override {}
    void list_select(DialogHandle, int, int) override {}
    int list_selected(DialogHandle, int) override { return -1; }
    void message_box(DialogHandle, std::string_view, std::string_view) override {}
    int pump(DialogHandle, bool) override { return 0; }
    [[noreturn]] void idle() override { std::abort(); }
};

// What the device has done and seen, kept by the device's own reckoning.
struct DeviceView {
    std::span<const std::uint8_t> image;
    std::bitset<65536> acked;  // block numbers the device has acknowledged
    std::uint32_t highest_data = 0;
    std::uint32_t last_title_bytes = 0;
    bool oack_seen = false;

    void check_received() {
        std::uint8_t d[2048];
        for (;;) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            long n = ::recvfrom(sockets().device.socket.fd(), d, sizeof d, MSG_DONTWAIT,
                                reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 0) return;
            if (n < 4) fail("runt from the server");
            const unsigned opcode = get_be16(d);
            if (opcode == TFTP_OACK) {
                oack_seen = true;
                continue;
            }
            if (opcode != TFTP_DATA) fail("neither OACK nor DATA");
            const std::uint32_t block = get_be16(d + 2);
            // Asked for: the device acknowledged the block before it (ACK 0 for block 1).
            if (block == 0 || !acked.test(block - 1)) fail("DATA block not asked for");
            // Lock-step: the block in flight again, or the one after it; never a jump.
            if (block != highest_data && block != highest_data + 1) fail("out of order");
            const std::size_t offset = std::size_t{block - 1} * TFTP_BLOCK_SIZE;
            const auto payload = static_cast<std::size_t>(n) - 4;
            if (payload > TFTP_BLOCK_SIZE) fail("block longer than 512 bytes");
            if (offset + payload > image.size()) fail("beyond the image");
            // Every block but the last is whole; the last is what is left.
            if (payload != std::min<std::size_t>(TFTP_BLOCK_SIZE, image.size() - offset)) {
                fail("block length");
            }
            if (payload && std::memcmp(d + 4, image.data() + offset, payload) != 0) fail("bytes");
            if (block > highest_data) highest_data = block;
        }
    }

    void check_title(const TitleToolkit& ui) {
        if (ui.captions == 0) return;
        // "Uploading Target Firmware to ZOQ@127.0.0.1 N/M Bytes"
        const std::string& t = ui.caption;
        std::size_t slash = t.rfind('/');
        std::size_t space = t.rfind(' ', slash);
        if (slash == std::string::npos || space == std::string::npos) fail("title form");
        const std::uint32_t bytes =
            static_cast<std::uint32_t>(std::strtoul(t.c_str() + space + 1, nullptr, 10));
        const std::uint32_t total =
            static_cast<std::uint32_t>(std::strtoul(t.c_str() + slash + 1, nullptr, 10));
        if (total != image.size()) fail("title total");
        if (bytes < last_title_bytes) fail("title count went down");
        if (bytes > total) fail("title count beyond the image");
        last_title_bytes = bytes;
    }
};

// The input as the session's waits. Each wait: do one step, say whether a datagram waits and
// how many beats passed. When the script is over, only whole intervals of silence follow, so
// the session ends within 30 waits.
class Script final : public Heartbeat {
  public:
    Script(std::string_view steps, DeviceView& view, TitleToolkit& ui)
        : steps_(steps), view_(view), ui_(ui) {}

    Wake wait(int socket) override {
        view_.check_received();
        view_.check_title(ui_);
        if (++waits_ > 200000) fail("the session never ends");
        Wake wake;
        wake.beats = steps_.empty() ? TFTP_POLLS_PER_INTERVAL : next();
        pollfd p{socket, POLLIN, 0};
        wake.readable = ::poll(&p, 1, 0) > 0;
        return wake;
    }

  private:
    std::uint8_t take() {
        if (steps_.empty()) return 0;
        auto b = static_cast<std::uint8_t>(steps_.front());
        steps_.remove_prefix(1);
        return b;
    }
    void device_ack(unsigned block) {
        std::uint8_t p[4];
        put_be16(p, TFTP_ACK);
        put_be16(p + 2, block);
        view_.acked.set(block & 0xFFFFu);
        sockets().device.send_to(sockets().server.port, p, sizeof p);
    }
    // One step; returns its beats.
    unsigned next() {
        const std::uint8_t op = take();
        const unsigned beats = op >> 4;  // 0 to 15
        switch (op & 7) {
            case 0: {  // silence: many beats
                return take();
            }
            case 1:  // the right ACK: of the newest block received (0 after the OACK)
                if (view_.oack_seen) device_ack(view_.highest_data);
                return beats;
            case 2: {  // an ACK of any number
                unsigned block = take() * 256u;
                block += take();
                device_ack(block);
                return beats;
            }
            case 3:    // a stranger's datagram
            case 4: {  // a raw datagram from the device
                std::size_t n = take() % 40;
                std::uint8_t raw[40];
                for (std::size_t i = 0; i < n; ++i) raw[i] = take();
                const UdpSocket& from = (op & 7) == 3 ? sockets().stranger : sockets().device;
                // A raw ACK counts as asked for, like any ACK the device sends.
                if ((op & 7) == 4 && n >= 4 && get_be16(raw) == TFTP_ACK) {
                    view_.acked.set(get_be16(raw + 2));
                }
                from.send_to(sockets().server.port, raw, n);
                return beats;
            }
            case 5:  // the previous ACK again
                if (view_.highest_data > 0) device_ack(view_.highest_data - 1);
                return beats;
            case 6: {  // an ERROR from the device
                static constexpr std::uint8_t ERROR[] = {0, 5, 0, 2, 'n', 'o', 0};
                sockets().device.send_to(sockets().server.port, ERROR, sizeof ERROR);
                return beats;
            }
            default:  // the stranger sends the right ACK from its port
                if (view_.oack_seen) {
                    std::uint8_t p[4];
                    put_be16(p, TFTP_ACK);
                    put_be16(p + 2, view_.highest_data);
                    sockets().stranger.send_to(sockets().server.port, p, sizeof p);
                }
                return beats;
        }
    }

    std::string_view steps_;
    DeviceView& view_;
    TitleToolkit& ui_;
    unsigned waits_ = 0;
};

const std::vector<std::uint8_t>& pattern() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(4096);
        for (std::size_t i = 0; i < b.size(); ++i) {
            b[i] = static_cast<std::uint8_t>(i * 31 + i / 512 + 7);
        }
        return b;
    }();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t image_size = (data[0] * 256u + data[1]) % 4096u;
    Sockets& s = sockets();
    s.server.drain();
    s.device.drain();
    s.stranger.drain();

    auto image = std::span<const std::uint8_t>(pattern()).first(image_size);
    TitleToolkit ui;
    DeviceView view;
    view.image = image;
    Script script({reinterpret_cast<const char*>(data + 2), size - 2}, view, ui);

    TftpSession session;
    tftp_session_init(session, static_cast<std::uint32_t>(image.size()), s.server.socket.fd(),
                      LOOPBACK, s.device.port);
    TransferDialogs dialogs(ui, "127.0.0.1");
    dialogs.start(session.block_count);
    const TransferOutcome outcome = tftp_session_exchange(session, image, dialogs, &script);
    view.check_received();
    view.check_title(ui);
    if (outcome == TransferOutcome::Complete) {
        // Complete only when the device acknowledged the last block, and the title says so.
        const std::uint32_t count = static_cast<std::uint32_t>(image_size / 512 + 1);
        if (!view.acked.test(count & 0xFFFFu) || view.highest_data != count) fail("complete?");
        if (view.last_title_bytes != image_size) fail("title at the end");
    }
    if (session.bytes_acked > image_size) fail("acknowledged beyond the image");
    return 0;
}
