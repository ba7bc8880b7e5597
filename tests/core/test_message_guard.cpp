// The guard that turns unexpected warnings of our own categories into test failures.
#include "common/log.h"
#include "support/message_guard.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::ExpectedMessage;

// An undeclared warning of ours or any critical fails the test; a declared one passes, but only
// for its category and type, and it must come.
TEST(MessageGuard, AnUndeclaredWarningFailsTheTestADeclaredOnePassesAndMustCome) {
    EXPECT_NONFATAL_FAILURE(qCWarning(lcSite) << "link lost", "[orvane.site] link lost");
    EXPECT_NONFATAL_FAILURE(qCCritical(lcMedia) << "decoder gone", "decoder gone");
    // Qt's own warnings are not ours to judge; its criticals are.
    qWarning() << "a Qt warning";
    EXPECT_NONFATAL_FAILURE(qCritical() << "a Qt critical", "a Qt critical");
    {
        const ExpectedMessage expected(QtWarningMsg, "orvane.store", "cannot open");
        qCWarning(lcStore) << "cannot open the store";
        EXPECT_EQ(expected.seen(), 1);
        // Declared for another category or type: still a failure.
        EXPECT_NONFATAL_FAILURE(qCWarning(lcSite) << "cannot open", "cannot open");
        EXPECT_NONFATAL_FAILURE(qCCritical(lcStore) << "cannot open", "cannot open");
    }
    EXPECT_NONFATAL_FAILURE(
        { const ExpectedMessage never(QtWarningMsg, "orvane.store", "cannot open"); },
        "never came");
    // Out of scope, the same warning fails again.
    EXPECT_NONFATAL_FAILURE(qCWarning(lcStore) << "cannot open the store", "cannot open");
}

}  // namespace
}  // namespace orvane
