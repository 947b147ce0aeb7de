// SPDX-License-Identifier: MIT
// The program's one privileged act: binding the TFTP listener's UDP port (69 and up, below the
// ports an ordinary user may bind on Linux). This program never holds a privilege. Where it may
// not bind the port itself, a helper executable of its own (zoq-upgrade-bind), the one file that
// carries the right, creates and binds a fresh socket and hands it over. The helper runs only
// while the listener binds. Without capabilities (Windows) every bind is ordinary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "os/socket.h"

namespace zoq {

// Where the helper is looked for, in order, fixed when the program is built: the installation
// prefix's libexec/zoq-upgrade/, then /usr/local/libexec/zoq-upgrade/, where `make run` puts a
// copy for the build tree. The first one that root alone could have put there is the one run.
std::vector<std::string> bind_helper_paths();

enum class PortBindOutcome { Bound, Refused };

struct PortBind {
    PortBindOutcome outcome = PortBindOutcome::Refused;
    // The system's code of a refusal (EACCES: no right; EADDRINUSE: taken), for the trace.
    int error = 0;
};

// The binds of one port search. The helper, when one is needed, is started at the first port
// this process may not bind and ends with the search (or at once, once it has bound a port).
class PortBinder {
  public:
    PortBinder();
    explicit PortBinder(std::vector<std::string> helper_paths);
    ~PortBinder();
    PortBinder(const PortBinder&) = delete;
    PortBinder& operator=(const PortBinder&) = delete;

    // Binds the IPv4 UDP `socket` to ip:port (host order). Where this process lacks the right,
    // the helper's socket, bound there, replaces `socket`. Why a helper could not be used is
    // traced once, and it is not tried again in this search.
    PortBind bind(Socket& socket, std::uint32_t ip, std::uint16_t port);

  private:
    struct Helper;
    // Looks for a trusted helper and starts it; false (traced) when none can be.
    bool start_helper();
    // The started helper's bind: 0 and its socket in `socket`, -1 when it gave no answer (it
    // is gone, and why is traced), or the error code it answered or that its socket earns.
    int bind_by_helper(Socket& socket, std::uint32_t ip, std::uint16_t port);
    // Why the helper said nothing: its exit status tells a refused grant from a crash.
    void trace_silent_helper(const std::string& path, int status) const;
    std::vector<std::string> helper_paths_;
    std::unique_ptr<Helper> helper_;
    bool helper_unusable_ = false;
    bool refusals_traced_ = false;
};

// An ordinary bind of the IPv4 UDP `socket` to ip:port (host order), with no helper.
PortBind bind_port(int socket, std::uint32_t ip, std::uint16_t port);

// The symbolic name of an error code from the calls above, such as "EACCES", for the trace.
const char* error_name(int code);

}  // namespace zoq
