// Entry point of the core tests that need no event loop: GoogleTest with the message guard, so
// a warning the code under test logs unexpectedly fails the test that caused it.
#include "support/message_guard.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Default folders (the videos folder recordings go to) stay out of the user's own.
    QStandardPaths::setTestModeEnabled(true);
    testing::InitGoogleTest(&argc, argv);
    orvane::test::InstallMessageGuard();
    return RUN_ALL_TESTS();
}
