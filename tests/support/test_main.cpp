// Entry point of the tests, on the offscreen platform. Core tests that need an event loop
// (sockets, timers) get a QGuiApplication, which gives QImage and QPainter what they need,
// and unexpected warnings of our own categories fail the running test (see message_guard.h).
// Widget tests (ORVANE_TEST_WIDGETS) get a QApplication, and any critical Qt message fails
// the running test.
#include "support/message_guard.h"

#ifdef ORVANE_TEST_WIDGETS
#include <QApplication>
#else
#include <QGuiApplication>
#endif
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {
#ifdef ORVANE_TEST_WIDGETS
using TestApplication = QApplication;
QtMessageHandler g_previousHandler = nullptr;
void FailOnCritical(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        ADD_FAILURE() << "critical Qt message: " << message.toStdString();
    }
    if (g_previousHandler) {
        g_previousHandler(type, context, message);
    }
}
void InstallHandler() {
    g_previousHandler = qInstallMessageHandler(FailOnCritical);
}
#else
using TestApplication = QGuiApplication;
void InstallHandler() {
    orvane::test::InstallMessageGuard();
}
#endif
}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Default folders (the videos folder recordings go to) stay out of the user's own.
    QStandardPaths::setTestModeEnabled(true);
    testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    InstallHandler();
    return RUN_ALL_TESTS();
}
