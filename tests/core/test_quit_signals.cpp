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

sighandler_t Disposition(int signalNumber) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;  // a handler with SA_SIGINFO shows here too
}

// Delivered later from the event loop, never inside the handler; a second object leaves the
// first in charge, and the last one gone puts the defaults back.
TEST(QuitSignals, EachArrivesThroughTheEventLoopUntilTheObjectGoes) {
    for (const int signalNumber : QuitSignals::kSignals) {
        ASSERT_EQ(Disposition(signalNumber), SIG_DFL) << signalNumber;
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
        EXPECT_EQ(Disposition(signalNumber), SIG_DFL) << signalNumber;
    }
}

// A receiver that runs an event loop, as a dialog would, while another signal comes gets it
// after it returns, not inside. Then a flood fills the socket pair: the handler drops what
// does not fit and never blocks (it would hang with the quit signals masked; the alarm ends it).
TEST(QuitSignals, ASignalDuringADeliveryWaitsAndAFloodEndsInDeliveriesNotACrash) {
    QuitSignals quit;
    std::vector<int> received;
    int depth = 0;
    int deepest = 0;
    QObject::connect(&quit, &QuitSignals::quitRequested, [&](int signalNumber) {
        received.push_back(signalNumber);
        deepest = std::max(deepest, ++depth);
        if (signalNumber == SIGTERM && received.size() == 1) {
            std::raise(SIGHUP);
            test::Pump(100);
        }
        --depth;
    });
    std::raise(SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGHUP}));
    EXPECT_EQ(deepest, 1);

    received.clear();
    QLoggingCategory::setFilterRules("orvane.app.info=false");
    ::alarm(10);
    for (int i = 0; i < 5000; ++i) {
        std::raise(SIGINT);
    }
    ASSERT_TRUE(WaitUntil([&] { return !received.empty(); }));
    test::Pump(50);
    EXPECT_TRUE(
        std::all_of(received.begin(), received.end(), [](int got) { return got == SIGINT; }));
    ::alarm(0);
    QLoggingCategory::setFilterRules({});
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
