// Identify lookups against the simulated identify server over loopback.
#include "identify_server.h"
#include "site/identify_client.h"
#include "support/message_guard.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>

namespace orvane {
namespace {

// Short waits so that the tests that need no real 15 s stay quick.
constexpr IdentifyClient::Timing kQuick{100, 1000};

// The primary server on 127.0.0.1 and the fallback on 127.0.0.2, on the same port; a server
// that is not there refuses. With the real waits: an answer ends the lookup at once, and so
// does a refusal (never the 15 s of silence). One client takes every lookup: each starts afresh.
TEST(IdentifyClient, LookupsEndWithTheAddressOrTheOperatorsMessage) {
    constexpr const char* kCannotConnect = "\n\n Can not connect to Identify Server!! \n\n";
    // A server: null when it is not there, else the address it knows the ID code by ("" none).
    struct Row {
        const char* what;
        const char* primary;
        const char* fallback;
        const char* idCode;
        const char* address;
        const char* message;
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

// The query as a server sees it, written out by hand: 16-byte header of type 103 with length
// 20, the ID code NUL-padded to 20 bytes, the trailer.
QByteArray QueryBytes(const QByteArray& idCode) {
    return QByteArray("TOP\0\x67\0\0\0\x14\0\0\0EOF\0", 16) + idCode +
           QByteArray(20 - idCode.size(), '\0') + QByteArray("END\0EOF\0", 8);
}

TEST(IdentifyClient, TheQueryIsTheIdCodeInATwentyByteField) {
    QTcpServer server;  // a plain listener: it records and never answers
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QByteArray received;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket* peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer,
                         [&received, peer] { received += peer->readAll(); });
    });
    IdentifyClient client(kQuick);
    for (const QByteArray& code : {QByteArray("SITE42"), QByteArray("ABCDEFGHIJ")}) {
        received.clear();
        EXPECT_EQ(client.Lookup(code.toStdString(), "127.0.0.1", server.serverPort()), "");
        EXPECT_EQ(received.toHex(' ').toStdString(), QueryBytes(code).toHex(' ').toStdString());
        // Silence ends the lookup, still waiting for an answer.
        EXPECT_EQ(client.replyState(), IdentifyClient::kWaiting);
    }
}

// Never sent altered: a code the page cannot hold is an ID code error.
TEST(IdentifyClient, TheIdCodeGoesOutInTheCodePage) {
    sim::IdentifyServer server;
    server.AddSite("\xC4RZTE-7", "10.0.0.9");
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0));
    IdentifyClient client(kQuick);
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
