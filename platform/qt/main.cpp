// SPDX-License-Identifier: MIT
// zoq-upgrade: one firmware upgrade, run on the Qt front end.
#include <QApplication>

#include "app/workflow.h"
#include "common/clock.h"
#include "common/state.h"
#include "platform/qt/qt_toolkit.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
