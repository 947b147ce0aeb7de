// SPDX-License-Identifier: MIT
// zoq-dialog-gallery TEMPLATE: opens one of the ten dialogs as a real run shows it, with the
// program's own dialog procedures and example values (a device at 192.168.1.30, three PC
// addresses), on the thread that owns it in a run (the waiting and uploading dialogs on a
// listener-like thread). When it is on screen it prints "READY <window id> <caption>" on
// standard output; a line (or the end) of standard input ends the process. scripts/screenshots
// takes its pictures with it.
#include "tests/support/gallery.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/qt/qt_toolkit.h"

using namespace zoq;

namespace {

// Announces the dialog once it has been on screen for a moment, and types into it what a user
// would have typed by then.
void announce_when_shown(QtToolkit& ui, int template_id) {
    auto* timer = new QTimer(qApp);
    auto shown_for = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [&ui, template_id, timer, shown_for] {
        DialogHandle h = ui.find_dialog(template_id);
        QWidget* w = h ? ui.window_of(h) : nullptr;
        if (!w || !w->isVisible()) return;
        if (++*shown_for == 1) {
            if (template_id == IDD_ADDRESS || template_id == IDD_ADDRESS_PHONE) {
                ui.set_item_text(h, IDC_IP_ADDRESS, "192.168.1.30");
            } else if (template_id == IDD_PASSWORD) {
                ui.set_item_text(h, IDC_PASSWORD, "secret");
            }
        }
        if (*shown_for < 10) return;  // let the window system draw it
        timer->stop();
        std::printf("READY %llu %s\n", static_cast<unsigned long long>(w->winId()),
                    w->windowTitle().toUtf8().constData());
        std::fflush(stdout);
    });
    timer->start(50);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int template_id = argc > 1 ? std::atoi(argv[1]) : 0;
    if (!gallery::known_template(template_id)) return 2;
    QtToolkit ui;
    RealClock clock;
    UpgradeState* state = gallery::sample_state(ui, clock, template_id);
    gallery::end_on_input_line();
    announce_when_shown(ui, template_id);
    gallery::show(ui, state, template_id);
}
