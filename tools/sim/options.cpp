// SPDX-License-Identifier: MIT
#include "tools/sim/options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace zoq::sim {
namespace {

bool parse_unsigned(std::string_view text, unsigned long max, unsigned long& out) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > max) return false;
    out = value;
    return true;
}

}  // namespace

const char* help_text() {
    return R"(usage: zoq-device-sim [OPTION]...
A simulated ZOQ device: a web server with the status page and the upgrade request, a TFTP
client that fetches the firmware it is told to fetch, and a restart that brings up the new
version. Try the utility without a device: start this, then type its address into the
address dialog.

Where it listens:
  --address A.B.C.D        its own IPv4 address (default 127.0.0.2); HTTP and TFTP use it
  --http-port N            HTTP port (default 80)

What the status page (/admin/advanced) reports:
  --version TEXT           software version before an upgrade (default 5.2.10(001))
  --product TEXT           product name (default ZOQ-4502)
  --mac TEXT               MAC address (default 02:00:00:AA:BB:CC)
  --hardware TEXT          hardware version (default 1.0.2)
  --serial TEXT            serial number (default ZQ45020001)

Digest authentication:
  --auth MODE              none (default), qop (qop="auth", MD5), noqop (RFC 2069 form),
                           md5-sess (qop="auth", algorithm MD5-sess)
  --user NAME              user name (default admin)
  --password TEXT          password (default admin)
  --realm TEXT             realm (default ZOQ)
  --opaque TEXT            send this opaque value in every challenge
  --new-nonce-per-challenge  a fresh nonce in every 401 (the nonce always changes on restart)

The upgrade (/admin/upgrade?tftp://A.B.C.D:PORT/NAME):
  --expect-image FILE      image to compare every received byte with (default: the image
                           the utility carries)
  --save FILE              write the received bytes to FILE
  --restart-ms N           restart time after a download (default 3000)
  --restart-mode MODE      HTTP during the restart: hold (default; connections are accepted
                           only when it is back), refuse (nothing listens), drop (accepted
                           and closed at once without an answer)
  --tftp-timeout-ms N      resend the last acknowledgement after N ms of silence (default:
                           the time-out the server acknowledged, 5 s)
  --tftp-retries N         give up after N silent time-outs in a row (default 5)
  --progress-every N       print a progress line every N blocks (default 200; 0: never)

Faults:
  --wrong-version-after TEXT  report TEXT as the version after a good upgrade
  --never-return           never come back after the restart
  --password-after TEXT    come back from the restart with this password
  --no-answer              nothing listens on the HTTP port (connection refused)
  --no-reply               accept and read requests, never answer nor close
  --never-close            answer, but never close the connection
  --never-close-upgrade    keep only the upgrade request's connection open (the download
                           still happens)
  --stop-ack-at N          stop acknowledging at block N (0: not even the option
                           acknowledgement)
  --drop-ack-every N       leave out the first acknowledgement of every Nth block
  --duplicate-acks         send every acknowledgement twice
  --stray-from-other-port  acknowledge one block (--stray-at-block, default 2) from another
                           UDP port first; the server must ignore that datagram
  --stray-at-block N       the block for --stray-from-other-port

A bad network (rates in percent, 0 to 100; decisions follow --net-seed, so a run repeats):
  --drop PCT               lose this share of the datagrams
  --duplicate PCT          deliver this share twice
  --reorder PCT            hold this share back until the next datagram has gone past (at
                           most --reorder-ms, default 20)
  --delay PCT              hold this share back for --delay-ms (default 50)
  --delay-ms N             how long a delayed datagram is held
  --reorder-ms N           longest wait for a datagram that is to overtake a held one
  --net-seed N             seed of the decisions (default 1)
  --net-direction DIR      both (default), to-device (what the PC sends), from-device (what
                           the device sends)
  --net-protocol P         both (default), tftp, http
                           TFTP: each rate applies to each datagram. HTTP runs over TCP,
                           which never loses, repeats or reorders bytes: there a lost segment
                           (1448 bytes) arrives after a retransmission time-out of 200 ms,
                           doubled on each further loss; a reordered one after --reorder-ms;
                           a delayed one after --delay-ms; a duplicate is not seen at all. The
                           answer is written segment by segment with those stalls, and a
                           request from the PC waits the same way before it is read.
  --slow-http-ms N         answer HTTP one byte at a time, N ms apart (0: off)

Others on the LAN:
  --stranger A.B.C.D       another host (this address, which the device's side of the
                           network must have): when the upgrade request comes, it asks the
                           TFTP server for every name "/zoq0.bi1" to "/zoq7fff.bi1" before
                           the device asks for its own, and listens on HTTP port 80; it says
                           what reached it ("stranger A.B.C.D: got N datagrams")
  --tftp-client NAME       fetch the firmware with a distribution's client instead of the
                           device's own: busybox (asks for tsize) or tftp-hpa (RFC 1350, no
                           options), from /usr/bin

Running:
  --request-timeout-ms N   how long to wait for a request's header (default 5000)
  --exit-after-upgrade     exit once it is back from an upgrade and has served one status page
  --help                   this text

Output: one line per event on standard output. Lines that tests wait for:
  ready http A.B.C.D:N version V auth MODE
  upgrade result: ok | mismatch | incomplete
  back with version V
  exit: upgrade done | exit: signal
SIGTERM and SIGINT end it with exit code 0.
)";
}

const char* auth_mode_name(AuthMode mode) {
    switch (mode) {
        case AuthMode::None:
            return "none";
        case AuthMode::Qop:
            return "qop";
        case AuthMode::NoQop:
            return "noqop";
        case AuthMode::Md5Sess:
            return "md5-sess";
    }
    return "?";
}

const char* restart_mode_name(RestartMode mode) {
    switch (mode) {
        case RestartMode::Hold:
            return "hold";
        case RestartMode::Refuse:
            return "refuse";
        case RestartMode::Drop:
            return "drop";
    }
    return "?";
}

ParseOutcome parse_options(int argc, char** argv, SimOptions& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view name = arg;
        std::optional<std::string_view> inline_value;
        if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            inline_value = arg.substr(eq + 1);
        }
        // The value of an option: after "=" or in the next argument.
        auto value = [&](std::string_view& out) {
            if (inline_value) {
                out = *inline_value;
                return true;
            }
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto number = [&](unsigned long max, unsigned long& out) {
            std::string_view text;
            if (!value(text)) return false;
            if (!parse_unsigned(text, max, out)) {
                error = std::string(name) + ": not a number from 0 to " + std::to_string(max) +
                        ": " + std::string(text);
                return false;
            }
            return true;
        };
        auto text = [&](std::string& out) {
            std::string_view v;
            if (!value(v)) return false;
            out = v;
            return true;
        };
        auto flag = [&](bool& out) {
            if (inline_value) {
                error = std::string(name) + " takes no value";
                return false;
            }
            out = true;
            return true;
        };
        unsigned long n = 0;
        bool ok = true;
        if (name == "--help" || name == "-h") {
            return ParseOutcome::Help;
        } else if (name == "--address") {
            ok = text(o.address);
            in_addr probe{};
            if (ok && ::inet_pton(AF_INET, o.address.c_str(), &probe) != 1) {
                error = "--address: not an IPv4 address: " + o.address;
                ok = false;
            }
        } else if (name == "--http-port") {
            ok = number(65535, n);
            o.http_port = static_cast<std::uint16_t>(n);
            if (ok && n == 0) {
                error = "--http-port: a port from 1 to 65535";
                ok = false;
            }
        } else if (name == "--version") {
            ok = text(o.version);
        } else if (name == "--product") {
            ok = text(o.product);
        } else if (name == "--mac") {
            ok = text(o.mac);
        } else if (name == "--hardware") {
            ok = text(o.hardware);
        } else if (name == "--serial") {
            ok = text(o.serial);
        } else if (name == "--auth") {
            std::string mode;
            ok = text(mode);
            if (mode == "none") {
                o.auth = AuthMode::None;
            } else if (mode == "qop") {
                o.auth = AuthMode::Qop;
            } else if (mode == "noqop") {
                o.auth = AuthMode::NoQop;
            } else if (mode == "md5-sess") {
                o.auth = AuthMode::Md5Sess;
            } else if (ok) {
                error = "--auth: one of none, qop, noqop, md5-sess: " + mode;
                ok = false;
            }
        } else if (name == "--user") {
            ok = text(o.user);
        } else if (name == "--password") {
            ok = text(o.password);
        } else if (name == "--realm") {
            ok = text(o.realm);
        } else if (name == "--opaque") {
            ok = text(o.opaque);
        } else if (name == "--new-nonce-per-challenge") {
            ok = flag(o.new_nonce_per_challenge);
        } else if (name == "--expect-image") {
            ok = text(o.expect_image);
        } else if (name == "--save") {
            ok = text(o.save);
        } else if (name == "--restart-ms") {
            ok = number(86400000, n);
            o.restart_ms = static_cast<unsigned>(n);
        } else if (name == "--restart-mode") {
            std::string mode;
            ok = text(mode);
            if (mode == "hold") {
                o.restart_mode = RestartMode::Hold;
            } else if (mode == "refuse") {
                o.restart_mode = RestartMode::Refuse;
            } else if (mode == "drop") {
                o.restart_mode = RestartMode::Drop;
            } else if (ok) {
                error = "--restart-mode: one of hold, refuse, drop: " + mode;
                ok = false;
            }
        } else if (name == "--tftp-timeout-ms") {
            ok = number(600000, n);
            o.tftp_timeout_ms = static_cast<unsigned>(n);
        } else if (name == "--tftp-retries") {
            ok = number(1000, n);
            o.tftp_retries = static_cast<unsigned>(n);
        } else if (name == "--progress-every") {
            ok = number(65535, n);
            o.progress_every = static_cast<unsigned>(n);
        } else if (name == "--wrong-version-after") {
            std::string v;
            ok = text(v);
            o.wrong_version_after = v;
        } else if (name == "--password-after") {
            std::string v;
            ok = text(v);
            o.password_after = v;
        } else if (name == "--never-return") {
            ok = flag(o.never_return);
        } else if (name == "--no-answer") {
            ok = flag(o.no_answer);
        } else if (name == "--no-reply") {
            ok = flag(o.no_reply);
        } else if (name == "--never-close") {
            ok = flag(o.never_close);
        } else if (name == "--never-close-upgrade") {
            ok = flag(o.never_close_upgrade);
        } else if (name == "--stop-ack-at") {
            ok = number(65535, n);
            o.stop_ack_at = static_cast<unsigned>(n);
        } else if (name == "--drop-ack-every") {
            ok = number(65535, n);
            o.drop_ack_every = static_cast<unsigned>(n);
        } else if (name == "--duplicate-acks") {
            ok = flag(o.duplicate_acks);
        } else if (name == "--stray-from-other-port") {
            ok = flag(o.stray_from_other_port);
        } else if (name == "--stray-at-block") {
            ok = number(65535, n);
            o.stray_at_block = static_cast<unsigned>(n);
            if (ok && n == 0) {
                error = "--stray-at-block: blocks count from 1";
                ok = false;
            }
        } else if (name == "--drop") {
            ok = number(100, n);
            o.net.drop = static_cast<unsigned>(n);
        } else if (name == "--duplicate") {
            ok = number(100, n);
            o.net.duplicate = static_cast<unsigned>(n);
        } else if (name == "--reorder") {
            ok = number(100, n);
            o.net.reorder = static_cast<unsigned>(n);
        } else if (name == "--delay") {
            ok = number(100, n);
            o.net.delay = static_cast<unsigned>(n);
        } else if (name == "--delay-ms") {
            ok = number(60000, n);
            o.net.delay_ms = static_cast<unsigned>(n);
        } else if (name == "--reorder-ms") {
            ok = number(60000, n);
            o.net.reorder_ms = static_cast<unsigned>(n);
        } else if (name == "--net-seed") {
            ok = number(4294967295ul, n);
            o.net.seed = n;
        } else if (name == "--net-direction") {
            std::string d;
            ok = text(d);
            if (d == "both") {
                o.net.to_device = o.net.from_device = true;
            } else if (d == "to-device") {
                o.net.to_device = true;
                o.net.from_device = false;
            } else if (d == "from-device") {
                o.net.to_device = false;
                o.net.from_device = true;
            } else if (ok) {
                error = "--net-direction: one of both, to-device, from-device: " + d;
                ok = false;
            }
        } else if (name == "--net-protocol") {
            std::string p;
            ok = text(p);
            if (p == "both" || p == "tftp" || p == "http") {
                o.net_tftp = p != "http";
                o.net_http = p != "tftp";
            } else if (ok) {
                error = "--net-protocol: one of both, tftp, http: " + p;
                ok = false;
            }
        } else if (name == "--slow-http-ms") {
            ok = number(60000, n);
            o.slow_http_ms = static_cast<unsigned>(n);
        } else if (name == "--request-timeout-ms") {
            ok = number(600000, n);
            o.request_timeout_ms = static_cast<unsigned>(n);
        } else if (name == "--stranger") {
            ok = text(o.stranger);
            in_addr probe{};
            if (ok && ::inet_pton(AF_INET, o.stranger.c_str(), &probe) != 1) {
                error = "--stranger: not an IPv4 address: " + o.stranger;
                ok = false;
            }
        } else if (name == "--tftp-client") {
            ok = text(o.tftp_client);
            if (ok && o.tftp_client != "busybox" && o.tftp_client != "tftp-hpa") {
                error = "--tftp-client: one of busybox, tftp-hpa: " + o.tftp_client;
                ok = false;
            }
        } else if (name == "--exit-after-upgrade") {
            ok = flag(o.exit_after_upgrade);
        } else {
            error = "unknown option: " + std::string(arg) + " (see --help)";
            ok = false;
        }
        if (!ok) return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

}  // namespace zoq::sim
