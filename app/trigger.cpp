// SPDX-License-Identifier: MIT
#include "app/trigger.h"

#include <new>

#include "app/completion.h"
#include "app/failure.h"
#include "app/request_page.h"
#include "common/process.h"
#include "common/text.h"
#include "os/thread.h"
#include "res/texts.h"
#include "tftp/listener.h"
#include "ui/port.h"

namespace zoq {

std::string upgrade_request_path(std::uint32_t local_ip, std::uint16_t port,
                                 const char* file_name) {
    Text<128> link;
    format_text(link, "/admin/upgrade?tftp://%u.%u.%u.%u:%u%s", (local_ip >> 24) & 0xFFu,
                (local_ip >> 16) & 0xFFu, (local_ip >> 8) & 0xFFu, local_ip & 0xFFu,
                static_cast<unsigned>(port), file_name);
    return std::string(text_of(link));
}

void tftp_listener_thread(UpgradeState& state, TftpListener* listener) {
    Toolkit& ui = *state.instance;
    TransferDialogs dialogs(ui, text_of(state.device_ip_text));
    const TftpOffer offer{
        text_of(state.tftp_file_name), state.device_ip, {state.image.data, state.image.size}};
    listener->heartbeat = state.heartbeat;
    const TransferOutcome outcome = tftp_listener_serve(*listener, offer, dialogs);
    switch (outcome) {
        case TransferOutcome::Cancelled:
            end_run(ui, MSG_USER_ABORT);
        case TransferOutcome::NoMemory:
            end_run(ui, MSG_SESSION_MALLOC);
        case TransferOutcome::Complete:
        case TransferOutcome::Failed:
            break;
    }
    upgrade_completion(state, outcome, dialogs);
    listener->socket.close();
    end_process();
}

std::uint16_t tftp_listener_start(UpgradeState& state, std::uint32_t local_ip) {
    Toolkit& ui = *state.instance;
    // Owned by the listener thread until the process ends; never freed.
    auto* listener = new (std::nothrow) TftpListener{};
    if (!listener) end_run(ui, MSG_TFTP_MALLOC);
    const ListenerBind bound = tftp_listener_bind(*listener, local_ip);
    switch (bound) {
        case ListenerBind::NoSocket:
            end_run(ui, MSG_TFTP_SOCKET);
        case ListenerBind::NoPort:
            end_run(ui, MSG_TFTP_BIND);
        case ListenerBind::Bound:
            break;
    }
    const std::uint16_t port = listener->port;
    ThreadStart started = start_thread(
        state.threads, [&state, listener] { tftp_listener_thread(state, listener); }, std::nothrow);
    // The system refused the thread (or the memory for it): as short of resources as a
    // listener record that cannot be allocated, and told the same way.
    if (started.outcome == ThreadStartOutcome::Refused) end_run(ui, MSG_TFTP_MALLOC);
    started.thread.detach();
    return port;
}

void upgrade_trigger(UpgradeState& state) {
    std::uint16_t port = tftp_listener_start(state, state.local_ip);
    std::string link = upgrade_request_path(state.local_ip, port, state.tftp_file_name.data());
    // Whether or not the device answers, the listener's waiting dialog now carries the run.
    request_page(state, state.local_ip, state.device_ip, link.c_str(),
                 state.response_buffer.data());
    for (;;) state.instance->idle();
}

}  // namespace zoq
