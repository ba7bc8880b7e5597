#include "common/quit_signals.h"
#include "support/event_loop.h"
#include "support/message_guard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <vector>

namespace orvane {
namespace {

using test::WaitUntil;

sighandler_t Disposition(int signalNumber) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;  // a handler with SA_SIGINFO shows here too
}

// Delivered later from the event loop, never inside the handler, nor inside a delivery that
// runs an event loop as a dialog would (the SIGTERM's raises a SIGHUP); a second object leaves
// the first in charge, and the last one gone puts the defaults back.
TEST(QuitSignals, EachArrivesFromTheEventLoopOneAtATimeUntilTheObjectGoes) {
    for (const int signalNumber : QuitSignals::kSignals) {
        ASSERT_EQ(Disposition(signalNumber), SIG_DFL) << signalNumber;
    }
    {
        QuitSignals quit;
        ASSERT_TRUE(quit.installed());
        std::vector<int> received;
        int depth = 0;
        int deepest = 0;
        QObject::connect(&quit, &QuitSignals::quitRequested, [&](int signalNumber) {
            received.push_back(signalNumber);
            deepest = std::max(deepest, ++depth);
            if (signalNumber == SIGTERM) {
                std::raise(SIGHUP);
                test::Pump(100);
            }
            --depth;
        });
        {
            test::ExpectedMessage refused(QtWarningMsg, "orvane.app", "already installed");
            QuitSignals second;
            EXPECT_FALSE(second.installed());
        }
        for (const int signalNumber : {SIGINT, SIGHUP, SIGTERM}) {
            received.clear();
            ASSERT_EQ(std::raise(signalNumber), 0);
            EXPECT_TRUE(received.empty());
            ASSERT_TRUE(WaitUntil([&] {
                return received.size() == (signalNumber == SIGTERM ? 2u : 1u);
            })) << signalNumber;
            EXPECT_EQ(received, (signalNumber == SIGTERM ? std::vector<int>{SIGTERM, SIGHUP}
                                                         : std::vector<int>{signalNumber}));
        }
        EXPECT_EQ(deepest, 1);
    }
    for (const int signalNumber : QuitSignals::kSignals) {
        EXPECT_EQ(Disposition(signalNumber), SIG_DFL) << signalNumber;
    }
}

TEST(QuitSignals, AHangUpIgnoredFromTheStartStaysIgnored) {
    ASSERT_NE(::signal(SIGHUP, SIG_IGN), SIG_ERR);
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
    EXPECT_EQ(Disposition(SIGHUP), SIG_IGN);
    ::signal(SIGHUP, SIG_DFL);
}

}  // namespace
}  // namespace orvane
