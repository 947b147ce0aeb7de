// SPDX-License-Identifier: MIT
// An in-process device web server on loopback for the HTTP tests: it records each request as
// received and plays the answer the test gives for it, then closes, resets or holds the
// connection. A small Digest checker lets it accept or refuse credentials like a device.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/request_page.h"
#include "app/state.h"
#include "common/net.h"
#include "os/socket.h"
#include "platform/scripted/scripted_toolkit.h"
#include "tests/support/sockets.h"
#include "web/request.h"

namespace zoq::test {

inline constexpr std::uint32_t PC_IP = 0x7F000001;      // 127.0.0.1
inline constexpr std::uint32_t DEVICE_IP = 0x7F000002;  // 127.0.0.2

struct Reply {
    enum After { Close, Reset, Hold } after = Close;
    std::string bytes;
    // Runs before the answer is sent (a test holds the answer back with it).
    std::function<void()> before;
};

struct Received {
    std::string request;
    std::uint16_t peer_port = 0;
    std::uint32_t peer_ip = 0;
};

class FakeDevice {
  public:
    using Handler = std::function<Reply(int index, const std::string& request)>;

    explicit FakeDevice(Handler handler, std::uint32_t ip = DEVICE_IP, std::uint16_t port = 80,
                        int backlog = 16)
        : handler_(std::move(handler)) {
        listener_ = Socket(open_tcp_socket());
        reuse_address(listener_.fd());
        sockaddr_in addr{};
        fill_sockaddr(ip, port, addr);
        ok_ = bind_socket(listener_.fd(), addr) && test::listen_socket(listener_.fd(), backlog);
        if (ok_ && handler_) thread_ = std::thread([this] { serve(); });
    }
    ~FakeDevice() { stop(); }

    bool ok() const { return ok_; }
    int listener_fd() const { return listener_.fd(); }

    // Ends the server and closes every held connection (a blocked client then sees the end).
    void stop() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        std::lock_guard lock(mutex_);
        held_.clear();
    }

    std::vector<Received> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return received_.size();
    }

  private:
    void serve() {
        int index = 0;
        while (!stopping_) {
            if (!wait_readable(listener_.fd(), 10)) continue;
            sockaddr_in peer{};
            Socket c(test::accept_connection(listener_.fd(), &peer));
            if (!c.valid()) continue;
            Received r;
            read_sockaddr(peer, r.peer_ip, r.peer_port);
            r.request = read_request(c.fd());
            {
                std::lock_guard lock(mutex_);
                received_.push_back(r);
            }
            Reply reply = handler_(index++, r.request);
            if (reply.before) reply.before();
            send_all(c.fd(), reply.bytes);
            if (reply.after == Reply::Reset) {
                reset_on_close(c.fd());
            } else if (reply.after == Reply::Hold) {
                std::lock_guard lock(mutex_);
                held_.push_back(std::move(c));
            }
        }
    }

    // Up to the empty line that ends the header: the client sends nothing after it.
    std::string read_request(int fd) {
        std::string in;
        char buf[4096];
        while (in.find("\r\n\r\n") == std::string::npos && !stopping_) {
            if (!wait_readable(fd, 10)) continue;
            long n = receive_stream(fd, buf, sizeof buf);
            if (n <= 0) break;
            in.append(buf, static_cast<std::size_t>(n));
        }
        return in;
    }

    static void send_all(int fd, const std::string& bytes) {
        std::size_t at = 0;
        while (at < bytes.size()) {
            long n = send_stream(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0) return;  // the client stopped reading (capacity reached)
            at += static_cast<std::size_t>(n);
        }
    }

    Handler handler_;
    Socket listener_;
    bool ok_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    std::vector<Socket> held_;
};

inline std::string http_answer(const std::string& status_line, const std::string& headers,
                               const std::string& body) {
    return status_line + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

inline const std::string STATUS_PAGE =
    "<html><body><table>\r\n"
    "<tr><td>Product Name:</td><td>ZOQ-4502</td></tr>\r\n"
    "<tr><td>Serial Number:</td><td>SN0123456</td></tr>\r\n"
    "<tr><td>MAC Address:</td><td><b>02:00:00:AA:BB:CC</b></td></tr>\r\n"
    "<tr><td>Hardware Version:</td><td>2.0.1</td></tr>\r\n"
    "<tr><td>Software Version:</td><td>3.1.4(a)</td></tr>\r\n"
    "</table></body></html>\r\n";

inline std::string page_answer(const std::string& body = STATUS_PAGE) {
    return http_answer("HTTP/1.1 200 OK", "Content-Type: text/html\r\n", body);
}

// The five values of STATUS_PAGE, as the client must have cut them out.
inline void expect_status_page_values(const DeviceInfo& info) {
    EXPECT_STREQ(info.product_name.data(), "ZOQ-4502");
    EXPECT_STREQ(info.serial_number.data(), "SN0123456");
    EXPECT_STREQ(info.mac_address.data(), "02:00:00:AA:BB:CC");
    EXPECT_STREQ(info.hardware_version.data(), "2.0.1");
    EXPECT_STREQ(info.software_version.data(), "3.1.4(a)");
}

// A request as every caller in the program makes it: from the PC at 127.0.0.1, local port
// 23456 up, to the device at 127.0.0.2:80, into the shared response buffer.
// The bytes that came back (0: none); a Cancel or a refused worker fails the test.
inline int request_device(UpgradeState& state, const char* path = STATUS_PAGE_PATH) {
    const RequestResult r =
        run_device_request(state, PC_IP, DEVICE_IP, path, state.response_buffer.data(), nullptr);
    EXPECT_EQ(r.outcome, RequestOutcome::Answer);
    keep_device_info(state, state.response_buffer.data(), r.received);
    return r.received;
}

// How many of the toolkit's records are exactly `line`.
inline int count_records(const ScriptedToolkit& ui, const std::string& line) {
    auto r = ui.records();
    return static_cast<int>(std::count(r.begin(), r.end(), line));
}

inline std::string challenge_answer(const std::string& params) {
    return http_answer("HTTP/1.1 401 Unauthorized", "WWW-Authenticate: Digest " + params + "\r\n",
                       "<html>401</html>");
}

// The value of one parameter of the request's Authorization line (quoted or not).
inline std::string auth_param(const std::string& request, const std::string& name) {
    std::size_t line = request.find("\r\nAuthorization: Digest ");
    if (line == std::string::npos) return {};
    std::size_t end = request.find("\r\n", line + 2);
    std::string header = request.substr(line, end - line);
    for (std::size_t at = header.find(' ', 20); at < header.size();) {
        std::size_t start = at + 1;
        std::size_t eq = header.find('=', start);
        if (eq == std::string::npos) break;
        std::string key = header.substr(start, eq - start);
        std::string value;
        std::size_t next;
        if (header[eq + 1] == '"') {
            std::size_t close = header.find('"', eq + 2);
            value = header.substr(eq + 2, close - eq - 2);
            next = header.find(',', close);
        } else {
            next = header.find(',', eq);
            value = header.substr(eq + 1,
                                  next == std::string::npos ? std::string::npos : next - eq - 1);
        }
        if (key == name) return value;
        at = next;
    }
    return {};
}

// Digest responses the device accepts, computed outside the program (Python's hashlib, by
// RFC 2617's definitions; md5-sess hashes the 16 raw bytes of the first digest), so that a
// fault in the program's own MD5 or Digest code cannot agree with itself here. The first row
// is RFC 2617's own example (section 3.5). The inputs follow from the tests' fixed seeds; a
// new combination needs its row, computed the same way:
//   python3 -c 'import hashlib; m=lambda s: hashlib.md5(s.encode()).hexdigest();
//     print(m(m("user:realm:pw")+":nonce:nc:cnonce:qop:"+m("GET:uri")))'
struct DigestKnownAnswer {
    const char* username;
    const char* realm;
    const char* password;
    const char* nonce;
    const char* uri;
    const char* algorithm;
    const char* qop;
    const char* nc;
    const char* cnonce;
    const char* response;
};

inline constexpr DigestKnownAnswer DIGEST_KNOWN_ANSWERS[] = {
    {"Mufasa", "testrealm@host.com", "Circle Of Life", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
     "/dir/index.html", "", "auth", "00000001", "0a4f113b", "6629fae49393a05397450978507c4ef1"},
    {"admin", "ZOQ", "secret", "n-2069", "/admin/advanced", "", "", "", "",
     "fdbac20ace167f7452e29fc53d184650"},
    {"admin", "ZOQ", "secret", "n-auth", "/admin/advanced", "", "auth", "00000001", "26",
     "ccb10b0ffecce06ffaa39a656e0191cb"},
    {"admin", "ZOQ", "secret", "n-int", "/admin/advanced", "", "auth-int", "00000001", "26",
     "4d49b7c70121c327b5d9401a760371c0"},
    {"admin", "ZOQ", "secret", "n-l", "/admin/advanced", "", "auth", "00000001", "26",
     "ac729403727e8c3431774601bb5a978d"},
    {"admin", "ZOQ", "secret", "n-op", "/admin/advanced", "", "auth", "00000001", "26",
     "fee5f8aae76261bea67fedcacecfd56d"},
    {"admin", "ZOQ", "secret", "n-sess", "/admin/advanced", "MD5-sess", "auth", "00000001", "26",
     "f89f5bd187ccdcf4a63516814de76454"},
    {"admin", "ZOQ", "secret", "nonce-0", "/admin/advanced", "", "auth", "00000001", "169",
     "ad26124be19689e972502d295f04bb2b"},
    {"admin", "ZOQ", "secret", "nonce-0", "/admin/advanced", "", "auth", "00000001", "5ac3",
     "41d9bf195eee7bd1d70962cf50a0b52d"},
    {"admin", "ZOQ", "secret", "nonce-0", "/admin/advanced", "", "auth", "00000002", "",
     "7c7fec179229d71fa04c5768e662c6a0"},
    {"admin", "ZOQ", "secret", "nonce-0", "/admin/advanced", "", "auth", "00000002", "5ac3",
     "6b1ad7224bde059e2c0baf86345baacc"},
    {"admin", "ZOQ", "secret", "nonce-0", "/admin/upgrade?tftp://127.0.0.1:69/zoq1a2b.bi1", "",
     "auth", "00000002", "169", "4614c21e37c21447dde5203e349245f1"},
    {"admin", "ZOQ", "secret", "nonce-1", "/admin/advanced", "", "auth", "00000001", "169",
     "a98ba646bc20827f3134ddaba5f87282"},
    {"admin", "ZOQ", "secret", "nonce-2", "/admin/advanced", "", "auth", "00000001", "5ac3",
     "0389e5f1c77a529d4846396352f472fc"},
    {"admin", "ZOQ", "secret", "nonce-3", "/admin/advanced", "", "auth", "00000001", "4f5f",
     "ad1f845a855a79e3cc3e4a91fc926032"},
    {"admin", "ZOQ", "secret", "nonce-4", "/admin/advanced", "", "auth", "00000001", "6341",
     "9f5f8befd1b80439a92757c42c7cb6cc"},
};

// Whether the request carries a correct Digest response for `password` under the challenge
// parameters the device issued, and echoes the challenge's `opaque` (none when it had none).
// A combination without a known answer fails the test, naming its inputs.
inline bool digest_ok(const std::string& request, const std::string& password,
                      const std::string& realm, const std::string& nonce,
                      const std::string& opaque = "") {
    if (request.find("\r\nAuthorization: Digest ") == std::string::npos) return false;
    if (auth_param(request, "realm") != realm || auth_param(request, "nonce") != nonce) {
        return false;
    }
    const bool has_opaque = request.find(",opaque=\"") != std::string::npos;
    if (has_opaque != !opaque.empty() || auth_param(request, "opaque") != opaque) return false;
    const std::string fields[] = {auth_param(request, "username"),
                                  realm,
                                  password,
                                  nonce,
                                  auth_param(request, "uri"),
                                  auth_param(request, "algorithm"),
                                  auth_param(request, "qop"),
                                  auth_param(request, "nc"),
                                  auth_param(request, "cnonce")};
    for (const DigestKnownAnswer& k : DIGEST_KNOWN_ANSWERS) {
        const char* const key[] = {k.username,  k.realm, k.password, k.nonce, k.uri,
                                   k.algorithm, k.qop,   k.nc,       k.cnonce};
        if (std::equal(std::begin(fields), std::end(fields), std::begin(key))) {
            return auth_param(request, "response") == k.response;
        }
    }
    std::string inputs;
    for (const std::string& f : fields) inputs += " [" + f + "]";
    ADD_FAILURE() << "no known Digest answer for username, realm, password, nonce, uri, "
                     "algorithm, qop, nc, cnonce:"
                  << inputs;
    return false;
}

}  // namespace zoq::test
