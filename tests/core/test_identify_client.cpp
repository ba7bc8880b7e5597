// Identify lookups against the simulated identify server over loopback.
#include "identify_server.h"
#include "site/identify_client.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// Short waits so that the tests that need no real 15 s stay quick.
constexpr IdentifyClient::Timing kQuick{100, 1000};

TEST(IdentifyClient, AnAddressAndDoneInOneChunkEndTheLookupAtOnce) {
    sim::IdentifyServer server;
    server.AddSite("SITE42", "10.0.200.7");
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0));
    IdentifyClient client;  // real timing: the answer must not wait for the 15 s rule
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(client.Lookup("SITE42", "127.0.0.1", server.port()), "10.0.200.7");
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(client.replyState(), IdentifyClient::kDone);
    ASSERT_EQ(server.queries().size(), 1u);
    EXPECT_EQ(server.queries()[0], "SITE42");

    // A second lookup starts afresh.
    EXPECT_EQ(client.Lookup("NOPE", "127.0.0.1", server.port()), "");
    EXPECT_EQ(client.replyState(), IdentifyClient::kUnknownCode);
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
    }
}

TEST(IdentifyClient, UnknownCodesAndUnreachableServersGiveTheirMessages) {
    sim::IdentifyServer server;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0));
    IdentifyClient client(kQuick);
    NetSettings net;
    net.identifyPort = server.port();
    net.identifyPrimary = "127.0.0.1";
    net.identifyFallback = "127.0.0.1";
    IdentifyOutcome outcome = ResolveSiteAddress(client, "GHOST", net);
    EXPECT_EQ(outcome.address, "");
    EXPECT_EQ(outcome.message, "\n\n ID Code Error! \n\n");

    QTcpServer closed;  // take a port, then free it: nobody listens there
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    net.identifyPort = closed.serverPort();
    closed.close();
    outcome = ResolveSiteAddress(client, "GHOST", net);
    EXPECT_EQ(outcome.message, "\n\n Can not connect to Identify Server!! \n\n");
}

TEST(IdentifyClient, ARefusingPrimaryLeadsToTheFallback) {
    sim::IdentifyServer fallback;
    fallback.AddSite("SITE42", "192.0.2.44");
    ASSERT_TRUE(fallback.Listen(QHostAddress("127.0.0.2"), 0));
    IdentifyClient client(kQuick);
    NetSettings net;
    net.identifyPort = fallback.port();  // nothing listens on 127.0.0.1 at this port
    net.identifyPrimary = "127.0.0.1";
    net.identifyFallback = "127.0.0.2";
    const IdentifyOutcome outcome = ResolveSiteAddress(client, "SITE42", net);
    EXPECT_EQ(outcome.address, "192.0.2.44");
    EXPECT_TRUE(outcome.message.isEmpty());
}

// With the real waits: a server that refuses is noticed at once, not after the silence; and
// the primary's "unknown" is what the operator hears when the fallback cannot be reached.
TEST(IdentifyClient, ARefusedServerEndsItsLookupAtOnceAndAnUnknownCodeIsStillTold) {
    sim::IdentifyServer primary;
    ASSERT_TRUE(primary.Listen(QHostAddress::LocalHost, 0));
    IdentifyClient client;
    NetSettings net;
    net.identifyPort = primary.port();
    net.identifyPrimary = "127.0.0.1";
    net.identifyFallback = "127.0.0.2";  // nothing listens there
    QElapsedTimer clock;
    clock.start();
    const IdentifyOutcome outcome = ResolveSiteAddress(client, "NOPE", net);
    EXPECT_EQ(outcome.address, "");
    EXPECT_EQ(outcome.message, "\n\n ID Code Error! \n\n");
    EXPECT_LT(clock.elapsed(), 5000);  // 15 s of silence per refusing server before
}

TEST(IdentifyClient, AnAbandonedLookupEndsWithoutAMessage) {
    sim::IdentifyServer silent;
    silent.SetSilent(true);
    ASSERT_TRUE(silent.Listen(QHostAddress::LocalHost, 0));
    IdentifyClient client;
    NetSettings net;
    net.identifyPort = silent.port();
    net.identifyPrimary = net.identifyFallback = "127.0.0.1";
    QTimer::singleShot(700, &client, [&client] { client.Abandon(); });
    QElapsedTimer clock;
    clock.start();
    const IdentifyOutcome outcome = ResolveSiteAddress(client, "SITE42", net);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(outcome.abandoned);
    EXPECT_TRUE(outcome.message.isEmpty());
    EXPECT_EQ(silent.queries().size(), 1u);  // the fallback was not asked
}

TEST(IdentifyClient, ASilentServerEndsTheLookupAfterFifteenAndAHalfSeconds) {
    sim::IdentifyServer server;
    server.SetSilent(true);
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0));
    IdentifyClient client;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(client.Lookup("SITE42", "127.0.0.1", server.port()), "");
    EXPECT_GE(clock.elapsed(), 15400);
    EXPECT_LT(clock.elapsed(), 18000);
    EXPECT_EQ(client.replyState(), IdentifyClient::kWaiting);
}

}  // namespace
}  // namespace orvane
