// SPDX-License-Identifier: MIT
#include "tools/sim/bystanders.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/net.h"
#include "common/text.h"

namespace zoq::sim {
namespace {

constexpr unsigned NAME_COUNT = 0x8000;  // the generator yields 0 to 32,767
constexpr unsigned SENDS_PER_PAUSE = 64;

Socket bound(int type, std::uint32_t ip, std::uint16_t port) {
    Socket s(::socket(AF_INET, type, 0));
    int on = 1;
    sockaddr_in addr{};
    fill_sockaddr(ip, port, addr);
    if (!s.valid() || ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        (type == SOCK_STREAM && ::listen(s.fd(), 16) != 0)) {
        return Socket();
    }
    return s;
}

}  // namespace

Stranger::Stranger(std::uint32_t ip, Output& out)
    : ip_(ip), out_(out), udp_(bound(SOCK_DGRAM, ip, 0)), http_(bound(SOCK_STREAM, ip, 80)) {
    if (ready()) {
        out_.line("stranger %s: ready, HTTP on port 80", dotted(ip_).c_str());
    } else {
        out_.line("error: stranger %s: cannot bind: %s", dotted(ip_).c_str(), std::strerror(errno));
    }
}

void Stranger::take_http() {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    Socket connection(::accept(http_.fd(), reinterpret_cast<sockaddr*>(&from), &len));
    if (!connection.valid()) return;
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    read_sockaddr(from, ip, port);
    out_.line("stranger %s: http connection from %s:%u", dotted(ip_).c_str(), dotted(ip).c_str(),
              0u + port);
}

void Stranger::ask_for_every_name(std::uint32_t server_ip, std::uint16_t server_port) {
    sockaddr_in to{};
    fill_sockaddr(server_ip, server_port, to);
    unsigned sent = 0;
    for (unsigned x = 0; x < NAME_COUNT; ++x) {
        char name[32];
        int n = std::snprintf(name, sizeof name, "/zoq%x.bi1", x);
        std::vector<std::uint8_t> rrq{0, 1};
        rrq.insert(rrq.end(), name, name + n);
        static constexpr char TAIL[] =
            "\0octet\0tsize\0"
            "0";
        rrq.insert(rrq.end(), TAIL, TAIL + sizeof TAIL);
        if (::sendto(udp_.fd(), rrq.data(), rrq.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) == static_cast<ssize_t>(rrq.size())) {
            ++sent;
        }
        if (x % SENDS_PER_PAUSE == SENDS_PER_PAUSE - 1) ::usleep(1000);
    }
    out_.line("stranger %s: asked %s:%u for %u names", dotted(ip_).c_str(),
              dotted(server_ip).c_str(), 0u + server_port, sent);
}

void Stranger::tell_answers() {
    unsigned datagrams = 0;
    std::uint8_t buffer[2048];
    while (::recv(udp_.fd(), buffer, sizeof buffer, MSG_DONTWAIT) >= 0) ++datagrams;
    out_.line("stranger %s: got %u datagrams", dotted(ip_).c_str(), datagrams);
}

DownloadResult external_download(const std::string& client, const DownloadPlan& plan,
                                 std::span<const std::uint8_t> expected, Output& out, int stop_fd) {
    DownloadResult result;
    char dir[] = "/tmp/zoq-sim-client-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        out.line("error: %s: no folder for the download: %s", client.c_str(), std::strerror(errno));
        return result;
    }
    const std::string local = std::string(dir) + "/image";
    const std::string server = dotted(plan.server_ip);
    const std::string port = std::to_string(plan.server_port);
    // The command lines a device of that kind uses: busybox asks for tsize, tftp-hpa for no
    // option at all (RFC 1350).
    std::vector<std::string> argv =
        client == "busybox"
            ? std::vector<std::string>{"/usr/bin/busybox",
                                       "tftp",
                                       "-g",
                                       "-r",
                                       plan.file,
                                       "-l",
                                       local,
                                       server,
                                       port}
            : std::vector<std::string>{"/usr/bin/tftp", "-m",      "binary", server, port, "-c",
                                       "get",           plan.file, local};
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return result;
    out.line("tftp: %s fetches %s from %s:%s", client.c_str(), plan.file.c_str(), server.c_str(),
             port.c_str());
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(output[1], 1);
        ::dup2(output[1], 2);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(output[1]);
    std::string said;
    for (bool open = pid > 0; open;) {
        pollfd fds[2] = {{output[0], POLLIN, 0}, {stop_fd, POLLIN, 0}};
        if (::poll(fds, stop_fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) {
            ::kill(pid, SIGTERM);
            result.interrupted = true;
            break;
        }
        char buffer[512];
        ssize_t n = ::read(output[0], buffer, sizeof buffer);
        if (n > 0) said.append(buffer, static_cast<std::size_t>(n));
        open = n > 0 || (n < 0 && errno == EINTR);
    }
    ::close(output[0]);
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    // busybox draws its progress bar with carriage returns: one line per line or redraw.
    std::replace(said.begin(), said.end(), '\r', '\n');
    for (std::size_t at = 0; at < said.size();) {
        std::size_t end = std::min(said.find('\n', at), said.size());
        if (end > at) out.line("tftp: %s: %s", client.c_str(), said.substr(at, end - at).c_str());
        at = end + 1;
    }
    std::ifstream file(local, std::ios::binary);
    result.data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    const bool exited_ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    out.line("tftp: %s exit %d, %zu bytes", client.c_str(),
             WIFEXITED(status) ? WEXITSTATUS(status) : -1, result.data.size());
    if (!exited_ok || result.data.size() != expected.size()) {
        result.outcome = DownloadOutcome::Incomplete;
    } else {
        result.outcome = std::equal(result.data.begin(), result.data.end(), expected.begin())
                             ? DownloadOutcome::Ok
                             : DownloadOutcome::Mismatch;
    }
    std::filesystem::remove_all(dir);
    return result;
}

}  // namespace zoq::sim
