// SPDX-License-Identifier: MIT
#include "tools/sim/tftp_client.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

#include "common/net.h"
#include "common/text.h"
#include "os/socket.h"

namespace zoq::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t BLOCK = 512;
constexpr unsigned OPCODE_RRQ = 1;
constexpr unsigned OPCODE_DATA = 3;
constexpr unsigned OPCODE_ACK = 4;
constexpr unsigned OPCODE_ERROR = 5;
constexpr unsigned OPCODE_OACK = 6;
// Resent server packets and dropped acknowledgements are counted; only the first few are told
// one by one, so that a faulty run stays readable.
constexpr unsigned TOLD_ONE_BY_ONE = 5;
// After the last block the client lingers (RFC 1350's "dallying") to answer a resent last
// block whose acknowledgement was lost.
constexpr unsigned DALLY_MS = 1000;

std::string printable(const std::uint8_t* p, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n && s.size() < 100; ++i) {
        s.push_back(p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '?');
    }
    return s;
}

class Download {
  public:
    Download(const DownloadPlan& plan, const TftpBehaviour& b, std::span<const std::uint8_t> exp,
             Output& out, int stop_fd)
        : plan_(plan),
          b_(b),
          expected_(exp),
          out_(out),
          stop_fd_(stop_fd),
          to_server_(b.net, b.net.from_device, b.net.seed),
          from_server_(b.net, b.net.to_device, b.net.seed ^ 0xA5A5A5A5A5A5A5A5ull) {}

    DownloadResult run();

  private:
    bool open_socket(Socket& s, std::uint32_t& ip, std::uint16_t& port);
    void send_to(const Socket& s, const std::vector<std::uint8_t>& packet, std::uint16_t port);
    static std::vector<std::uint8_t> ack_packet(unsigned block);
    void acknowledge_new(unsigned block);
    void resend_last();
    void on_oack(const std::uint8_t* p, std::size_t n);
    void on_data(const std::uint8_t* p, std::size_t n);
    void on_datagram(const std::uint8_t* p, std::size_t n, std::uint32_t ip, std::uint16_t port);
    void flush_to_server(Clock::time_point now);
    void deliver_due(Clock::time_point now, Clock::time_point& last_heard);
    void drain_to_server();
    void finish();

    const DownloadPlan& plan_;
    const TftpBehaviour& b_;
    std::span<const std::uint8_t> expected_;
    Output& out_;
    int stop_fd_;
    // The bad network, when asked for: what the device sends and what reaches it.
    DatagramLane to_server_;
    DatagramLane from_server_;
    Clock::time_point started_{};
    Clock::time_point last_block_at_{};

    Socket sock_;
    Socket stray_;
    std::uint16_t tid_ = 0;  // the server's port, from its first answer
    std::vector<std::uint8_t> last_packet_;
    unsigned timeout_ms_ = 5000;
    std::uint32_t next_block_ = 1;  // full counter; the wire carries its low 16 bits
    bool oack_seen_ = false;
    bool done_ = false;
    bool failed_ = false;
    bool stopped_acking_ = false;
    bool stray_sent_ = false;
    std::optional<unsigned> stray_pending_;
    std::optional<unsigned long long> tsize_;
    std::optional<std::size_t> mismatch_at_;
    unsigned silent_rounds_ = 0;
    unsigned acks_sent_ = 0;
    unsigned acks_dropped_ = 0;
    unsigned data_again_ = 0;
    unsigned late_blocks_ = 0;
    DownloadResult result_;
};

bool Download::open_socket(Socket& s, std::uint32_t& ip, std::uint16_t& port) {
    s = Socket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (!s.valid()) return false;
    sockaddr_in addr{};
    fill_sockaddr(plan_.own_ip, 0, addr);
    if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
    socklen_t len = sizeof addr;
    if (::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return false;
    read_sockaddr(addr, ip, port);
    return true;
}

void Download::send_to(const Socket& s, const std::vector<std::uint8_t>& packet,
                       std::uint16_t port) {
    if (&s == &sock_) {
        // Through the link: it may drop, repeat, hold back or reorder the datagram.
        to_server_.offer(Datagram{packet, plan_.server_ip, port}, Clock::now());
        flush_to_server(Clock::now());
        return;
    }
    sockaddr_in to{};
    fill_sockaddr(plan_.server_ip, port, to);
    ::sendto(s.fd(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void Download::flush_to_server(Clock::time_point now) {
    for (const Datagram& d : to_server_.take_due(now)) {
        sockaddr_in to{};
        fill_sockaddr(d.ip, d.port, to);
        ::sendto(sock_.fd(), d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    }
}

void Download::deliver_due(Clock::time_point now, Clock::time_point& last_heard) {
    for (const Datagram& d : from_server_.take_due(now)) {
        bool from_server = d.ip == plan_.server_ip && (tid_ == 0 || d.port == tid_);
        on_datagram(d.bytes.data(), d.bytes.size(), d.ip, d.port);
        if (from_server) last_heard = Clock::now();
        if (failed_) return;
    }
}

void Download::drain_to_server() {
    // Datagrams the link still holds (a delayed last ACK) are on their way, not lost.
    auto limit = Clock::now() + std::chrono::seconds(2);
    while (auto due = to_server_.next_due()) {
        auto now = Clock::now();
        if (now >= limit) break;
        if (*due > now) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*due - now).count();
            pollfd stop = {stop_fd_, POLLIN, 0};
            if (::poll(&stop, stop_fd_ >= 0 ? 1 : 0, static_cast<int>(ms) + 1) > 0) break;
        }
        flush_to_server(Clock::now());
    }
}

std::vector<std::uint8_t> Download::ack_packet(unsigned block) {
    std::vector<std::uint8_t> p(4);
    put_be16(p.data(), OPCODE_ACK);
    put_be16(p.data() + 2, block & 0xFFFFu);
    return p;
}

void Download::acknowledge_new(unsigned block) {
    if (stopped_acking_) return;
    last_packet_ = ack_packet(block);
    if (b_.stop_ack_at && block == *b_.stop_ack_at) {
        stopped_acking_ = true;
        out_.line("tftp: stopped acknowledging at block %u (fault)", block);
        return;
    }
    if (b_.stray_from_other_port && !stray_sent_ && block == b_.stray_at_block) {
        stray_sent_ = true;
        std::uint32_t stray_ip = 0;
        std::uint16_t stray_port = 0;
        if (!open_socket(stray_, stray_ip, stray_port)) {
            out_.line("tftp: cannot open a second socket for the stray datagram: %s",
                      std::strerror(errno));
        } else {
            send_to(stray_, last_packet_, tid_);
            stray_pending_ = block;
            out_.line("tftp: ACK %u sent from the other port %u instead of %u (fault)", block,
                      stray_port, 0u + tid_);
            return;
        }
    }
    if (block > 0 && b_.drop_ack_every > 0 && block % b_.drop_ack_every == 0) {
        ++acks_dropped_;
        if (acks_dropped_ <= TOLD_ONE_BY_ONE) out_.line("tftp: ACK %u left out (fault)", block);
        return;
    }
    send_to(sock_, last_packet_, tid_);
    ++acks_sent_;
    if (b_.duplicate_acks) {
        send_to(sock_, last_packet_, tid_);
        ++acks_sent_;
    }
}

void Download::resend_last() {
    if (stopped_acking_ || last_packet_.empty()) return;
    send_to(sock_, last_packet_, tid_ != 0 ? tid_ : plan_.server_port);
    if (get_be16(last_packet_.data()) == OPCODE_ACK) ++acks_sent_;
}

void Download::on_oack(const std::uint8_t* p, std::size_t n) {
    if (oack_seen_ || next_block_ != 1) {
        // Our ACK 0 was lost or is late: answer the repeat as the first time.
        out_.line("tftp: OACK again");
        if (next_block_ == 1) resend_last();
        return;
    }
    oack_seen_ = true;
    std::string told;
    std::size_t i = 2;
    bool well_formed = true;
    while (i < n) {
        const void* nul1 = std::memchr(p + i, 0, n - i);
        if (!nul1) {
            well_formed = false;
            break;
        }
        std::size_t name_end = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul1) - p);
        const void* nul2 =
            name_end + 1 < n ? std::memchr(p + name_end + 1, 0, n - name_end - 1) : nullptr;
        if (!nul2) {
            well_formed = false;
            break;
        }
        std::size_t value_end =
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul2) - p);
        std::string name = printable(p + i, name_end - i);
        std::string value = printable(p + name_end + 1, value_end - name_end - 1);
        told += " " + name + "=" + value;
        unsigned long long number = 0;
        bool numeric = !value.empty() && value.size() <= 19;
        for (char c : value) {
            numeric = numeric && c >= '0' && c <= '9';
            if (numeric) number = number * 10 + static_cast<unsigned>(c - '0');
        }
        if (name == "tsize") {
            if (numeric)
                tsize_ = number;
            else
                out_.line("tftp: protocol violation: tsize value \"%s\"", value.c_str());
        } else if (name == "timeout") {
            if (!numeric || number < 1 || number > 255) {
                out_.line("tftp: protocol violation: timeout value \"%s\"", value.c_str());
            } else if (b_.timeout_ms == 0) {
                timeout_ms_ = static_cast<unsigned>(number) * 1000;
            }
        } else {
            // RFC 2347: the server may only acknowledge options the client asked for.
            out_.line("tftp: protocol violation: option \"%s\" was not requested", name.c_str());
        }
        i = value_end + 1;
    }
    if (!well_formed) out_.line("tftp: protocol violation: OACK options not NUL-terminated");
    out_.line("tftp: OACK%s", told.c_str());
    silent_rounds_ = 0;
    acknowledge_new(0);
}

void Download::on_data(const std::uint8_t* p, std::size_t n) {
    unsigned wire = get_be16(p + 2);
    std::size_t payload = n - 4;
    if (done_ || wire != (next_block_ & 0xFFFFu)) {
        if (next_block_ > 1 && wire == ((next_block_ - 1) & 0xFFFFu)) {
            ++data_again_;
            unsigned block = next_block_ - 1;
            if (stray_pending_ && *stray_pending_ == block) {
                out_.line("tftp: the server ignored the stray datagram and sent block %u again",
                          block);
                stray_pending_.reset();
            } else if (data_again_ <= TOLD_ONE_BY_ONE) {
                out_.line("tftp: block %u again", block);
            }
            // A resent block means our acknowledgement went missing: answer it again.
            resend_last();
        } else if (unsigned behind = (next_block_ - wire) & 0xFFFFu;
                   b_.net.any() && behind >= 2 && behind < 0x8000u) {
            // An older copy that the bad network held back: late, not wrong.
            ++late_blocks_;
        } else {
            out_.line("tftp: protocol violation: DATA block %u while expecting %u", wire,
                      next_block_ & 0xFFFFu);
        }
        return;
    }
    if (stray_pending_) {
        out_.line(
            "tftp: protocol violation: the server took the stray datagram as the "
            "acknowledgement of block %u",
            *stray_pending_);
        stray_pending_.reset();
    }
    if (payload > BLOCK) {
        out_.line("tftp: protocol violation: DATA block %u carries %zu bytes", wire, payload);
    }
    std::size_t offset = result_.data.size();
    if (!mismatch_at_) {
        for (std::size_t k = 0; k < payload; ++k) {
            if (offset + k >= expected_.size() || expected_[offset + k] != p[4 + k]) {
                mismatch_at_ = offset + k;
                if (offset + k >= expected_.size()) {
                    out_.line(
                        "tftp: image mismatch at offset %zu (more bytes than the %zu "
                        "expected)",
                        offset + k, expected_.size());
                } else {
                    out_.line("tftp: image mismatch at offset %zu (got 0x%02x, expected 0x%02x)",
                              offset + k, p[4 + k], expected_[offset + k]);
                }
                break;
            }
        }
    }
    result_.data.insert(result_.data.end(), p + 4, p + n);
    unsigned block = next_block_++;
    silent_rounds_ = 0;
    if (b_.progress_every > 0 && block % b_.progress_every == 0) {
        out_.line("tftp: block %u, %zu bytes", block, result_.data.size());
    }
    if (payload < BLOCK) {
        done_ = true;
        last_block_at_ = Clock::now();
        out_.line("tftp: last block %u, %zu bytes in all", block, result_.data.size());
    }
    acknowledge_new(block);
}

void Download::on_datagram(const std::uint8_t* p, std::size_t n, std::uint32_t ip,
                           std::uint16_t port) {
    if (ip != plan_.server_ip) {
        out_.line("tftp: datagram from the unknown host %s ignored", dotted(ip).c_str());
        return;
    }
    if (tid_ == 0) {
        tid_ = port;
        if (port != plan_.server_port) {
            out_.line("tftp: the server answers from port %u", 0u + port);
        }
    } else if (port != tid_) {
        // RFC 1350: a packet for another transfer gets an error and changes nothing here.
        out_.line("tftp: datagram from the unknown port %u ignored", 0u + port);
        // ERROR, code 5, the message and its NUL (the literal's own terminator).
        static constexpr char UNKNOWN_TID[] = "\0\5\0\5Unknown transfer ID";
        static_assert(OPCODE_ERROR == 5);
        std::vector<std::uint8_t> error(std::begin(UNKNOWN_TID), std::end(UNKNOWN_TID));
        send_to(sock_, error, port);
        return;
    }
    if (n < 4) {
        out_.line("tftp: protocol violation: datagram of %zu bytes", n);
        return;
    }
    unsigned opcode = get_be16(p);
    switch (opcode) {
        case OPCODE_OACK:
            on_oack(p, n);
            break;
        case OPCODE_DATA:
            on_data(p, n);
            break;
        case OPCODE_ERROR:
            out_.line("tftp: ERROR %u \"%s\" from the server", 0u + get_be16(p + 2),
                      printable(p + 4, n - 4).c_str());
            failed_ = true;
            break;
        default:
            out_.line("tftp: protocol violation: opcode %u from the server", opcode);
            break;
    }
}

DownloadResult Download::run() {
    if (b_.timeout_ms != 0) timeout_ms_ = b_.timeout_ms;
    std::uint32_t own_ip = 0;
    std::uint16_t own_port = 0;
    if (!open_socket(sock_, own_ip, own_port)) {
        out_.line("tftp: cannot open the client socket on %s: %s", dotted(plan_.own_ip).c_str(),
                  std::strerror(errno));
        finish();
        return std::move(result_);
    }
    std::vector<std::uint8_t> rrq(2);
    put_be16(rrq.data(), OPCODE_RRQ);
    for (std::string_view part :
         {std::string_view(plan_.file), std::string_view("octet"), std::string_view("tsize"),
          std::string_view("0"), std::string_view("timeout"), std::string_view("5")}) {
        rrq.insert(rrq.end(), part.begin(), part.end());
        rrq.push_back(0);
    }
    last_packet_ = rrq;
    started_ = Clock::now();
    send_to(sock_, rrq, plan_.server_port);
    // The address as the socket holds it: a device fetches from its own address, never from
    // whatever the route would pick.
    out_.line("tftp: RRQ sent to %s:%u file %s mode octet tsize 0 timeout 5 from %s:%u",
              dotted(plan_.server_ip).c_str(), 0u + plan_.server_port, plan_.file.c_str(),
              dotted(own_ip).c_str(), 0u + own_port);

    std::uint8_t buffer[2048];
    auto last_heard = Clock::now();
    while (!failed_) {
        flush_to_server(Clock::now());
        deliver_due(Clock::now(), last_heard);
        if (failed_) break;
        unsigned wait_ms = done_ ? (timeout_ms_ < DALLY_MS ? timeout_ms_ : DALLY_MS) : timeout_ms_;
        auto now = Clock::now();
        auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - last_heard).count();
        if (elapsed >= wait_ms) {
            if (done_) break;
            if (++silent_rounds_ > b_.retries) {
                out_.line("tftp: gave up after %u silent time-outs of %u ms", b_.retries,
                          timeout_ms_);
                break;
            }
            if (!stopped_acking_) {
                out_.line("tftp: nothing for %u ms, sending the last packet again", timeout_ms_);
            }
            resend_last();
            last_heard = Clock::now();
            continue;
        }
        long long poll_ms = static_cast<long long>(wait_ms) - elapsed;
        for (const auto& due : {to_server_.next_due(), from_server_.next_due()}) {
            if (!due) continue;
            long long until =
                std::chrono::duration_cast<std::chrono::milliseconds>(*due - now).count() + 1;
            poll_ms = std::max(0ll, std::min(poll_ms, until));
        }
        pollfd fds[2] = {{sock_.fd(), POLLIN, 0}, {stop_fd_, POLLIN, 0}};
        int r = ::poll(fds, stop_fd_ >= 0 ? 2 : 1, static_cast<int>(poll_ms));
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        if (stop_fd_ >= 0 && (fds[1].revents & POLLIN)) {
            result_.interrupted = true;
            out_.line("tftp: interrupted");
            break;
        }
        if (!(fds[0].revents & POLLIN)) continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(sock_.fd(), buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) continue;
        Datagram d;
        d.bytes.assign(buffer, buffer + n);
        read_sockaddr(from, d.ip, d.port);
        from_server_.offer(std::move(d), Clock::now());
    }
    if (!result_.interrupted) drain_to_server();
    finish();
    return std::move(result_);
}

void Download::finish() {
    out_.line("tftp: acknowledgements sent %u, left out %u, blocks received again %u", acks_sent_,
              acks_dropped_, data_again_);
    if (b_.net.any()) {
        out_.line("tftp: network to the PC: %s", describe(to_server_.counts()).c_str());
        out_.line("tftp: network to the device: %s; older blocks that came late %u",
                  describe(from_server_.counts()).c_str(), late_blocks_);
    }
    if (started_ != Clock::time_point{}) {
        // From the read request to the last block; the dallying after it is not the transfer.
        auto end = done_ ? last_block_at_ : Clock::now();
        out_.line(
            "tftp: transfer time %lld ms",
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - started_).count()));
    }
    std::size_t got = result_.data.size();
    if (!done_) {
        out_.line("tftp: incomplete: %zu bytes in %u blocks", got, next_block_ - 1);
        result_.outcome = DownloadOutcome::Incomplete;
        return;
    }
    result_.outcome = DownloadOutcome::Ok;
    if (tsize_ && *tsize_ != got) {
        out_.line("tftp: protocol violation: tsize %llu but %zu bytes sent", *tsize_, got);
        result_.outcome = DownloadOutcome::Mismatch;
    }
    if (mismatch_at_) {
        result_.outcome = DownloadOutcome::Mismatch;
    } else if (got != expected_.size()) {
        out_.line("tftp: image mismatch at offset %zu (the image ends after %zu of %zu bytes)", got,
                  got, expected_.size());
        result_.outcome = DownloadOutcome::Mismatch;
    }
    if (result_.outcome == DownloadOutcome::Ok) {
        out_.line("tftp: image verified, %zu bytes", got);
    }
}

}  // namespace

const char* outcome_name(DownloadOutcome outcome) {
    switch (outcome) {
        case DownloadOutcome::Ok:
            return "ok";
        case DownloadOutcome::Mismatch:
            return "mismatch";
        case DownloadOutcome::Incomplete:
            return "incomplete";
    }
    return "?";
}

DownloadResult tftp_download(const DownloadPlan& plan, const TftpBehaviour& behaviour,
                             std::span<const std::uint8_t> expected, Output& out, int stop_fd) {
    Download download(plan, behaviour, expected, out, stop_fd);
    return download.run();
}

}  // namespace zoq::sim
