// Sites calling back: a caller proves itself a site before it replaces the operator's link,
// then logs in as alarm, hands over its event and streams channels that record themselves.
#include "site/caller_filter.h"
#include "site/login_payload.h"
#include "support/message_guard.h"
#include "support/simulated_link.h"

#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using sim::SiteSimulatorOptions;
using test::StartSite;
using test::WaitUntil;

constexpr int kShortProofMs = 300;

// The session listening for call-ins on a port of its own.
class CallBackTest : public test::SessionLink {
  protected:
    void SetUp() override {
        session.listener().SetProofTimeout(kShortProofMs);
        // Not the default port, 1500: it may be another Orvane's on this machine.
        ASSERT_TRUE(session.listener().Listen(0));
    }

    static SiteSimulatorOptions CallingSite() {
        SiteSimulatorOptions options;
        options.accounts.clear();  // only the built-in alarm account gets in
        options.streamOnLogin = true;
        options.eventRecord =
            sim::MakeEventRecord("Front desk", "555-0100", "1 Gate Road", "Door forced");
        return options;
    }
    bool CallBack(sim::SiteSimulator& site) {
        return site.CallBack("127.0.0.1", session.listener().port());
    }
    int LiveWindows() const {
        return static_cast<int>(
            std::count_if(host.windows().begin(), host.windows().end(),
                          [](const auto& window) { return !window->closed(); }));
    }
};

TEST_F(CallBackTest, ACallingSiteReplacesTheLinkLogsInAsAlarmAndItsChannelsStartTheAlarm) {
    auto operatorSite = StartSite();
    ASSERT_TRUE(ConnectTo(*operatorSite));
    const QPointer<SiteConnection> operatorLink = session.connection();
    auto caller = StartSite(CallingSite());
    // The alarm is told once the frame that made its window has been handled: a host that
    // asks the link about its windows then must find them counted.
    int alarmsInDispatch = 0;
    host.onAlarm = [&] { alarmsInDispatch += session.connection()->dispatching() ? 1 : 0; };

    ASSERT_TRUE(CallBack(*caller));
    ASSERT_TRUE(WaitUntil([&] { return LiveWindows() == 2 && events.records.size() == 1; }));

    EXPECT_TRUE(operatorLink.isNull());
    EXPECT_TRUE(session.connection()->alarmMode());
    // The dual-stack listener sees ::ffff:127.0.0.1; the operator reads it dotted.
    EXPECT_EQ(session.connection()->peerText().toStdString(), "IP Address: 127.0.0.1");
    // Its clips name it by its address: the port is only the one its call went out from.
    EXPECT_EQ(session.connection()->channels().site(), "127.0.0.1");
    EXPECT_TRUE(WaitUntil([&] { return operatorSite->sessionCount() == 0; }));

    // The greeting: the alarm-mode Login (the built-in account), then EventQuery, each once.
    ASSERT_EQ(test::RequestsOf(*caller, {ClientMessage::Login, ClientMessage::EventQuery}).size(),
              2u);
    EXPECT_EQ(caller->received()[1].type, std::uint8_t(ClientMessage::EventQuery));
    const LoginPayload alarmLogin = BuildLoginPayload(settings.LoadCall(), /*alarmMode=*/true);
    EXPECT_EQ(caller->received()[0].payload, Block(alarmLogin.begin(), alarmLogin.end()));

    EXPECT_EQ(events.records.front(), caller->options().eventRecord);
    EXPECT_EQ(host.alarms(), 2);
    EXPECT_EQ(alarmsInDispatch, 0);
    for (const auto& window : host.windows()) {
        EXPECT_EQ(window->closed(), !window->alarmActionsStarted());
    }

    SCOPED_TRACE("a site retrying many times leaves one link and no leaked handles");
    test::Pump(100);
    const int filesBefore = test::OpenFileDescriptors();
    constexpr int kCalls = 15;
    for (int call = 2; call <= kCalls; ++call) {
        ASSERT_TRUE(CallBack(*caller));
        ASSERT_TRUE(WaitUntil([&] { return session.callBacks() == call && LiveWindows() == 2; }));
    }
    ASSERT_TRUE(WaitUntil([&] { return caller->sessionCount() == 1; }));
    test::Pump(200);
    EXPECT_EQ(session.findChildren<SiteConnection*>().size(), 1);
    EXPECT_EQ(session.listener().pendingCallers(), 0);
    EXPECT_EQ(LiveWindows(), 2);
    EXPECT_EQ(events.records.size(), std::size_t(kCalls));
    EXPECT_LE(test::OpenFileDescriptors(), filesBefore + 1);
}

TEST_F(CallBackTest, CallersThatAreNoSiteOrFromAHostNotAdmittedNeverTouchTheOperatorsLink) {
    auto operatorSite = StartSite();
    ASSERT_TRUE(ConnectTo(*operatorSite));
    SiteConnection* const operatorLink = session.connection();

    // A stray HTTP request, framed messages that answer no greeting (a type no site sends, a
    // refusal, a limit, a close, a login again), and a caller that says nothing at all.
    // Each caller is taken before the next calls: the kernel queues only five.
    std::vector<Block> sent{Block{'G', 'E', 'T', ' ', '/', '\r', '\n', '\r', '\n'}};
    for (const auto type : {SiteMessage{77}, SiteMessage::LoginRejected, SiteMessage::LimitReached,
                            SiteMessage::SiteClosing, SiteMessage::LoginAgain}) {
        sent.push_back(test::SiteMessageOf(type));
    }
    sent.emplace_back();
    std::vector<std::unique_ptr<QTcpSocket>> callers;
    for (const Block& bytes : sent) {
        auto& caller = callers.emplace_back(std::make_unique<QTcpSocket>());
        caller->connectToHost("127.0.0.1", session.listener().port());
        ASSERT_TRUE(WaitUntil([&] { return caller->state() == QAbstractSocket::ConnectedState; }));
        test::Write(*caller, bytes);
    }
    ASSERT_TRUE(WaitUntil([&] { return session.listener().refused() == 7; }));
    EXPECT_EQ(session.listener().pendingCallers(), 0);
    EXPECT_TRUE(WaitUntil([&] {
        return std::all_of(callers.begin(), callers.end(), [](const auto& caller) {
            return caller->state() == QAbstractSocket::UnconnectedState;
        });
    }));
    EXPECT_EQ(session.connection(), operatorLink);
    EXPECT_TRUE(operatorLink->loggedIn());
    EXPECT_EQ(session.callBacks(), 0);
    EXPECT_TRUE(events.records.empty());

    SCOPED_TRACE("a caller from a host not admitted is dropped before the greeting");
    auto caller = StartSite(CallingSite());
    settings.WriteProfileString("Net", "CallBackFrom", "10.0.0.0/8, 192.168.1.7");
    {
        test::ExpectedMessage refused(QtWarningMsg, "orvane.site", "::ffff:127.0.0.1 refused");
        ASSERT_TRUE(CallBack(*caller));
        ASSERT_TRUE(WaitUntil([&] { return session.listener().refused() == 8; }));
    }
    EXPECT_TRUE(WaitUntil([&] { return caller->sessionCount() == 0; }));
    EXPECT_TRUE(caller->received().empty());
    EXPECT_EQ(session.connection(), operatorLink);
    EXPECT_EQ(session.callBacks(), 0);

    // The listener keeps listening: a site gets through. The loopback caller, reported by the
    // dual-stack listener as ::ffff:127.0.0.1, is admitted by its IPv4 address; the entry that
    // is no address is logged and skipped.
    settings.WriteProfileString("Net", "CallBackFrom", "127.0.0.0/8, gate.example");
    test::ExpectedMessage invalid(QtWarningMsg, "orvane.site", "gate.example");
    ASSERT_TRUE(CallBack(*caller));
    EXPECT_TRUE(WaitUntil([&] { return session.callBacks() == 1; }));
}

TEST_F(CallBackTest, IdleCallersCannotLockASiteOut) {
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    // One after the other, as the kernel queues only five callers the listener has not taken.
    for (int i = 0; i < EventListener::kMaxPendingCallers; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost("127.0.0.1", session.listener().port());
        ASSERT_TRUE(WaitUntil([&] { return session.listener().pendingCallers() == i + 1; }));
    }

    auto caller = StartSite(CallingSite());
    ASSERT_TRUE(CallBack(*caller));
    EXPECT_TRUE(WaitUntil([&] { return session.callBacks() == 1 && LiveWindows() == 2; }));
    EXPECT_EQ(session.listener().refused(), 1);  // the longest silent made room
    EXPECT_LE(session.listener().pendingCallers(), EventListener::kMaxPendingCallers);
}

// The alarm windows close with their link: kept, they would show and record the operator's
// channels under the calling site's names.
TEST_F(CallBackTest, AnAlarmLinkThatDropsGoesBackToTheOperatorsSiteOrEnds) {
    auto caller = StartSite(CallingSite());
    auto alarmLinkDrops = [&] {
        posted.clear();
        ASSERT_TRUE(CallBack(*caller));
        ASSERT_TRUE(WaitUntil([&] { return LiveWindows() == 2; }));
        caller->DropLinks();
        ASSERT_TRUE(WaitUntil([&] { return Posted(SiteNotice::LinkLost); }));
        session.Reconnect();
    };
    SCOPED_TRACE("no operator's site to go back to: it ends instead of retrying");
    alarmLinkDrops();
    EXPECT_EQ(session.connection(), nullptr);
    EXPECT_EQ(LiveWindows(), 0);
    EXPECT_EQ(session.state(), SiteSession::State::Closed);

    SCOPED_TRACE("it reconnects in normal mode to the operator's last site");
    auto operatorSite = StartSite();
    ASSERT_TRUE(ConnectTo(*operatorSite));
    alarmLinkDrops();
    ASSERT_TRUE(WaitUntil([&] { return session.state() == SiteSession::State::Connected; }));
    EXPECT_FALSE(session.connection()->alarmMode());
    ASSERT_TRUE(WaitUntil([&] { return operatorSite->CountReceived(ClientMessage::Login) == 2; }));
    // With the operator's account again, not the built-in one.
    const test::Requests logins = test::RequestsOf(*operatorSite, {ClientMessage::Login});
    EXPECT_EQ(logins.back(), logins.front());
    EXPECT_EQ(LiveWindows(), 0);
    EXPECT_EQ(session.connection()->OpenWindowCount(), 0);
    test::Pump(100);
    EXPECT_EQ(operatorSite->CountReceived(ClientMessage::OpenChannel), 0);
}

TEST_F(CallBackTest, ACallBackDuringAReconnectLoopEndsTheLoopAndKeepsTheNewLink) {
    auto operatorSite = StartSite();
    ASSERT_TRUE(ConnectTo(*operatorSite));
    operatorSite.reset();  // the operator's site is gone: every attempt at its port fails
    auto caller = StartSite(CallingSite());

    QTimer::singleShot(300, [&] { EXPECT_TRUE(CallBack(*caller)); });
    session.Reconnect();
    EXPECT_TRUE(session.reconnecting());
    ASSERT_TRUE(
        WaitUntil([&] { return session.connection() && session.connection()->alarmMode(); }));
    EXPECT_FALSE(session.reconnecting());
    EXPECT_TRUE(WaitUntil([&] { return LiveWindows() == 2 && events.records.size() == 1; }));
}

// Per row: the setting, the addresses admitted and refused (space-separated), and the entries
// logged as no address ('|'-separated). With nothing valid, no one is ever admitted.
TEST(CallerFilter, AdmitsTheAddressesAndRangesListed) {
    const char* const rows[][4] = {
        {"", "10.1.2.3 ::ffff:8.8.8.8 2001:db8::1", "", ""},
        {"192.168.1.7", "192.168.1.7 ::ffff:192.168.1.7", "192.168.1.8 ::1", ""},
        {"10.0.0.0/8, 172.16.5.0/24 ,", "10.255.0.1 172.16.5.200", "11.0.0.1 172.16.6.1", ""},
        {"10.9.9.9/8", "10.0.0.1", "9.9.9.9", ""},
        {"0.0.0.0/0", "1.2.3.4 ::ffff:1.2.3.4", "2001:db8::1", ""},
        {"1.2.3.4/32,5.6.7.8/31", "1.2.3.4 5.6.7.9", "1.2.3.5 5.6.7.10", ""},
        {"1.2.3.4, host.example, 1.2.3, 1.2.3.4.5, 256.1.1.1, 1.2.3.4/33, 1.2.3.4/, 1.2.3.4/-1, "
         "01234.1.1.1, 1.2.3.4 /8, 1..2.3",
         "1.2.3.4", "1.2.3.5",
         "host.example|1.2.3|1.2.3.4.5|256.1.1.1|1.2.3.4/33|1.2.3.4/|1.2.3.4/-1|01234.1.1.1|"
         "1.2.3.4 /8|1..2.3"},
        {"gate.example", "", "10.1.2.3 ::ffff:10.1.2.3", "gate.example"},
        {",", "", "10.1.2.3", ""},
    };
    for (const auto& [text, admitted, refused, invalid] : rows) {
        SCOPED_TRACE(text);
        const CallerFilter::Parsed parsed = CallerFilter::Parse(text);
        for (const auto& [addresses, admits] : {std::pair{admitted, true}, {refused, false}}) {
            for (const QString& address : QString(addresses).split(' ', Qt::SkipEmptyParts)) {
                EXPECT_EQ(parsed.filter.Admits(QHostAddress(address)), admits)
                    << address.toStdString();
            }
        }
        std::vector<std::string> expected;
        for (const QString& entry : QString(invalid).split('|', Qt::SkipEmptyParts)) {
            expected.push_back(entry.toStdString());
        }
        EXPECT_EQ(parsed.invalid, expected);
    }
}

}  // namespace
}  // namespace orvane
