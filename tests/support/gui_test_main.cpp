// Entry point of the widget tests: an offscreen QApplication, and any critical Qt message
// fails the running test.
#include <QApplication>

#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {
QtMessageHandler g_previousHandler = nullptr;
void FailOnCritical(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        ADD_FAILURE() << "critical Qt message: " << message.toStdString();
    }
    if (g_previousHandler) {
        g_previousHandler(type, context, message);
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Default folders (the videos folder recordings go to) stay out of the user's own.
    QStandardPaths::setTestModeEnabled(true);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    g_previousHandler = qInstallMessageHandler(FailOnCritical);
    return RUN_ALL_TESTS();
}
