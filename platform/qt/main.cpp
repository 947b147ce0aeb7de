// SPDX-License-Identifier: MIT
// zoq-upgrade: one firmware upgrade, run on the Qt front end.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/state.h"
#include "app/workflow.h"
#include "common/clock.h"
#include "platform/qt/qt_toolkit.h"

namespace {

bool set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Qt aborts with a page about platform plugins when it finds no display; one line says more.
// QT_QPA_PLATFORM keeps its meaning: with it the user has chosen a platform (offscreen, vnc).
bool display_available() {
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

}  // namespace

int main() {
    if (!display_available()) {
        std::fputs(
            "zoq-upgrade: no graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
            "start it from a desktop session\n",
            stderr);
        return 1;
    }
    // The program has no command line: Qt must not take options such as -platform or -style
    // from what a user types, so it gets its name and nothing else.
    static char name[] = "zoq-upgrade";
    static char* qt_argv[] = {name, nullptr};
    static int qt_argc = 1;
    QApplication app(qt_argc, qt_argv);
    QApplication::setApplicationName(QStringLiteral("zoq-upgrade"));
    QGuiApplication::setDesktopFileName(QStringLiteral("zoq-upgrade"));

    zoq::QtToolkit toolkit;
    zoq::RealClock clock;
    // The run's record lives as long as the process: threads that outlive the entry routine
    // (the TFTP listener) keep using it until they end the process themselves.
    auto* state = new zoq::UpgradeState{};
    state->instance = &toolkit;
    state->clock = &clock;
    return zoq::run_upgrade(*state);
}
