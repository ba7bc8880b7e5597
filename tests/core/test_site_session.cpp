// The site session: who owns the link, what a teardown means, the waits it survives, a site
// that keeps dying, and the identify lookups it makes of an ID code.
#include "identify_server.h"
#include "site/identify_client.h"
#include "support/message_guard.h"
#include "support/pending_listener.h"
#include "support/simulated_link.h"

#include <QElapsedTimer>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>

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

// A LimitReached posts its notice as a command, delivered after the dispatch returns.
TEST_F(SiteSessionTest, ACommandPostedByATornDownConnectionDoesNothing) {
    auto site = StartSite();
    ASSERT_TRUE(ConnectTo(*site));
    posted.clear();
    const Block limit = test::SiteMessageOf(SiteMessage::LimitReached);
    session.connection()->ReceiveChunk(limit);
    session.connection()->Tick();
    session.TearDown();  // before the command is delivered
    ASSERT_EQ(session.ConnectTo("127.0.0.1"), SiteSession::ConnectResult::Connected);
    test::Pump(200);
    EXPECT_FALSE(Posted(SiteNotice::LimitReached));
    // The current connection's commands still arrive.
    session.connection()->ReceiveChunk(limit);
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

// The kept windows are asked for again after the new login, the fixed one fixed again; one
// the operator closed while the link was down is neither closed on the site nor asked for.
TEST_F(SiteSessionTest, ACloseDuringTheReconnectSendsNothingBeforeTheNewLogin) {
    auto site = StartSite();
    ASSERT_TRUE(ConnectTo(*site));
    session.connection()->OpenChannel(3);
    session.connection()->OpenChannel(7);
    auto* gate = WaitForWindow(1);
    auto* yard = WaitForWindow(2);
    ASSERT_TRUE(gate && yard);
    ASSERT_TRUE(session.connection()->FixChannel(gate));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::FixChannel) == 1; }));
    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return Posted(SiteNotice::LinkLost); }));
    EXPECT_EQ(session.connection()->OpenWindowCount(), 2);  // kept, and counted
    session.connection()->CloseChannel(yard, true);
    EXPECT_EQ(session.connection()->OpenWindowCount(), 1);

    const int drawn = gate->picturesDrawn();
    session.Reconnect();
    ASSERT_TRUE(WaitUntil([&] { return session.state() == SiteSession::State::Connected; }));
    ASSERT_TRUE(WaitUntil([&] { return gate->picturesDrawn() > drawn + 2; }));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::FixChannel) == 2; }));
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseChannel), 0);
    // The operator's dialog does not ask for a kept channel once more.
    EXPECT_FALSE(session.connection()->OpenChannel(3));
    test::Pump(50);
    EXPECT_EQ(test::RequestsOf(*site, {ClientMessage::OpenChannel, ClientMessage::FixChannel},
                               /*fromLogin=*/2),
              (test::Requests{{1, 3}, {3, 3}}));
    EXPECT_EQ(session.connection()->fixedWindow(), gate);
}

// The operator's site is forgotten by a Disconnect of the link, not by one that ends a
// reconnect loop (at once, in the middle of an attempt): a call-back that drops later still
// goes back to it.
class DisconnectWhile : public SiteSessionTest, public testing::WithParamInterface<bool> {};

TEST_P(DisconnectWhile, OnlyALinkNotReconnectingForgetsTheSite) {
    const bool reconnecting = GetParam();
    auto site = StartSite();
    ASSERT_TRUE(ConnectTo(*site));
    test::PendingListener pending;
    if (reconnecting) {
        ASSERT_TRUE(pending.ready());
        UseSitePort(pending.port());  // the attempt neither succeeds nor fails
        site->DropLinks();
        ASSERT_TRUE(WaitUntil([&] { return Posted(SiteNotice::LinkLost); }));
        session.Reconnect();
        test::Pump(300);
        ASSERT_TRUE(session.reconnecting());
    }
    session.Disconnect();
    EXPECT_EQ(session.connection(), nullptr);
    EXPECT_FALSE(session.reconnecting());
    EXPECT_EQ(session.siteAddress(), reconnecting ? QString("127.0.0.1") : QString());
}

INSTANTIATE_TEST_SUITE_P(Link, DisconnectWhile, testing::Bool(), [](const auto& param) {
    return param.param ? "Reconnecting" : "Connected";
});

// Disconnect or Exit while an ID code is being asked for: the lookup ends at once, without a
// message, and the fallback server is not asked.
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
    EXPECT_EQ(silent.queries().size(), 1u);
}

// The kernel's accept queue for call-ins holds five callers; Linux reports a listening
// socket's backlog in TCP_INFO (tcpi_sacked).
TEST_F(SiteSessionTest, ATakenCallInPortIsReportedAndAFreeOneListensWithABacklogOfFive) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    settings.WriteProfileInt("Net", "ListenPort", taken.serverPort());
    test::ExpectedMessage warning(QtWarningMsg, "orvane.site", "cannot listen");
    EXPECT_FALSE(session.OpenListener());
    EXPECT_FALSE(session.listener().errorString().isEmpty());
    ASSERT_TRUE(session.listener().Listen(0));
    const auto* server = session.listener().findChild<QTcpServer*>();
    ASSERT_NE(server, nullptr);
    tcp_info info{};
    socklen_t length = sizeof info;
    ASSERT_EQ(::getsockopt(int(server->socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info, &length),
              0);
    EXPECT_EQ(info.tcpi_state, TCP_LISTEN);
    EXPECT_EQ(info.tcpi_sacked, 5u);
}

// The site dies and comes back on the same port, again and again: each time the session
// reconnects (as the main frame does on a lost link) and logs in, leaving nothing behind.
TEST_F(SiteSessionTest, ASiteKilledEveryFewSecondsIsLoggedIntoAgainEachTime) {
    QObject::connect(&session, &SiteSession::notified, [this](SiteNotice id) {
        if (id == SiteNotice::LinkLost) {
            session.Reconnect();
        }
    });
    auto site = StartSite();
    const quint16 port = site->port();
    ASSERT_TRUE(ConnectTo(*site));
    // Descriptors and objects held: after the last cycle as many as after the first.
    const auto held = [&] {
        return std::pair{test::OpenFileDescriptors(), session.findChildren<QObject*>().size()};
    };
    std::pair<int, qsizetype> afterFirst;
    for (int cycle = 0; cycle < 5; ++cycle) {
        SCOPED_TRACE(cycle);
        posted.clear();
        site.reset();  // the site's process is gone; its port comes back later
        QTimer::singleShot(800, &session, [&] {
            site = std::make_unique<sim::SiteSimulator>(sim::SiteSimulatorOptions{});
            EXPECT_TRUE(site->Listen(QHostAddress::LocalHost, port));
        });
        const auto back = [&] {
            return site && session.state() == SiteSession::State::Connected &&
                   Posted(SiteNotice::LoginAccepted);
        };
        ASSERT_TRUE(WaitUntil(back, 10000));
        EXPECT_EQ(site->CountReceived(ClientMessage::Login), 1);
        test::Pump(50);  // sockets replaced by the loop are deleted once it has returned
        if (cycle == 0) {
            afterFirst = held();
        }
    }
    EXPECT_EQ(held(), afterFirst);
}

// The primary server on 127.0.0.1 and the fallback on 127.0.0.2, on the same port; a server
// that is not there refuses. With the real waits: an answer ends the lookup at once, and so
// does a refusal (never the 15 s of silence). One client takes every lookup: each starts afresh.
TEST(IdentifyClient, LookupsEndWithTheAddressOrTheOperatorsMessage) {
    constexpr const char* kCannotConnect = "\n\n Can not connect to Identify Server!! \n\n";
    // A server: null when it is not there, else the address it knows the ID code by ("" none).
    struct Row {
        const char *what, *primary, *fallback, *idCode, *address, *message;
    } const rows[] = {
        {"the primary knows the code", "10.0.200.7", nullptr, "SITE42", "10.0.200.7", ""},
        {"a refusing primary leads to the fallback", nullptr, "192.0.2.44", "SITE42", "192.0.2.44",
         ""},
        {"both know nothing of it", "", "", "GHOST", "", identifytext::kIdCodeError},
        {"the primary's unknown is told when the fallback refuses", "", nullptr, "NOPE", "",
         identifytext::kIdCodeError},
        {"neither is there", nullptr, nullptr, "GHOST", "", kCannotConnect},
    };
    IdentifyClient client;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTcpServer portHolder;  // takes a port both servers can have, then lets it go
        ASSERT_TRUE(portHolder.listen(QHostAddress::LocalHost, 0));
        const quint16 port = portHolder.serverPort();
        portHolder.close();
        std::vector<std::unique_ptr<sim::IdentifyServer>> servers;
        for (const auto& [known, host] :
             {std::pair{row.primary, "127.0.0.1"}, std::pair{row.fallback, "127.0.0.2"}}) {
            if (known) {
                auto& started = servers.emplace_back(std::make_unique<sim::IdentifyServer>());
                if (*known) {
                    started->AddSite(row.idCode, known);
                }
                ASSERT_TRUE(started->Listen(QHostAddress(host), port));
            }
        }
        NetSettings net;
        net.identifyPort = port;
        net.identifyPrimary = "127.0.0.1";
        net.identifyFallback = "127.0.0.2";
        QElapsedTimer clock;
        clock.start();
        const IdentifyOutcome outcome = ResolveSiteAddress(client, row.idCode, net);
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_EQ(outcome.address, row.address);
        EXPECT_EQ(outcome.message, QString::fromLatin1(row.message));
        EXPECT_FALSE(outcome.abandoned);
        if (row.primary) {
            ASSERT_FALSE(servers.front()->queries().empty());
            EXPECT_EQ(servers.front()->queries().front(), row.idCode);
        }
    }
}

// Never sent altered: a code the page cannot hold is an ID code error.
TEST(IdentifyClient, TheIdCodeGoesOutInTheCodePage) {
    sim::IdentifyServer server;
    server.AddSite("\xC4RZTE-7", "10.0.0.9");
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0));
    IdentifyClient client({100, 1000});  // short waits, should an answer not come
    NetSettings net;
    net.identifyPort = server.port();
    net.identifyPrimary = net.identifyFallback = "127.0.0.1";
    EXPECT_EQ(ResolveSiteAddress(client, "ÄRZTE-7", net).address, "10.0.0.9");
    EXPECT_EQ(server.queries(), std::vector<std::string>{"\xC4RZTE-7"});
    const test::ExpectedMessage refused(QtWarningMsg, "orvane.site", "not sent");
    const IdentifyOutcome outcome = ResolveSiteAddress(client, "漢字", net);
    EXPECT_EQ(outcome.address, "");
    EXPECT_EQ(outcome.message, identifytext::kIdCodeError);
    EXPECT_EQ(server.queries().size(), 1u);
}

}  // namespace
}  // namespace orvane
