#include "common/quit_signals.h"
#include "support/event_loop.h"
#include "support/message_guard.h"

#include <QLoggingCategory>

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <vector>

namespace orvane {
namespace {

using test::WaitUntil;

bool HasDefaultDisposition(int signalNumber) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL;
}

class QuitSignalsTest : public testing::Test {
  protected:
    QuitSignalsTest() {
        QObject::connect(&quit, &QuitSignals::quitRequested,
                         [this](int signalNumber) { received.push_back(signalNumber); });
    }

    QuitSignals quit;
    std::vector<int> received;
};

// Delivered later from the event loop, never inside the handler; a second object leaves the
// first in charge, and the last one gone puts the defaults back.
TEST(QuitSignals, EachArrivesThroughTheEventLoopUntilTheObjectGoes) {
    for (const int signalNumber : QuitSignals::kSignals) {
        ASSERT_TRUE(HasDefaultDisposition(signalNumber)) << signalNumber;
    }
    {
        QuitSignals quit;
        ASSERT_TRUE(quit.installed());
        std::vector<int> received;
        QObject::connect(&quit, &QuitSignals::quitRequested,
                         [&](int signalNumber) { received.push_back(signalNumber); });
        {
            test::ExpectedMessage refused(QtWarningMsg, "orvane.app", "already installed");
            QuitSignals second;
            EXPECT_FALSE(second.installed());
        }
        for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT}) {
            received.clear();
            ASSERT_EQ(std::raise(signalNumber), 0);
            EXPECT_TRUE(received.empty());
            ASSERT_TRUE(WaitUntil([&] { return !received.empty(); })) << signalNumber;
            EXPECT_EQ(received, std::vector<int>{signalNumber});
        }
    }
    for (const int signalNumber : QuitSignals::kSignals) {
        EXPECT_TRUE(HasDefaultDisposition(signalNumber)) << signalNumber;
    }
}

TEST_F(QuitSignalsTest, ASignalDuringADeliveryWaitsForItInsteadOfReentering) {
    int depth = 0;
    int deepest = 0;
    QObject::connect(&quit, &QuitSignals::quitRequested, [&](int signalNumber) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (signalNumber == SIGTERM) {
            // A receiver that runs an event loop, as a dialog would, while another one comes.
            std::raise(SIGHUP);
            test::Pump(100);
        }
        --depth;
    });

    std::raise(SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGHUP}));
    EXPECT_EQ(deepest, 1);
}

TEST_F(QuitSignalsTest, ManySignalsAtOnceEndInDeliveriesNotInACrash) {
    // Enough to fill the pair: the handler must drop what does not fit, never block.
    QLoggingCategory::setFilterRules("orvane.app.info=false");
    // A handler that blocks would hang here with the quit signals masked; the alarm ends it.
    ::alarm(10);
    for (int i = 0; i < 5000; ++i) {
        std::raise(SIGTERM);
    }
    ASSERT_TRUE(WaitUntil([&] { return !received.empty(); }));
    test::Pump(50);
    for (const int signalNumber : received) {
        EXPECT_EQ(signalNumber, SIGTERM);
    }
    ::alarm(0);
    QLoggingCategory::setFilterRules({});
}

TEST(QuitSignals, AHangUpIgnoredFromTheStartStaysIgnored) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, nullptr), 0);
    {
        QuitSignals quit;
        ASSERT_TRUE(quit.installed());
        int received = 0;
        QObject::connect(&quit, &QuitSignals::quitRequested, [&](int) { ++received; });
        std::raise(SIGHUP);
        std::raise(SIGTERM);
        ASSERT_TRUE(WaitUntil([&] { return received > 0; }));
        test::Pump(20);
        EXPECT_EQ(received, 1);  // the SIGTERM only
    }
    struct sigaction current {};
    ::sigaction(SIGHUP, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    ::signal(SIGHUP, SIG_DFL);
}

}  // namespace
}  // namespace orvane
