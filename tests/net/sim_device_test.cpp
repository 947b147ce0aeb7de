// SPDX-License-Identifier: MIT
// The simulated device seen from outside, over raw sockets: its status page, its Digest
// challenges and checks (answered by the utility's own Digest code), and the upgrade request
// that makes it fetch a file by TFTP, served here block by block.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/net.h"
#include "common/text.h"
#include "os/socket.h"
#include "tests/net/tftp_peer.h"
#include "tests/support/process.h"
#include "web/digest.h"
#include "web/http.h"

namespace zoq::test {
namespace {

const std::string SIM = ZOQ_BINARY_DIR "/tools/zoq-device-sim";

struct HttpAnswer {
    std::string text;
    bool closed = false;  // the device closed the connection after its answer
};

// One GET from 127.0.0.1 to the device, read until the device closes.
HttpAnswer http_exchange(const std::string& path, const std::string& authorization = "") {
    HttpAnswer answer;
    Socket s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    fill_sockaddr(LOOPBACK_PC, 0, a);
    if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return answer;
    fill_sockaddr(LOOPBACK_DEVICE, 80, a);
    if (::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return answer;
    std::string request =
        "GET " + path + " HTTP/1.1\r\nHost: 192.168.2.110\r\n" + authorization + "\r\n";
    if (::send(s.fd(), request.data(), request.size(), MSG_NOSIGNAL) < 0) return answer;
    char buf[4096];
    while (wait_readable(s.fd(), 5000)) {
        ssize_t n = ::recv(s.fd(), buf, sizeof buf, 0);
        if (n <= 0) {
            answer.closed = n == 0;
            break;
        }
        answer.text.append(buf, static_cast<std::size_t>(n));
    }
    return answer;
}

std::string field(const std::string& page, const char* label) {
    char out[FIELD_MAX + 1] = {};
    return extract_field(page, label, out, FIELD_MAX) ? out : "(none)";
}

// The Authorization line the utility would send for `path` after the challenge in `answer`.
std::string authorization_for(const std::string& answer, const std::string& path,
                              const std::string& password, DigestChallenge& digest, Random& rng) {
    std::size_t at = answer.find("WWW-Authenticate:");
    if (at == std::string::npos ||
        parse_challenge(answer.substr(at), digest, rng) != ChallengeParse::Taken)
        return {};
    copy_text(digest.username, "admin");
    copy_text(digest.password, password);
    copy_text(digest.uri, path);
    ++digest.nonce_count;
    char line[AUTHORIZATION_LINE_SIZE];
    build_authorization(digest, line, sizeof line);
    return line;
}

// A test that runs the device twice with one Process must not leave the second one running:
// both are ended, and reaped, by the time the Process goes.
TEST(SimHarness, OneProcessRunsProgramsOneAfterAnotherAndEndsEach) {
    pid_t first = -1;
    pid_t second = -1;
    {
        Process p;
        ASSERT_TRUE(p.start({"/bin/sleep", "60"}));
        first = p.pid();
        p.stop();
        ASSERT_TRUE(p.start({"/bin/sleep", "60"}));
        second = p.pid();
        ASSERT_NE(second, first);
        ASSERT_EQ(::kill(second, 0), 0) << "the second program is running";
        ASSERT_TRUE(p.start({"/bin/echo", "third"}));
        EXPECT_EQ(::kill(second, 0), -1) << "a new start ends the program before it";
        EXPECT_EQ(p.wait_exit(5000), 0);
        EXPECT_EQ(p.output(), "third\n");
    }
    EXPECT_EQ(::kill(first, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_EQ(::kill(second, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(SimDevice, StatusPageCarriesTheFiveValuesAndClosesTheConnection) {
    Process sim;
    ASSERT_TRUE(sim.start(
        {SIM, "--version", "5.2.10(001)", "--serial", "SN-42", "--mac", "02:00:00:11:22:33"}));
    ASSERT_TRUE(sim.wait_for("ready http 127.0.0.2:80 version 5.2.10(001) auth none", 5000))
        << sim.output();

    HttpAnswer page = http_exchange("/admin/advanced");
    EXPECT_TRUE(page.closed);
    EXPECT_EQ(page.text.rfind("HTTP/1.1 200 ", 0), 0u) << page.text;
    EXPECT_EQ(field(page.text, "Product Name:"), "ZOQ-4502");
    EXPECT_EQ(field(page.text, "MAC Address:"), "02:00:00:11:22:33");
    EXPECT_EQ(field(page.text, "Software Version:"), "5.2.10(001)");
    EXPECT_EQ(field(page.text, "Hardware Version:"), "1.0.2");
    EXPECT_EQ(field(page.text, "Serial Number:"), "SN-42");

    HttpAnswer other = http_exchange("/index.html");
    EXPECT_EQ(other.text.rfind("HTTP/1.1 404 ", 0), 0u) << other.text;
    EXPECT_TRUE(sim.wait_for("http: 404 for /index.html", 2000)) << sim.output();
}

TEST(SimDevice, FaultsOfTheWebServer) {
    {
        Process sim;
        ASSERT_TRUE(sim.start({SIM, "--no-answer"}));
        ASSERT_TRUE(sim.wait_for("ready", 5000)) << sim.output();
        EXPECT_TRUE(http_exchange("/admin/advanced").text.empty());  // refused
    }
    {
        Process sim;
        ASSERT_TRUE(sim.start({SIM, "--never-close"}));
        ASSERT_TRUE(sim.wait_for("ready", 5000)) << sim.output();
        Socket s(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a{};
        fill_sockaddr(LOOPBACK_DEVICE, 80, a);
        ASSERT_EQ(::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        std::string request = "GET /admin/advanced HTTP/1.1\r\n\r\n";
        ::send(s.fd(), request.data(), request.size(), MSG_NOSIGNAL);
        std::string got;
        char buf[4096];
        while (got.find("</html>") == std::string::npos && wait_readable(s.fd(), 3000)) {
            ssize_t n = ::recv(s.fd(), buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        EXPECT_NE(got.find("Software Version:"), std::string::npos);
        // Answered, and still open: nothing more arrives, not even the end of the stream.
        EXPECT_FALSE(wait_readable(s.fd(), 300));
    }
}

TEST(SimDevice, BadNetworkAndSlowAnswersOfTheWebServer) {
    using Clock = std::chrono::steady_clock;
    {
        // Every segment lost four times: the answer waits 200 + 400 + 800 + 1600 ms, whole.
        Process sim;
        ASSERT_TRUE(sim.start(
            {SIM, "--drop", "100", "--net-protocol", "http", "--net-direction", "from-device"}));
        ASSERT_TRUE(sim.wait_for("ready", 5000)) << sim.output();
        const auto start = Clock::now();
        HttpAnswer answer = http_exchange("/admin/advanced");
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(3000));
        EXPECT_TRUE(answer.closed);
        EXPECT_EQ(field(answer.text, "Product Name:"), "ZOQ-4502");
        EXPECT_TRUE(sim.wait_for("http: network: dropped 4, ", 1000)) << sim.output();
    }
    {
        // One byte per write: the client sees the answer arrive in many small pieces.
        Process sim;
        ASSERT_TRUE(sim.start({SIM, "--slow-http-ms", "2"}));
        ASSERT_TRUE(sim.wait_for("ready", 5000)) << sim.output();
        Socket s(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a{};
        fill_sockaddr(LOOPBACK_DEVICE, 80, a);
        ASSERT_EQ(::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        std::string request = "GET /admin/advanced HTTP/1.1\r\n\r\n";
        ::send(s.fd(), request.data(), request.size(), MSG_NOSIGNAL);
        std::string got;
        int pieces = 0;
        char buf[4096];
        while (wait_readable(s.fd(), 3000)) {
            ssize_t n = ::recv(s.fd(), buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
            ++pieces;
        }
        EXPECT_EQ(field(got, "Software Version:"), "5.2.10(001)");
        EXPECT_GT(pieces, static_cast<int>(got.size()) / 20) << "arrived in " << pieces;
    }
}

struct DigestCase {
    const char* mode;
    std::vector<const char*> challenge_has;
    std::vector<const char*> challenge_lacks;
};

TEST(SimDevice, DigestChallengeAndTheUtilitysAnswer) {
    const DigestCase cases[] = {
        {"qop", {"realm=\"ZOQ\"", "qop=\"auth\"", "algorithm=\"MD5\""}, {"MD5-sess"}},
        {"noqop", {"realm=\"ZOQ\"", "nonce=\""}, {"qop=", "algorithm="}},
        {"md5-sess", {"qop=\"auth\"", "algorithm=\"MD5-sess\""}, {}},
    };
    for (const DigestCase& c : cases) {
        SCOPED_TRACE(c.mode);
        Process sim;
        ASSERT_TRUE(sim.start({SIM, "--auth", c.mode, "--password", "s3cret", "--opaque", "op1"}));
        ASSERT_TRUE(sim.wait_for("ready", 5000)) << sim.output();

        HttpAnswer challenge = http_exchange("/admin/advanced");
        ASSERT_EQ(challenge.text.rfind("HTTP/1.1 401 ", 0), 0u) << challenge.text;
        EXPECT_TRUE(challenge.closed);
        for (const char* text : c.challenge_has) {
            EXPECT_NE(challenge.text.find(text), std::string::npos) << text;
        }
        for (const char* text : c.challenge_lacks) {
            EXPECT_EQ(challenge.text.find(text), std::string::npos) << text;
        }
        EXPECT_EQ(field(challenge.text, "Software Version:"), "(none)");

        DigestChallenge digest{};
        Random rng;
        rng.seed(7);
        std::string line =
            authorization_for(challenge.text, "/admin/advanced", "s3cret", digest, rng);
        ASSERT_FALSE(line.empty());
        HttpAnswer page = http_exchange("/admin/advanced", line);
        EXPECT_EQ(page.text.rfind("HTTP/1.1 200 ", 0), 0u) << line << page.text;

        // The same nonce count again is a replay where a count is sent at all.
        HttpAnswer replay = http_exchange("/admin/advanced", line);
        EXPECT_EQ(replay.text.rfind(
                      std::string(c.mode) == "noqop" ? "HTTP/1.1 200 " : "HTTP/1.1 401 ", 0),
                  0u)
            << replay.text;

        // The next request under the nonce, with a wrong password: refused.
        copy_text(digest.password, "wrong");
        ++digest.nonce_count;
        char wrong[AUTHORIZATION_LINE_SIZE];
        build_authorization(digest, wrong, sizeof wrong);
        HttpAnswer refused = http_exchange("/admin/advanced", wrong);
        EXPECT_EQ(refused.text.rfind("HTTP/1.1 401 ", 0), 0u) << refused.text;
        EXPECT_TRUE(sim.wait_for("auth: wrong response (password) -> 401", 2000)) << sim.output();
    }
}

TEST(SimDevice, NewNoncePerChallengeOnlyWhenAsked) {
    for (bool fresh : {false, true}) {
        SCOPED_TRACE(fresh);
        Process sim;
        std::vector<std::string> args = {SIM, "--auth", "qop"};
        if (fresh) args.push_back("--new-nonce-per-challenge");
        ASSERT_TRUE(sim.start(args));
        ASSERT_TRUE(sim.wait_for("ready", 5000)) << sim.output();
        DigestChallenge first{}, second{};
        Random rng;
        authorization_for(http_exchange("/admin/advanced").text, "/", "x", first, rng);
        authorization_for(http_exchange("/admin/advanced").text, "/", "x", second, rng);
        EXPECT_EQ(text_of(first.nonce) != text_of(second.nonce), fresh);
    }
}

// A firmware image of `size` bytes with `version` at 0x5c.
Bytes small_image(std::size_t size, const std::string& version) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::fill(image.begin() + 0x5c, image.begin() + 128, 0);
    std::copy(version.begin(), version.end(), image.begin() + 0x5c);
    return image;
}

std::string write_temp(const Bytes& bytes) {
    char path[] = "/tmp/zoq-sim-image-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return {};
    bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return ok ? path : "";
}

// Serves `image` to the device the way the utility does: OACK, then lock-step DATA, resending
// after 100 ms of silence, giving up after 10 resends. Every datagram received is kept.
bool serve(const UdpPeer& server, const Datagram& rrq, const Bytes& image,
           std::vector<Datagram>& received) {
    Bytes oack = expected_oack(static_cast<std::uint32_t>(image.size()));
    std::size_t blocks = image.size() / 512 + 1;
    for (std::size_t block = 0; block <= blocks; ++block) {
        Bytes packet = oack;
        if (block > 0) {
            packet = {0, 3, 0, 0};
            put_be16(packet.data() + 2, static_cast<unsigned>(block));
            std::size_t at = (block - 1) * 512;
            std::size_t n = std::min<std::size_t>(512, image.size() - at);
            packet.insert(packet.end(), image.begin() + static_cast<long>(at),
                          image.begin() + static_cast<long>(at + n));
        }
        bool acked = false;
        for (int sends = 0; sends < 10 && !acked; ++sends) {
            server.send(rrq.ip, rrq.port, packet);
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
            while (!acked && std::chrono::steady_clock::now() < until) {
                auto d = server.receive(20);
                if (!d) continue;
                received.push_back(*d);
                acked = d->ip == rrq.ip && d->port == rrq.port && d->opcode() == 4 &&
                        d->block() == block;
            }
        }
        if (!acked) return false;
    }
    return true;
}

struct UpgradeCase {
    const char* name;
    std::vector<std::string> flags;
    std::size_t corrupt_at;  // SIZE_MAX: the image is served as expected
    bool served;             // every block acknowledged
    const char* result;
    const char* version_after;
};

TEST(SimDevice, UpgradeRequestFetchesTheNamedFileAndRestarts) {
    constexpr std::size_t NONE = SIZE_MAX;
    const UpgradeCase cases[] = {
        {"good image", {}, NONE, true, "ok", "9.9.9(009)"},
        {"corrupted byte", {}, 700, true, "mismatch", "5.2.10(001)"},
        {"wrong version", {"--wrong-version-after", "1.0"}, NONE, true, "ok", "1.0"},
        {"stops acknowledging", {"--stop-ack-at", "2"}, NONE, false, "incomplete", "5.2.10(001)"},
        {"every 2nd ack left out", {"--drop-ack-every", "2"}, NONE, true, "ok", "9.9.9(009)"},
        {"duplicate acks", {"--duplicate-acks"}, NONE, true, "ok", "9.9.9(009)"},
        {"stray datagram", {"--stray-from-other-port"}, NONE, true, "ok", "9.9.9(009)"},
        {"network repeats every ACK",
         {"--duplicate", "100", "--net-direction", "from-device", "--net-protocol", "tftp"},
         NONE,
         true,
         "ok",
         "9.9.9(009)"},
        {"network loses what reaches the device",
         {"--drop", "30", "--net-direction", "to-device", "--net-seed", "4"},
         NONE,
         true,
         "ok",
         "9.9.9(009)"},
    };
    const Bytes image = small_image(1100, "9.9.9(009)");
    const std::string image_path = write_temp(image);
    ASSERT_FALSE(image_path.empty());
    for (const UpgradeCase& c : cases) {
        SCOPED_TRACE(c.name);
        UdpPeer server(LOOPBACK_PC, 70);
        ASSERT_TRUE(server.bound());
        std::vector<std::string> args = {SIM,   "--expect-image",    image_path, "--restart-ms",
                                         "100", "--tftp-timeout-ms", "300",      "--tftp-retries",
                                         "2"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        Process sim;
        ASSERT_TRUE(sim.start(args));
        ASSERT_TRUE(sim.wait_for("ready", 5000)) << sim.output();

        HttpAnswer accepted = http_exchange("/admin/upgrade?tftp://127.0.0.1:70/zoq1a2b.bi1");
        EXPECT_EQ(accepted.text.rfind("HTTP/1.1 200 ", 0), 0u) << accepted.text;
        EXPECT_TRUE(accepted.closed);

        auto rrq = server.receive(3000);
        ASSERT_TRUE(rrq.has_value()) << sim.output();
        EXPECT_EQ(rrq->ip, LOOPBACK_DEVICE);
        EXPECT_EQ(rrq->bytes, rrq_packet("/zoq1a2b.bi1", {"octet", "tsize", "0", "timeout", "5"}));

        Bytes served = image;
        if (c.corrupt_at != NONE) served[c.corrupt_at] ^= 0x5A;
        std::vector<Datagram> received;
        EXPECT_EQ(serve(server, *rrq, served, received), c.served) << sim.output();

        ASSERT_TRUE(sim.wait_for(std::string("upgrade result: ") + c.result, 5000)) << sim.output();
        ASSERT_TRUE(sim.wait_for(std::string("back with version ") + c.version_after, 5000))
            << sim.output();
        EXPECT_EQ(field(http_exchange("/admin/advanced").text, "Software Version:"),
                  c.version_after);

        if (c.corrupt_at != NONE) {
            EXPECT_TRUE(sim.wait_for("image mismatch at offset 700", 100)) << sim.output();
        }
        std::size_t from_other_port = 0;
        std::size_t acks_for_block_1 = 0;
        for (const Datagram& d : received) {
            if (d.port != rrq->port) ++from_other_port;
            if (d.port == rrq->port && d.opcode() == 4 && d.block() == 1) ++acks_for_block_1;
        }
        bool stray = std::string(c.name) == "stray datagram";
        EXPECT_EQ(from_other_port, stray ? 1u : 0u);
        if (stray) {
            EXPECT_TRUE(sim.wait_for("ignored the stray datagram and sent block 2 again", 100))
                << sim.output();
        }
        const std::string name = c.name;
        if (name == "network loses what reaches the device") {
            // Lost blocks were sent again; the device saw a share of them go missing.
            EXPECT_GE(acks_for_block_1, 1u);
            EXPECT_TRUE(sim.wait_for("tftp: network to the device: dropped ", 100)) << sim.output();
            EXPECT_FALSE(sim.wait_for("tftp: network to the device: dropped 0,", 10))
                << sim.output();
        } else {
            bool twice = name == "duplicate acks" || name == "network repeats every ACK";
            EXPECT_EQ(acks_for_block_1, twice ? 2u : 1u);
        }
        EXPECT_EQ(sim.output().find("protocol violation"), std::string::npos) << sim.output();
    }
    ::unlink(image_path.c_str());
}

TEST(SimDevice, ComesBackWithANewNonceAndExitsAfterTheFirstStatusRead) {
    const Bytes image = small_image(600, "6.0.0(1)");
    const std::string image_path = write_temp(image);
    ASSERT_FALSE(image_path.empty());
    UdpPeer server(LOOPBACK_PC, 69);
    ASSERT_TRUE(server.bound());
    Process sim;
    ASSERT_TRUE(sim.start({SIM, "--auth", "qop", "--password", "pw", "--expect-image", image_path,
                           "--restart-ms", "200", "--exit-after-upgrade"}));
    ASSERT_TRUE(sim.wait_for("ready", 5000)) << sim.output();

    DigestChallenge digest{};
    Random rng;
    const std::string path = "/admin/upgrade?tftp://127.0.0.1:69/zoq5.bi1";
    std::string line = authorization_for(http_exchange(path).text, path, "pw", digest, rng);
    EXPECT_EQ(http_exchange(path, line).text.rfind("HTTP/1.1 200 ", 0), 0u);
    auto rrq = server.receive(3000);
    ASSERT_TRUE(rrq.has_value()) << sim.output();
    std::vector<Datagram> received;
    EXPECT_TRUE(serve(server, *rrq, image, received));
    ASSERT_TRUE(sim.wait_for("restart: silent for 200 ms", 5000)) << sim.output();

    // Connected while it restarts ("hold"): answered once it is back, under a new nonce.
    ++digest.nonce_count;
    copy_text(digest.uri, "/admin/advanced");
    char old_nonce_line[AUTHORIZATION_LINE_SIZE];
    build_authorization(digest, old_nonce_line, sizeof old_nonce_line);
    HttpAnswer stale = http_exchange("/admin/advanced", old_nonce_line);
    ASSERT_EQ(stale.text.rfind("HTTP/1.1 401 ", 0), 0u) << stale.text;
    EXPECT_TRUE(sim.wait_for("back with version 6.0.0(1)", 100)) << sim.output();
    std::string fresh = authorization_for(stale.text, "/admin/advanced", "pw", digest, rng);
    EXPECT_EQ(digest.nonce_count, 1u);  // a new nonce: the count started again
    HttpAnswer page = http_exchange("/admin/advanced", fresh);
    EXPECT_EQ(field(page.text, "Software Version:"), "6.0.0(1)");
    EXPECT_EQ(sim.wait_exit(3000), 0) << sim.output();
    EXPECT_TRUE(sim.wait_for("exit: upgrade done", 100)) << sim.output();
    ::unlink(image_path.c_str());
}

}  // namespace
}  // namespace zoq::test
