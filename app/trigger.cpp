// SPDX-License-Identifier: MIT
#include "app/trigger.h"

#include "common/text.h"
#include "tftp/listener.h"
#include "ui/port.h"
#include "web/request.h"

namespace zoq {

std::string upgrade_request_path(std::uint32_t local_ip, std::uint16_t port,
                                 const char* file_name) {
    Text<128> link;
    format_text(link, "/admin/upgrade?tftp://%u.%u.%u.%u:%u%s", (local_ip >> 24) & 0xFFu,
                (local_ip >> 16) & 0xFFu, (local_ip >> 8) & 0xFFu, local_ip & 0xFFu,
                static_cast<unsigned>(port), file_name);
    return std::string(text_of(link));
}

void upgrade_trigger(UpgradeState& state) {
    std::uint16_t port = tftp_listener_start(state, state.local_ip);
    std::string link = upgrade_request_path(state.local_ip, port, state.tftp_file_name.data());
    // Whether or not the device answers, the listener's waiting dialog now carries the run.
    run_request(state, state.local_ip, HTTP_LOCAL_PORT, state.device_ip, DEVICE_HTTP_PORT,
                link.c_str(), state.response_buffer.data(), RESPONSE_CAPACITY);
    for (;;) state.instance->idle();
}

}  // namespace zoq
