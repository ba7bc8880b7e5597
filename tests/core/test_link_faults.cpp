// The site link under network faults, over real loopback sockets: a site that dies and comes
// back, one that trickles, one that floods, one that stops reading. Each must leave the link up
// and its messages whole and in order, holding no more than its queues' limits.
#include "site/site_session.h"
#include "support/event_loop.h"
#include "support/message_guard.h"
#include "support/simulated_link.h"
#include "support/socket_flood.h"
#include "wire/bitmap_info.h"
#include "wire/byte_order.h"
#include "wire/message_builder.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

namespace orvane {
namespace {

using test::Concat;
using test::RgbFrame;
using test::WaitUntil;
using test::Write;

constexpr std::size_t kMiB = 1024 * 1024;

Block Message(SiteMessage type, std::uint32_t first = 0, std::uint32_t second = 0,
              const Block& payload = {}) {
    return BuildSiteMessage(static_cast<std::uint8_t>(type), first, second, payload);
}

Block FrameMessage(std::uint32_t channelId, std::uint32_t channelNumber, const Block& frame) {
    return Message(SiteMessage::VideoFrame, channelId, channelNumber, frame);
}

// What a site answers an accepted login with: a one-channel list, then LoginAccepted.
Block LoginAnswer() {
    Block entry(kChannelEntrySize, 0);
    WriteLe32(entry, 0, 3);
    PutTextField(std::span(entry).subspan(4, kChannelNameField), "Gate");
    return Concat(
        {Message(SiteMessage::ChannelList, 1, 3, entry), Message(SiteMessage::LoginAccepted)});
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

TEST_F(LinkFaultTest, ASiteSendingOneByteAtATimeHasItsMessagesActedOnWhole) {
    QTcpSocket* peer = ConnectToScriptedPeer(test::kFastTickMs);
    ASSERT_NE(peer, nullptr);
    const Block first = RgbFrame(4, 4, 1);
    const Block second = RgbFrame(4, 4, 2);
    const Block trickled = Concat({LoginAnswer(), FrameMessage(3, 9, first)});
    const Block slow = FrameMessage(3, 9, second);

    // One byte every 20 ms: the login's answer and a first frame.
    std::size_t sent = 0;
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&] {
        if (sent < trickled.size()) {
            Write(*peer, std::span(trickled).subspan(sent++, 1));
        }
    });
    trickle.start(20);
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == 1; }, 20000));
    EXPECT_TRUE(connection->loggedIn());
    EXPECT_EQ(channels.GetChannelName(3), "Gate");
    EXPECT_EQ(*connection->channels().FindLinkByNumber(9)->latestFrame.packed, first);
    ASSERT_NE(host.WindowFor(9), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return host.WindowFor(9)->picturesDrawn() == 1; }));

    // Then a byte now and then: a frame waits, whole or not at all, for its last bytes.
    trickle.stop();
    Write(*peer, std::span(slow).first(slow.size() - 3));
    for (std::size_t at = slow.size() - 3; at < slow.size(); ++at) {
        test::Pump(300);
        EXPECT_EQ(FramesOf(9), 1u);
        Write(*peer, std::span(slow).subspan(at, 1));
    }
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == 2; }, 2000));
    EXPECT_EQ(*connection->channels().FindLinkByNumber(9)->latestFrame.packed, second);
    EXPECT_TRUE(WaitUntil([&] { return host.WindowFor(9)->picturesDrawn() == 2; }));
    EXPECT_TRUE(connection->active());
}

// A site that sends as fast as it can: 100 MB/s offered, taken only as fast as the client
// reads.
struct FloodReport {
    std::size_t bytesSent = 0;
    std::size_t mostQueued = 0;  // what the connection held received at any turn
};

class FloodTest : public LinkFaultTest {
  protected:
    // The site floods from a thread of its own, as a site's own process would: a unit from
    // makeUnit every 10 ms, each unit whole, as fast as the link takes it. Meanwhile this
    // thread, the client's, is busy now and then (a long paint, say) and the kernel gathers
    // what the site sends. onTurn runs here on each turn of the event loop.
    FloodReport Flood(QTcpSocket& peer, std::function<Block()> makeUnit, int milliseconds,
                      const std::function<void()>& onTurn = {}) {
        FloodReport report;
        std::atomic<bool> stop = false;
        std::atomic<bool> abandon = false;
        std::atomic<bool> finished = false;
        std::atomic<std::size_t> sent = 0;
        std::thread flooder([&, fd = int(peer.socketDescriptor())] {
            auto next = std::chrono::steady_clock::now();
            while (!stop) {
                const Block unit = makeUnit();
                if (!test::SendWhole(fd, unit, abandon)) {
                    abandon = true;  // the link is gone
                }
                sent += unit.size();
                next += std::chrono::milliseconds(10);
                std::this_thread::sleep_until(next);
            }
            finished = true;
        });
        QTimer busy;
        QObject::connect(&busy, &QTimer::timeout,
                         [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); });
        QTimer turn;
        QObject::connect(&turn, &QTimer::timeout, [&] {
            report.mostQueued = std::max(report.mostQueued, connection->queuedReceiveBytes());
            if (onTurn) {
                onTurn();
            }
        });
        turn.start(10);
        busy.start(500);
        test::Pump(milliseconds);
        busy.stop();
        // The last unit goes out whole while the client reads on.
        stop = true;
        WaitUntil([&] { return finished.load(); });
        abandon = true;
        flooder.join();
        report.bytesSent = sent;
        return report;
    }

    // What every flood must leave: the connection holding no more than its read-ahead.
    static void ExpectBounded(const FloodReport& report) {
        EXPECT_GT(report.bytesSent, 8 * kMiB);  // it was a flood
        EXPECT_LE(report.mostQueued, 4 * kMiB) << report.bytesSent << " bytes sent";
    }
};

TEST_F(FloodTest, AFloodOfGarbageKeepsTheQueueBoundedAndTheLinkUp) {
    QTcpSocket* peer = LoggedInPeer(SiteConnection::kTickMilliseconds);
    ASSERT_NE(peer, nullptr);

    // Random bytes without a 'T', so no message header can ever form.
    Block garbage(kMiB);
    std::mt19937 random(7);
    std::generate(garbage.begin(), garbage.end(), [&] {
        const auto byte = static_cast<std::uint8_t>(random());
        return byte == 'T' ? std::uint8_t('t') : byte;
    });
    const FloodReport report = Flood(
        *peer, [&] { return garbage; }, 2000);
    ExpectBounded(report);
    EXPECT_TRUE(connection->active());
    EXPECT_TRUE(host.windows().empty());
}

TEST_F(FloodTest, AFloodOfFramesOnAChannelNeverOpenedIsTakenWholeAndInOrder) {
    QTcpSocket* peer = LoggedInPeer(SiteConnection::kTickMilliseconds);
    ASSERT_NE(peer, nullptr);

    // Frames of 57,640 bytes, about 1 MB per unit, for a channel the client never asked for
    // (the site's to decide: it gets a window, as any channel the site streams).
    constexpr std::uint32_t kChannel = 77;
    constexpr int kFramesPerUnit = 18;
    std::uint32_t sequence = 0;  // the flooder's own
    auto nextUnit = [&] {
        Block unit;
        for (int i = 0; i < kFramesPerUnit; ++i) {
            const Block message = FrameMessage(kChannel, kChannel, RgbFrame(160, 120, sequence++));
            unit.insert(unit.end(), message.begin(), message.end());
        }
        return unit;
    };
    SequenceSink sink;
    sink.connection = connection.get();
    bool sinkAttached = false;
    const FloodReport report = Flood(*peer, nextUnit, 2000, [&] {
        if (!sinkAttached && host.WindowFor(kChannel)) {
            sinkAttached = connection->channels().SetFrameSink(host.WindowFor(kChannel), &sink);
        }
    });
    ExpectBounded(report);

    // Everything the site sent arrives, nothing lost or reordered under the push-back.
    const std::uint32_t sent = sequence;
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(kChannel) == sent; }, 10000))
        << FramesOf(kChannel) << " of " << sent;
    EXPECT_TRUE(sinkAttached);
    EXPECT_GT(sink.taken, 0u);
    EXPECT_TRUE(sink.inOrder);
    EXPECT_LE(sink.mostQueued, 4 * kMiB);
    EXPECT_EQ(sink.last, sent - 1);
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
        Write(*peer, FrameMessage(5, 6, RgbFrame(160, 120, i)));
    }
    Write(*peer, Message(SiteMessage::SiteClosing));
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
