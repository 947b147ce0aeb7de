// SPDX-License-Identifier: MIT
#include "tools/sim/device.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "app/state.h"
#include "common/text.h"

namespace zoq::sim {
namespace {

// The version a device reports after flashing an image: the text at 0x5c of its header.
std::string image_version(const std::vector<std::uint8_t>& image) {
    std::string version;
    for (std::size_t i = IMAGE_VERSION_OFFSET; i < IMAGE_HEADER_SIZE && i < image.size(); ++i) {
        if (image[i] == 0) break;
        version.push_back(static_cast<char>(image[i]));
    }
    return version;
}

std::string peer_of(const sockaddr_in& addr) {
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    read_sockaddr(addr, ip, port);
    return dotted(ip) + ":" + std::to_string(port);
}

}  // namespace

Device::Device(const SimOptions& options, std::vector<std::uint8_t> expected, Output& out,
               int stop_fd)
    : options_(options),
      expected_(std::move(expected)),
      out_(out),
      stop_fd_(stop_fd),
      digest_(options),
      http_dice_(options.net.seed ^ 0x5EEDull),
      version_(options.version) {
    in_addr addr{};
    if (::inet_pton(AF_INET, options.address.c_str(), &addr) == 1) own_ip_ = ntohl(addr.s_addr);
}

bool Device::open_listener() {
    Socket s(::socket(AF_INET, SOCK_STREAM, 0));
    int on = 1;
    sockaddr_in addr{};
    fill_sockaddr(own_ip_, options_.http_port, addr);
    if (!s.valid() || ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(s.fd(), 16) != 0) {
        int error = errno;
        out_.line("error: cannot listen on %s:%u: %s%s", options_.address.c_str(),
                  0u + options_.http_port, std::strerror(error),
                  error == EACCES ? " (ports below 1024 need root, CAP_NET_BIND_SERVICE or a "
                                    "network namespace of one's own)"
                                  : "");
        return false;
    }
    listener_ = std::move(s);
    return true;
}

bool Device::pause(unsigned ms) {
    if (ms == 0) return true;
    pollfd stop = {stop_fd_, POLLIN, 0};
    if (::poll(&stop, stop_fd_ >= 0 ? 1 : 0, static_cast<int>(ms)) > 0) {
        stopped_ = true;
        return false;
    }
    return true;
}

bool Device::answer(int fd, std::string_view data) {
    if (options_.slow_http_ms > 0) {
        // Each byte its own segment: no coalescing of the small writes.
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        for (std::size_t i = 0; i < data.size(); ++i) {
            if (!send_all(fd, data.substr(i, 1))) return false;
            if (i + 1 < data.size() && !pause(options_.slow_http_ms)) return false;
        }
        return true;
    }
    if (!options_.net_http || !options_.net.from_device || !options_.net.any()) {
        return send_all(fd, data);
    }
    constexpr std::size_t SEGMENT = 1448;  // an Ethernet segment's payload with timestamps
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::vector<unsigned> stalls =
        stream_stalls(options_.net, http_dice_, data.size(), SEGMENT, http_counts_);
    for (std::size_t k = 0; k < stalls.size(); ++k) {
        if (!pause(stalls[k])) return false;
        if (!send_all(fd, data.substr(k * SEGMENT, SEGMENT))) return false;
    }
    out_.line("http: network: %s", describe(http_counts_).c_str());
    return true;
}

void Device::finish_connection(Socket connection) {
    if (options_.never_close) {
        out_.line("http: keeping the connection open (fault)");
        held_.push_back(std::move(connection));
        return;
    }
    // Closing with unread bytes would reset the connection and could cost the client the
    // answer: end our side first, then drop whatever is left.
    ::shutdown(connection.fd(), SHUT_WR);
    char sink[512];
    while (::recv(connection.fd(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

void Device::answer_status(Socket& connection) {
    StatusValues values{options_.product, options_.mac, version_, options_.hardware,
                        options_.serial};
    answer(connection.fd(), http_answer(200, "OK", "", status_page(values)));
    out_.line("http: 200 status page, software version %s", version_.c_str());
    if (upgraded_ && options_.exit_after_upgrade) done_ = true;
}

void Device::serve(Socket connection, const std::string& peer) {
    if (options_.net_http && options_.net.to_device && options_.net.any()) {
        // The request (one segment) crosses the same bad link on its way here.
        unsigned stall = stream_stalls(options_.net, http_dice_, 1, 1, http_counts_).front();
        if (!pause(stall)) return;
    }
    std::string raw;
    ReadOutcome read =
        read_http_request(connection.fd(), options_.request_timeout_ms, stop_fd_, raw);
    if (read != ReadOutcome::Complete) {
        const char* why = read == ReadOutcome::Closed    ? "closed before a whole request"
                          : read == ReadOutcome::TooLong ? "request header too long"
                                                         : "no whole request in time";
        out_.line("http: connection from %s: %s", peer.c_str(), why);
        if (read == ReadOutcome::TooLong) {
            answer(connection.fd(), http_answer(400, "Bad Request", "", "<html>400</html>"));
        }
        return;
    }
    HttpRequest request;
    if (!parse_http_request(raw, request)) {
        out_.line("http: malformed request from %s", peer.c_str());
        answer(connection.fd(), http_answer(400, "Bad Request", "", "<html>400</html>"));
        finish_connection(std::move(connection));
        return;
    }
    out_.line("http: %s %s from %s", request.method.c_str(), request.target.c_str(), peer.c_str());
    if (options_.no_reply) {
        out_.line("http: holding the connection without an answer (fault)");
        held_.push_back(std::move(connection));
        return;
    }
    if (request.method != "GET") {
        answer(connection.fd(), http_answer(405, "Method Not Allowed", "Allow: GET\r\n",
                                            "<html>405 Method Not Allowed</html>"));
        out_.line("http: 405 for %s", request.method.c_str());
        finish_connection(std::move(connection));
        return;
    }
    if (options_.auth != AuthMode::None) {
        Verdict verdict = digest_.check(request.method, request.target, request.authorization);
        if (verdict != Verdict::Ok) {
            bool stale = verdict == Verdict::StaleNonce;
            if (stale || options_.new_nonce_per_challenge) digest_.renew_nonce();
            answer(connection.fd(), http_answer(401, "Unauthorized", digest_.challenge_line(stale),
                                                "<html><body>401 Unauthorized</body></html>"));
            out_.line("auth: %s -> 401, nonce %s", verdict_text(verdict), digest_.nonce().c_str());
            finish_connection(std::move(connection));
            return;
        }
        out_.line("auth: ok, user %s", options_.user.c_str());
    }
    if (request.target == "/admin/advanced") {
        answer_status(connection);
        finish_connection(std::move(connection));
    } else if (request.target.starts_with(UPGRADE_PREFIX)) {
        auto target = parse_upgrade_target(request.target);
        if (!target) {
            answer(connection.fd(), http_answer(400, "Bad Request", "",
                                                "<html><body>Bad upgrade request</body></html>"));
            out_.line("http: 400 bad upgrade request");
            finish_connection(std::move(connection));
            return;
        }
        start_upgrade(connection, *target, peer);
    } else {
        answer(connection.fd(), http_answer(404, "Not Found", "", "<html>404 Not Found</html>"));
        out_.line("http: 404 for %s", request.target.c_str());
        finish_connection(std::move(connection));
    }
}

void Device::start_upgrade(Socket& connection, const UpgradeTarget& target,
                           const std::string& peer) {
    std::string server = dotted(target.server_ip) + ":" + std::to_string(target.server_port);
    answer(connection.fd(),
           http_answer(200, "OK", "",
                       "<html><body>Upgrading: fetching the firmware from tftp://" + server +
                           target.file + "</body></html>"));
    out_.line("upgrade request from %s: tftp server %s file %s", peer.c_str(), server.c_str(),
              target.file.c_str());
    if (options_.never_close_upgrade && !options_.never_close) {
        out_.line("http: keeping the upgrade request's connection open (fault)");
        held_.push_back(std::move(connection));
    } else {
        finish_connection(std::move(connection));
    }

    DownloadPlan plan{own_ip_, target.server_ip, target.server_port, target.file};
    TftpBehaviour behaviour;
    behaviour.stop_ack_at = options_.stop_ack_at;
    behaviour.drop_ack_every = options_.drop_ack_every;
    behaviour.duplicate_acks = options_.duplicate_acks;
    behaviour.stray_from_other_port = options_.stray_from_other_port;
    behaviour.stray_at_block = options_.stray_at_block;
    behaviour.timeout_ms = options_.tftp_timeout_ms;
    behaviour.retries = options_.tftp_retries;
    behaviour.progress_every = options_.progress_every;
    if (options_.net_tftp) behaviour.net = options_.net;
    if (stranger_) stranger_->ask_for_every_name(target.server_ip, target.server_port);
    DownloadResult result =
        options_.tftp_client.empty()
            ? tftp_download(plan, behaviour, expected_, out_, stop_fd_)
            : external_download(options_.tftp_client, plan, expected_, out_, stop_fd_);
    if (stranger_) stranger_->tell_answers();
    if (result.interrupted) {
        stopped_ = true;
        return;
    }
    if (!options_.save.empty()) {
        std::ofstream file(options_.save, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(result.data.data()),
                   static_cast<std::streamsize>(result.data.size()));
        file.close();
        if (file) {
            out_.line("saved %zu bytes to %s", result.data.size(), options_.save.c_str());
        } else {
            out_.line("error: cannot write %s", options_.save.c_str());
        }
    }
    out_.line("upgrade result: %s", outcome_name(result.outcome));
    restart(result.outcome, result.data);
}

void Device::restart(DownloadOutcome outcome, const std::vector<std::uint8_t>& received) {
    if (outcome != DownloadOutcome::Ok) {
        version_after_restart_ = version_;
    } else if (options_.wrong_version_after) {
        version_after_restart_ = *options_.wrong_version_after;
    } else {
        version_after_restart_ = image_version(received);
    }
    if (options_.restart_mode == RestartMode::Refuse) listener_.close();
    if (options_.never_return) {
        phase_ = Phase::Gone;
        out_.line("restart: never coming back (fault), HTTP %s",
                  restart_mode_name(options_.restart_mode));
        return;
    }
    phase_ = Phase::Restarting;
    back_at_ = Clock::now() + std::chrono::milliseconds(options_.restart_ms);
    out_.line("restart: silent for %u ms, HTTP %s", options_.restart_ms,
              restart_mode_name(options_.restart_mode));
}

void Device::come_back() {
    if (!listener_.valid() && !options_.no_answer && !open_listener()) {
        // The port may still be held for a moment; a device keeps trying.
        back_at_ = Clock::now() + std::chrono::milliseconds(100);
        return;
    }
    digest_.renew_nonce();
    if (options_.password_after) digest_.set_password(*options_.password_after);
    version_ = version_after_restart_;
    upgraded_ = true;
    phase_ = Phase::Up;
    out_.line("back with version %s", version_.c_str());
}

void Device::poll_held() {
    // A held connection is closed only when the client goes away.
    for (auto it = held_.begin(); it != held_.end();) {
        char sink[512];
        ssize_t n = ::recv(it->fd(), sink, sizeof sink, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            out_.line("http: the client closed a held connection");
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
}

int Device::run() {
    if (!options_.no_answer && !open_listener()) return 1;
    if (!options_.stranger.empty()) {
        in_addr addr{};
        ::inet_pton(AF_INET, options_.stranger.c_str(), &addr);
        stranger_ = std::make_unique<Stranger>(ntohl(addr.s_addr), out_);
        if (!stranger_->ready()) return 1;
    }
    out_.line("ready http %s:%u version %s auth %s%s", options_.address.c_str(),
              0u + options_.http_port, version_.c_str(), auth_mode_name(options_.auth),
              options_.no_answer ? " (not listening: --no-answer)" : "");
    while (!stopped_ && !done_) {
        auto now = Clock::now();
        if (phase_ == Phase::Restarting && now >= back_at_) {
            come_back();
            continue;
        }
        bool accepting = listener_.valid() &&
                         (phase_ == Phase::Up || options_.restart_mode == RestartMode::Drop);
        std::vector<pollfd> fds;
        fds.push_back({stop_fd_, POLLIN, 0});
        fds.push_back({accepting ? listener_.fd() : -1, POLLIN, 0});
        fds.push_back({stranger_ ? stranger_->http_fd() : -1, POLLIN, 0});
        for (const Socket& s : held_) fds.push_back({s.fd(), POLLIN, 0});
        int wait_ms = 1000;
        if (phase_ == Phase::Restarting) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(back_at_ - now);
            wait_ms = static_cast<int>(std::min<long long>(left.count() + 1, 1000));
        }
        int r = ::poll(fds.data(), fds.size(), wait_ms);
        if (r < 0 && errno != EINTR) {
            out_.line("error: poll: %s", std::strerror(errno));
            return 1;
        }
        if (r <= 0) continue;
        if (fds[0].revents & POLLIN) {
            stopped_ = true;
            break;
        }
        if (fds[2].revents & POLLIN) stranger_->take_http();
        bool held_ready = false;
        for (std::size_t i = 3; i < fds.size(); ++i) held_ready = held_ready || fds[i].revents;
        if (held_ready) poll_held();
        if (accepting && (fds[1].revents & POLLIN)) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            Socket connection(::accept(listener_.fd(), reinterpret_cast<sockaddr*>(&from), &len));
            if (!connection.valid()) continue;
            if (phase_ != Phase::Up) {
                out_.line("http: connection from %s dropped (restarting)", peer_of(from).c_str());
                continue;
            }
            serve(std::move(connection), peer_of(from));
        }
    }
    out_.line(done_ ? "exit: upgrade done" : "exit: signal");
    return 0;
}

}  // namespace zoq::sim
