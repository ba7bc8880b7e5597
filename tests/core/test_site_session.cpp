// The site session: who owns the link, what a teardown means, and the waits it survives.
#include "identify_server.h"
#include "support/event_loop.h"
#include "support/message_guard.h"
#include "support/pending_listener.h"
#include "support/simulated_link.h"
#include "wire/message_builder.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <filesystem>
#include <optional>

namespace orvane {
namespace {

using test::StartSite;
using test::WaitUntil;
using SiteSessionTest = test::SessionLink;

TEST_F(SiteSessionTest, OwnTeardownIsNotTakenForTheSiteClosingTheLink) {
    auto siteA = StartSite();
    auto siteB = StartSite();
    ASSERT_TRUE(ConnectTo(*siteA));

    // Replacing the connection (as a call-back does: destroy, create, start) must not send
    // the new one back to the old site.
    UseSitePort(siteB->port());
    ASSERT_EQ(session.ConnectTo("127.0.0.1"), SiteSession::ConnectResult::Connected);
    test::Pump(300);
    EXPECT_FALSE(Posted(SiteNotice::LinkLost));
    EXPECT_FALSE(Posted(SiteNotice::LinkEnded));
    EXPECT_EQ(siteA->CountReceived(ClientMessage::Login), 1);
    EXPECT_EQ(siteB->CountReceived(ClientMessage::Login), 1);
    EXPECT_EQ(session.state(), SiteSession::State::Connected);

    // The connection's own Close says nothing either.
    posted.clear();
    session.connection()->Close();
    test::Pump(100);
    EXPECT_TRUE(posted.empty());
}

TEST_F(SiteSessionTest, ACommandPostedByATornDownConnectionDoesNothing) {
    auto site = StartSite();
    ASSERT_TRUE(ConnectTo(*site));
    posted.clear();

    // The connection dispatches a LimitReached (which posts 32797), then goes before the
    // posted command is delivered.
    SiteConnection* old = session.connection();
    old->ReceiveChunk(
        BuildSiteMessage(static_cast<std::uint8_t>(SiteMessage::LimitReached), 0, 0, {}));
    old->Tick();
    session.TearDown();
    ASSERT_EQ(session.ConnectTo("127.0.0.1"), SiteSession::ConnectResult::Connected);
    test::Pump(200);
    EXPECT_FALSE(Posted(SiteNotice::LimitReached));
    EXPECT_NE(session.connection(), nullptr);

    // The current connection's commands still arrive.
    session.connection()->ReceiveChunk(
        BuildSiteMessage(static_cast<std::uint8_t>(SiteMessage::LimitReached), 0, 0, {}));
    session.connection()->Tick();
    EXPECT_TRUE(WaitUntil([&] { return Posted(SiteNotice::LimitReached); }));
}

TEST_F(SiteSessionTest, DisconnectDuringAPendingConnectAbandonsIt) {
    test::PendingListener pending;
    ASSERT_TRUE(pending.ready());
    UseSitePort(pending.port());
    QTimer::singleShot(300, &session, [this] { session.Disconnect(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(session.ConnectTo("127.0.0.1"), SiteSession::ConnectResult::Abandoned);
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_EQ(session.connection(), nullptr);
    EXPECT_EQ(session.state(), SiteSession::State::Closed);
    test::Pump(100);  // nothing left behind touches the gone socket
}

TEST_F(SiteSessionTest, ACloseDuringTheReconnectSendsNothingBeforeTheNewLogin) {
    auto site = StartSite();
    ASSERT_TRUE(WatchGateAndYard(*site));
    auto* gate = host.WindowFor(1);
    auto* yard = host.WindowFor(2);

    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return Posted(SiteNotice::LinkLost); }));
    EXPECT_EQ(session.connection()->OpenWindowCount(), 2);  // kept, and counted
    // The operator closes one window while the link is down: nothing may go out.
    session.connection()->CloseChannel(yard, true);
    EXPECT_TRUE(yard->closed());
    EXPECT_EQ(session.connection()->OpenWindowCount(), 1);

    const int drawn = gate->picturesDrawn();
    posted.clear();
    session.Reconnect();
    ASSERT_TRUE(WaitUntil([&] { return session.state() == SiteSession::State::Connected; }));
    ASSERT_TRUE(LoggedIn());
    ASSERT_TRUE(WaitUntil([&] { return gate->picturesDrawn() > drawn + 2; }));
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseChannel), 0);
    // Only the kept channel was asked for again, after the login, and the operator's dialog
    // does not ask for it once more.
    EXPECT_FALSE(session.connection()->OpenChannel(3));
    test::Pump(50);
    EXPECT_EQ(site->CountReceived(ClientMessage::OpenChannel), 3);
    EXPECT_EQ(test::RequestsOf(*site, {ClientMessage::OpenChannel}, /*fromLogin=*/2),
              (test::Requests{{1, 3}}));
    EXPECT_EQ(host.windows().size(), 2u);
}

TEST_F(SiteSessionTest, AFixedWindowIsFixedAgainAfterTheReconnect) {
    auto site = StartSite();
    ASSERT_TRUE(WatchGateAndYard(*site));
    auto* gate = host.WindowFor(1);
    ASSERT_TRUE(session.connection()->FixChannel(gate));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::FixChannel) == 1; }));

    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return Posted(SiteNotice::LinkLost); }));
    session.Reconnect();
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::FixChannel) == 2; }));
    // After the new login: both kept channels, then the fixed one fixed again.
    const auto again = test::RequestsOf(
        *site, {ClientMessage::OpenChannel, ClientMessage::FixChannel}, /*fromLogin=*/2);
    EXPECT_EQ(again, (test::Requests{{1, 3}, {1, 7}, {3, 3}}));
    EXPECT_EQ(session.connection()->fixedWindow(), gate);
}

TEST_F(SiteSessionTest, DisconnectEndsAReconnectAttemptAtOnce) {
    auto site = StartSite();
    ASSERT_TRUE(ConnectTo(*site));
    test::PendingListener pending;
    ASSERT_TRUE(pending.ready());
    UseSitePort(pending.port());  // the next attempt neither succeeds nor fails
    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return Posted(SiteNotice::LinkLost); }));
    QTimer::singleShot(300, &session, [this] { session.Disconnect(); });
    QElapsedTimer clock;
    clock.start();
    session.Reconnect();
    EXPECT_TRUE(WaitUntil([&] { return session.connection() == nullptr; }));
    EXPECT_LT(clock.elapsed(), 2000);  // not at the attempt's 5 s deadline
    EXPECT_FALSE(session.reconnecting());
}

// The operator's site is forgotten by a Disconnect of the link, not by one that ends a
// reconnect loop: a call-back that drops later still goes back to it.
class DisconnectWhile : public SiteSessionTest, public testing::WithParamInterface<bool> {};

TEST_P(DisconnectWhile, OnlyALinkNotReconnectingForgetsTheSite) {
    const bool reconnecting = GetParam();
    auto site = StartSite();
    ASSERT_TRUE(ConnectTo(*site));
    test::PendingListener pending;
    if (reconnecting) {
        ASSERT_TRUE(pending.ready());
        UseSitePort(pending.port());
        site->DropLinks();
        ASSERT_TRUE(WaitUntil([&] { return Posted(SiteNotice::LinkLost); }));
        session.Reconnect();
        ASSERT_TRUE(session.reconnecting());
    }
    session.Disconnect();
    EXPECT_EQ(session.connection(), nullptr);
    EXPECT_EQ(session.siteAddress(), reconnecting ? QString("127.0.0.1") : QString());
}

INSTANTIATE_TEST_SUITE_P(Link, DisconnectWhile, testing::Bool(), [](const auto& param) {
    return param.param ? "Reconnecting" : "Connected";
});

// Disconnect or Exit while an ID code is being asked for: the lookup ends at once.
TEST_F(SiteSessionTest, TearDownAbandonsAnIdentifyLookup) {
    sim::IdentifyServer silent;
    silent.SetSilent(true);
    ASSERT_TRUE(silent.Listen(QHostAddress::LocalHost, 0));
    settings.WriteProfileInt("Net", "IdentifyPort", silent.port());
    settings.WriteProfileString("Net", "IdentifyPrimary", "127.0.0.1");
    settings.WriteProfileString("Net", "IdentifyFallback", "127.0.0.1");
    QTimer::singleShot(700, &session, [this] { session.TearDown(); });
    QElapsedTimer clock;
    clock.start();
    const IdentifyOutcome outcome = session.ResolveIdCode("SITE42");
    EXPECT_LT(clock.elapsed(), 3000);  // not two silences of 15 s
    EXPECT_TRUE(outcome.abandoned);
    EXPECT_TRUE(outcome.address.empty());
    EXPECT_TRUE(outcome.message.isEmpty());
}

TEST_F(SiteSessionTest, ListenerReportsATakenPort) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    settings.WriteProfileInt("Net", "ListenPort", taken.serverPort());
    test::ExpectedMessage warning(QtWarningMsg, "orvane.site", "cannot listen");
    EXPECT_FALSE(session.OpenListener());
    EXPECT_FALSE(session.listener().errorString().isEmpty());
}

// The kernel's accept queue for call-ins holds five callers. Linux reports a listening
// socket's backlog in TCP_INFO (tcpi_sacked), found here by the port it listens on.
TEST_F(SiteSessionTest, TheCallInPortListensWithABacklogOfFive) {
    ASSERT_TRUE(session.listener().Listen(0));
    const quint16 port = session.listener().port();
    std::optional<std::uint32_t> backlog;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_STREAM ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            continue;
        }
        const quint16 bound =
            address.ss_family == AF_INET6
                ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
                : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
        tcp_info info{};
        socklen_t infoLength = sizeof info;
        if (bound == port && ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &infoLength) == 0 &&
            info.tcpi_state == TCP_LISTEN) {
            backlog = info.tcpi_sacked;
        }
    }
    ASSERT_TRUE(backlog.has_value());
    EXPECT_EQ(*backlog, 5u);
}

TEST(PeerText, AnIpv4PeerOfADualStackListenerReadsDotted) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::Any, 0));
    QTcpSocket client;
    client.connectToHost("127.0.0.1", server.serverPort());
    ASSERT_TRUE(WaitUntil([&] { return server.hasPendingConnections(); }));
    std::unique_ptr<QTcpSocket> accepted(server.nextPendingConnection());
    EXPECT_EQ(SiteConnection::PeerTextFor(*accepted), "IP Address: 127.0.0.1");
}

}  // namespace
}  // namespace orvane
