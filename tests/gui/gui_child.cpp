// SPDX-License-Identifier: MIT
// zoq-gui-child SCENARIO: one way in which the program ends its process while Qt runs, for the
// process-end tests to watch from outside (exit code, standard error). A timer on the GUI
// thread plays the user: it presses Cancel where the scenario says and OK in message boxes.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/failure.h"
#include "app/state.h"
#include "common/process.h"
#include "common/text.h"
#include "gui_support.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/helpers.h"
#include "ui/transfer.h"
#include "web/request.h"

using namespace zoq;
using namespace std::chrono_literals;

namespace {

// A click is queued, not made inside the timer's handler: what it starts (a message box's own
// loop) must not stop this timer, which Qt never runs inside itself.
void click_later(QAbstractButton* b) {
    QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection);
}

// Presses Cancel once in the newest dialog of `cancel_template` (0: none) and OK in every
// message box.
void play_user(QtToolkit& ui, int cancel_template) {
    auto* timer = new QTimer(qApp);
    auto cancelled = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, [&ui, cancel_template, cancelled] {
        if (QMessageBox* box = test::visible_message_box()) {
            click_later(box->buttons().front());
            return;
        }
        if (!cancel_template || *cancelled) return;
        DialogHandle h = ui.find_dialog(cancel_template);
        QWidget* w = h ? ui.window_of(h) : nullptr;
        if (w && w->isVisible()) {
            *cancelled = true;
            click_later(w->findChild<QPushButton*>(QStringLiteral("control_2")));
        }
    });
    timer->start(5);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    const std::string scenario = argv[1];
    QtToolkit ui;
    auto* state = new UpgradeState{};
    state->instance = &ui;
    copy_text(state->device_ip_text.data(), state->device_ip_text.size(), "127.0.0.2");
    test::Recorder recorder;

    if (scenario == "worker-ends-while-modal") {
        // A fatal condition on a worker while the main thread sits in a modal dialog.
        std::thread([] {
            std::this_thread::sleep_for(50ms);
            end_process();
        }).detach();
        ui.dialog_box(IDD_NOTICE, test::recorder_proc, &recorder);
    } else if (scenario == "listener-cancel") {
        // Cancel in the waiting dialog, owned and pumped by the listener thread: the abort
        // message, then the end of the process from that thread; the main thread idles.
        std::thread([&ui] {
            TransferDialogs waiting(ui, "127.0.0.2");
            waiting.start_waiting(1000);
            for (int i = 0;; ++i) {
                if (waiting.poll_waiting(i % 1000)) end_run(ui, MSG_USER_ABORT);
                std::this_thread::sleep_for(1ms);
            }
        }).detach();
        play_user(ui, IDD_WAITING);
        ui.idle();
    } else if (scenario == "worker-message-then-end") {
        // A socket failure on the request worker while the main thread pumps the progress
        // dialog: the message, then the end from the worker.
        ProgressDialog progress{text_of(state->device_ip_text)};
        DialogHandle p = ui.create_dialog(IDD_PROGRESS, progress_dialog_proc, &progress);
        std::thread([&ui] {
            show_error(ui, MSG_HTTP_OPEN);
            end_process();
        }).detach();
        play_user(ui, 0);
        for (;;) {
            ui.pump(p, false);
            std::this_thread::sleep_for(1ms);
        }
    } else if (scenario == "gui-cancel") {
        // Cancel in the progress dialog of a request run on the main thread.
        ProgressDialog progress{text_of(state->device_ip_text)};
        DialogHandle p = ui.create_dialog(IDD_PROGRESS, progress_dialog_proc, &progress);
        play_user(ui, IDD_PROGRESS);
        for (;;) {
            ui.pump(p, false);
            if (progress.cancelled) end_run(ui, MSG_USER_ABORT);
            std::this_thread::sleep_for(1ms);
        }
    } else if (scenario == "wrong-thread-pump") {
        // Our own check: only the owner thread may pump a dialog.
        std::thread([&ui, &recorder] {
            ui.create_dialog(IDD_UPLOADING, test::recorder_proc, &recorder);
            for (;;) std::this_thread::sleep_for(1s);
        }).detach();
        test::wait_until([&] { return ui.find_dialog(IDD_UPLOADING) != NO_DIALOG; });
        ui.pump(ui.find_dialog(IDD_UPLOADING), true);
    } else {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    return 99;  // every scenario ends the process before this
}
