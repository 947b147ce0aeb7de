// SPDX-License-Identifier: MIT
// gethostname is a Winsock call: it answers only after the socket layer was started.
#include <winsock2.h>

#include <climits>

#include "os/host.h"

namespace zoq {

void read_host_name(char* out, std::size_t room) {
    if (room > 0) ::gethostname(out, room > INT_MAX ? INT_MAX : static_cast<int>(room));
}

}  // namespace zoq
