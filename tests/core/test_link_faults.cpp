// The site link under network faults, over real loopback sockets: a site that dies and comes
// back, one that floods, one that closes with much unread, one that stops reading. Each must
// leave its messages whole and in order, holding no more than its queues' limits.
#include "support/message_guard.h"
#include "support/simulated_link.h"
#include "support/socket_flood.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace orvane {
namespace {

using test::RgbFrame;
using test::SiteMessageOf;
using test::WaitUntil;
using test::Write;

constexpr std::size_t kMiB = 1024 * 1024;

// What a site answers an accepted login with: a one-channel list, then LoginAccepted.
Block LoginAnswer() {
    Block answer(kChannelEntrySize, 0);
    WriteLe32(answer, 0, 3);
    PutTextField(std::span(answer).subspan(4, kChannelNameField), "Gate");
    answer = SiteMessageOf(SiteMessage::ChannelList, 1, 3, answer);
    const Block accepted = SiteMessageOf(SiteMessage::LoginAccepted);
    answer.insert(answer.end(), accepted.begin(), accepted.end());
    return answer;
}

// Records the sequence numbers of the frames a channel's window receives, and what the
// connection holds received while it dispatches them (between events it may hold nothing).
struct SequenceSink final : FrameSink {
    void TakeFrame(const LiveFrame& frame) override {
        const std::uint32_t sequence = ReadLe32(frame.bytes(), BitmapInfoHeader::kSize);
        inOrder = inOrder && (taken == 0 || sequence == last + 1);
        last = sequence;
        ++taken;
        mostQueued = std::max(mostQueued, connection->queuedReceiveBytes());
    }
    const SiteConnection* connection = nullptr;
    std::uint32_t last = 0;
    std::uint64_t taken = 0;
    bool inOrder = true;
    std::size_t mostQueued = 0;
};

// A connection to a peer the test scripts byte by byte.
class LinkFaultTest : public test::ConnectionLink {
  protected:
    // The peer, once it has answered the login.
    QTcpSocket* LoggedInPeer(int tickMs) {
        QTcpSocket* peer = ConnectToScriptedPeer(tickMs);
        if (peer) {
            Write(*peer, LoginAnswer());
        }
        return peer && LoggedIn() ? peer : nullptr;
    }
};

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
        EXPECT_TRUE(Posted(SiteNotice::LinkLost));
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

// A site that sends as fast as it can, from a thread of its own as a site's own process would:
// about 1 MB of frames every 10 ms, each unit whole, taken only as fast as the client reads,
// for a channel the client never asked for (the site's to decide: it gets a window). This
// thread, the client's, is busy now and then (a long paint, say) while the kernel gathers what
// the site sends.
TEST_F(LinkFaultTest, AFloodOfFramesIsTakenWholeAndInOrderHoldingNoMoreThanTheReadAhead) {
    QTcpSocket* peer = LoggedInPeer(SiteConnection::kTickMilliseconds);
    ASSERT_NE(peer, nullptr);
    constexpr std::uint32_t kChannel = 77;
    std::atomic<bool> stop = false;
    std::atomic<bool> abandon = false;
    std::atomic<bool> finished = false;
    std::atomic<std::size_t> bytesSent = 0;
    std::uint32_t sequence = 0;  // the flooder's own until it has finished
    std::thread flooder([&, fd = int(peer->socketDescriptor())] {
        auto next = std::chrono::steady_clock::now();
        while (!stop) {
            Block unit;
            for (int i = 0; i < 18; ++i) {  // frames of 57,640 bytes
                const Block message = SiteMessageOf(SiteMessage::VideoFrame, kChannel, kChannel,
                                                    RgbFrame(160, 120, sequence++));
                unit.insert(unit.end(), message.begin(), message.end());
            }
            abandon = abandon || !test::SendWhole(fd, unit, abandon);  // false: the link is gone
            bytesSent += unit.size();
            std::this_thread::sleep_until(next += std::chrono::milliseconds(10));
        }
        finished = true;
    });
    SequenceSink sink;
    sink.connection = connection.get();
    bool sinkAttached = false;
    std::size_t mostQueued = 0;  // what the connection held received at any turn
    QTimer busy;
    QObject::connect(&busy, &QTimer::timeout,
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); });
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] {
        mostQueued = std::max(mostQueued, connection->queuedReceiveBytes());
        if (!sinkAttached && host.WindowFor(kChannel)) {
            sinkAttached = connection->channels().SetFrameSink(host.WindowFor(kChannel), &sink);
        }
    });
    turn.start(10);
    busy.start(500);
    test::Pump(2000);
    busy.stop();
    stop = true;  // the last unit goes out whole while the client reads on
    WaitUntil([&] { return finished.load(); });
    abandon = true;
    flooder.join();
    EXPECT_GT(bytesSent, 8 * kMiB);  // it was a flood
    EXPECT_LE(mostQueued, 4 * kMiB) << bytesSent << " bytes sent";
    // Everything the site sent arrives, nothing lost or reordered under the push-back.
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(kChannel) == sequence; }, 10000))
        << FramesOf(kChannel) << " of " << sequence;
    EXPECT_TRUE(sinkAttached);
    EXPECT_GT(sink.taken, 0u);
    EXPECT_TRUE(sink.inOrder);
    EXPECT_LE(sink.mostQueued, 4 * kMiB);
    EXPECT_EQ(sink.last, sequence - 1);
    EXPECT_TRUE(connection->active());
    EXPECT_EQ(connection->queuedReceiveBytes(), 0u);
}

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
    EXPECT_TRUE(frame.Noticed(SiteNotice::LoginAccepted));  // the login's answer
    EXPECT_EQ(FramesOf(6), kFrames);
    ASSERT_NE(connection->channels().FindLinkByNumber(6), nullptr);
    EXPECT_EQ(*connection->channels().FindLinkByNumber(6)->latestFrame.packed,
              RgbFrame(160, 120, kFrames - 1));
    EXPECT_TRUE(frame.Noticed(SiteNotice::SiteClosing));  // the SiteClosing
}

TEST_F(LinkFaultTest, ASiteThatStopsReadingIsDroppedAsABrokenLinkBeforeTheQueueGrows) {
    QTcpSocket* peer = LoggedInPeer(test::kFastTickMs);
    ASSERT_NE(peer, nullptr);
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
    EXPECT_EQ(frame.statusLines.back(), "Disconnect");
    // The limit and one message beyond it, never more.
    EXPECT_LE(mostQueued, kMiB + command.size() + 64);
    EXPECT_EQ(connection->queuedSendBytes(), 0u);
    // Requests while the link is down are refused, not queued.
    EXPECT_FALSE(connection->SendRunProgram(command));
}

}  // namespace
}  // namespace orvane
