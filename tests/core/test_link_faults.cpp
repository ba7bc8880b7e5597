// The site link under network faults, over real loopback sockets: a site that dies and comes
// back, one that closes with much unread, one that stops reading. Each must leave its messages
// whole and in order, holding no more than its queues' limits. (A flood's figures are the
// link-faults bench's.)
#include "support/message_guard.h"
#include "support/simulated_link.h"

#include <QTimer>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::RgbFrame;
using test::SiteMessageOf;
using test::WaitUntil;
using test::Write;

// What a site answers an accepted login with: a one-channel list, then LoginAccepted.
Block LoginAnswer() {
    Block entry(kChannelEntrySize, 0);
    WriteLe32(entry, 0, 3);
    Block answer = SiteMessageOf(SiteMessage::ChannelList, 1, 3, entry);
    const Block accepted = SiteMessageOf(SiteMessage::LoginAccepted);
    answer.insert(answer.end(), accepted.begin(), accepted.end());
    return answer;
}

// The site dies and comes back on the same port, again and again: each time the session
// reconnects (as the main frame does on a lost link) and logs in, leaving nothing behind.
using SiteRestartTest = test::SessionLink;

TEST_F(SiteRestartTest, ASiteKilledEveryFewSecondsIsLoggedIntoAgainEachTime) {
    QObject::connect(&session, &SiteSession::notified, [this](SiteNotice id) {
        if (id == SiteNotice::LinkLost) {
            session.Reconnect();
        }
    });
    auto site = test::StartSite();
    const quint16 port = site->port();
    ASSERT_TRUE(ConnectTo(*site));
    const auto objects = [&] { return session.findChildren<QObject*>().size(); };
    int descriptorsAfterFirst = 0;
    qsizetype objectsAfterFirst = 0;
    for (int cycle = 0; cycle < 5; ++cycle) {
        SCOPED_TRACE(cycle);
        posted.clear();
        site.reset();  // the site's process is gone; its port comes back later
        QTimer::singleShot(800, &session, [&] {
            site = std::make_unique<sim::SiteSimulator>(sim::SiteSimulatorOptions{});
            EXPECT_TRUE(site->Listen(QHostAddress::LocalHost, port));
        });
        ASSERT_TRUE(WaitUntil(
            [&] {
                return site && session.state() == SiteSession::State::Connected &&
                       Posted(SiteNotice::LoginAccepted);
            },
            10000));
        EXPECT_EQ(site->CountReceived(ClientMessage::Login), 1);
        test::Pump(50);  // sockets replaced by the loop are deleted once it has returned
        if (cycle == 0) {
            descriptorsAfterFirst = test::OpenFileDescriptors();
            objectsAfterFirst = objects();
        }
    }
    EXPECT_EQ(test::OpenFileDescriptors(), descriptorsAfterFirst);
    EXPECT_EQ(objects(), objectsAfterFirst);
}

// A connection to a peer the test scripts byte by byte.
using LinkFaultTest = test::ConnectionLink;

TEST_F(LinkFaultTest, EverythingASiteSentBeforeItClosedIsActedOnHoweverMuchWaits) {
    // The ticks never run here: whatever the connection holds back of a burst larger than it
    // reads ahead, everything the site sent before it closed is acted on before the close.
    QTcpSocket* peer = ConnectToScriptedPeer(3600 * 1000);
    ASSERT_NE(peer, nullptr);
    constexpr std::uint32_t kFrames = 40;  // the queue's limit and some 200 KB more
    Write(*peer, LoginAnswer());
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        Write(*peer, SiteMessageOf(SiteMessage::VideoFrame, 5, 6, RgbFrame(160, 120, i)));
    }
    Write(*peer, SiteMessageOf(SiteMessage::SiteClosing));
    peer->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkLost); }));
    EXPECT_TRUE(frame.Noticed(SiteNotice::LoginAccepted));
    EXPECT_EQ(FramesOf(6), kFrames);
    EXPECT_EQ(*connection->channels().FindLinkByNumber(6)->latestFrame.packed,
              RgbFrame(160, 120, kFrames - 1));
    EXPECT_TRUE(frame.Noticed(SiteNotice::SiteClosing));
}

TEST_F(LinkFaultTest, ASiteThatStopsReadingIsDroppedAsABrokenLinkBeforeTheQueueGrows) {
    QTcpSocket* peer = ConnectToScriptedPeer(test::kFastTickMs);
    ASSERT_NE(peer, nullptr);
    Write(*peer, LoginAnswer());
    ASSERT_TRUE(LoggedIn());
    // It reads nothing more: its kernel buffer stays small and full.
    peer->setReadBufferSize(64);
    peer->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    test::ExpectedMessage dropped(QtWarningMsg, "orvane.site", "not reading");
    const std::string command(60000, 'r');
    std::size_t mostQueued = 0;
    // Up to 48 MB of requests: far beyond what the kernel's buffers take.
    for (int i = 0; i < 800 && connection->active(); ++i) {
        connection->SendRunProgram(command);
        mostQueued = std::max(mostQueued, connection->queuedSendBytes());
        if (i % 4 == 0) {
            test::Pump(1);  // the socket hands what it can to the kernel
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkLost); }, 3000))
        << mostQueued << " queued";
    EXPECT_FALSE(connection->active());
    // The limit and one message beyond it, never more.
    EXPECT_LE(mostQueued, 1024 * 1024 + command.size() + 64);
    EXPECT_EQ(connection->queuedSendBytes(), 0u);
    // Requests while the link is down are refused, not queued.
    EXPECT_FALSE(connection->SendRunProgram(command));
}

}  // namespace
}  // namespace orvane
