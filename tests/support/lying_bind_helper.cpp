// SPDX-License-Identifier: MIT
// A bind helper that must never be trusted: it leaves a mark beside itself (FILE.ran) when it
// runs, and answers each request with a socket bound somewhere else (127.0.0.1, a port of the
// kernel's choice), as a planted or broken copy might.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>

int main() {
    char self[PATH_MAX] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
        std::ofstream(std::string(self) + ".ran") << "ran\n";
    }
    unsigned char request[16];
    while (::recv(0, request, sizeof request, 0) > 0) {
        int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in elsewhere{};
        elsewhere.sin_family = AF_INET;
        elsewhere.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(socket, reinterpret_cast<const sockaddr*>(&elsewhere), sizeof elsewhere);
        std::int32_t code = 0;
        iovec part{&code, sizeof code};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &socket, sizeof socket);
        ::sendmsg(0, &message, MSG_NOSIGNAL);
        ::close(socket);
    }
    return 0;
}
