// SPDX-License-Identifier: MIT
#include <unistd.h>

#include "os/host.h"

namespace zoq {

void read_host_name(char* out, std::size_t room) {
    if (room > 0) ::gethostname(out, room);
}

}  // namespace zoq
