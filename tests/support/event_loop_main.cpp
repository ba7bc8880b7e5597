// Entry point of core tests that need an event loop (sockets, timers). QGuiApplication on
// the offscreen platform gives QImage and QPainter what they need; no widget is involved.
// Unexpected warnings of our own categories fail the running test (see message_guard.h).
#include "support/message_guard.h"

#include <QGuiApplication>

#include <QStandardPaths>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Default folders (the videos folder recordings go to) stay out of the user's own.
    QStandardPaths::setTestModeEnabled(true);
    testing::InitGoogleTest(&argc, argv);
    QGuiApplication app(argc, argv);
    orvane::test::InstallMessageGuard();
    return RUN_ALL_TESTS();
}
