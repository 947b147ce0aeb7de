// SPDX-License-Identifier: MIT
#include "common/net.h"

namespace zoq {

void Socket::close() {
    if (fd_ != INVALID_SOCKET_HANDLE) {
        close_socket(fd_);
        fd_ = INVALID_SOCKET_HANDLE;
    }
}

}  // namespace zoq
