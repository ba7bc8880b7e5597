// The site link under network faults, over real loopback sockets: a site that dies and comes
// back, one that trickles, one that floods, one that stops reading. Each must leave the client
// responsive, its memory bounded and its messages whole and in order.
#include "site/blocking_connect.h"
#include "site/headless_host.h"
#include "site/site_connection.h"
#include "site/site_session.h"
#include "site_simulator.h"
#include "support/event_loop.h"
#include "support/fake_main_frame.h"
#include "support/message_guard.h"
#include "wire/bitmap_info.h"
#include "wire/byte_order.h"
#include "wire/frame_assembler.h"
#include "wire/message_builder.h"
#include "wire/queues.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

namespace orvane {
namespace {

using test::WaitUntil;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr int kFastTickMs = 10;
// The longest the event loop may work without turning while a site trickles, and while one
// floods (which keeps both ends of the link busy on this one thread); and the longest it may
// be away at all, whatever else the machine runs.
constexpr double kTrickleStallMs = kSanitized ? 100 : 50;
constexpr double kFloodStallMs = kSanitized ? 200 : 100;
constexpr qint64 kAwayMs = kSanitized ? 1000 : 500;
// How much a flood may grow the process. AddressSanitizer keeps freed memory in quarantine
// (256 MB by default), so there the bound leaves room for that.
constexpr std::size_t kResidentGrowthKiB = (kSanitized ? 400 : 100) * 1024;
constexpr std::size_t kMiB = 1024 * 1024;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int OpenFileDescriptors() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
}

std::size_t ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoul(line.substr(6));
        }
    }
    return 0;
}

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// Measures how late a 10 ms timer fires: the longest the event loop went without turning.
// The lateness counts twice: as time this thread spent working meanwhile (what the code under
// test can cause: on a shared machine a busy neighbour makes the wall-clock gaps long too),
// and as wall-clock time, with a looser bound, for a loop stuck in a blocking wait.
class StallProbe {
  public:
    explicit StallProbe(std::function<void()> sample = {}) : sample_(std::move(sample)) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const double cpu = ThreadCpuMs();
            worstBusy_ = std::max(worstBusy_, cpu - cpuAtLast_);
            worstLate_ = std::max(worstLate_, clock_.restart() - kIntervalMs);
            if (sample_) {
                sample_();
            }
            cpuAtLast_ = ThreadCpuMs();
        });
        clock_.start();
        cpuAtLast_ = ThreadCpuMs();
        timer_.start(kIntervalMs);
    }
    // Thread time worked between two turns.
    double worstBusyMs() const { return worstBusy_; }
    qint64 worstLateMs() const { return worstLate_; }

  private:
    static constexpr int kIntervalMs = 10;
    std::function<void()> sample_;
    QTimer timer_;
    QElapsedTimer clock_;
    double cpuAtLast_ = 0;
    double worstBusy_ = 0;
    qint64 worstLate_ = 0;
};

Block Concat(std::initializer_list<Block> parts) {
    Block all;
    for (const Block& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// What a site answers an accepted login with: a one-channel list, then LoginAccepted.
Block LoginAnswer() {
    Block entry(kChannelEntrySize, 0);
    WriteLe32(entry, 0, 3);
    PutTextField(std::span(entry).subspan(4, kChannelNameField), "Gate");
    return Concat(
        {BuildSiteMessage(static_cast<std::uint8_t>(SiteMessage::ChannelList), 1, 3, entry),
         BuildSiteMessage(static_cast<std::uint8_t>(SiteMessage::LoginAccepted), 0, 0, {})});
}

// An uncompressed frame whose first four picture bytes carry its sequence number.
Block RgbFrame(int width, int height, std::uint32_t sequence) {
    BitmapInfoHeader format;
    format.biWidth = width;
    format.biHeight = height;
    format.biBitCount = 24;
    format.biCompression = BitmapInfoHeader::kBiRgb;
    format.biSizeImage = static_cast<std::uint32_t>(width * height * 3);
    Block picture(format.biSizeImage, static_cast<std::uint8_t>(sequence * 37));
    WriteLe32(picture, 0, sequence);
    return sim::PackFrame(format, picture);
}

Block FrameMessage(std::uint32_t channelId, std::uint32_t channelNumber, const Block& frame) {
    return BuildSiteMessage(static_cast<std::uint8_t>(SiteMessage::VideoFrame), channelId,
                            channelNumber, frame);
}

void Write(QTcpSocket& socket, std::span<const std::uint8_t> bytes) {
    socket.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
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

// A connection to a peer the test scripts byte by byte: a plain listener in this process.
class LinkFaultTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0)); }

    // Connects and starts the connection; returns the site's end of the link.
    QTcpSocket* Connect(int tickMs, int reLink = 1) {
        CallSettings call;
        call.user = "admin";
        call.password = "admin";
        call.reLink = reLink;
        connection = std::make_unique<SiteConnection>(
            SiteConnection::Services{channels, host, frame, nullptr}, call);
        connection->SetTickInterval(tickMs);
        if (!ConnectBlocking(connection->socket(), "127.0.0.1", server.serverPort(), 5000) ||
            !WaitUntil([&] { return server.hasPendingConnections(); })) {
            return nullptr;
        }
        connection->Start(false);
        return server.nextPendingConnection();
    }

    bool LoggedIn() {
        return WaitUntil([this] { return frame.Noticed(SiteNotice::LoginAccepted); });
    }

    std::uint64_t FramesOf(std::uint32_t number) {
        const ChannelLink* link = connection->channels().FindLinkByNumber(number);
        return link ? link->frames : 0;
    }

    QTcpServer server;
    ChannelTable channels;
    HeadlessChannelHost host;
    test::FakeMainFrame frame;
    std::unique_ptr<SiteConnection> connection;
};

TEST(LinkQueues, CountTheBytesTheyHold) {
    ReceiveQueue received;
    received.PushBack(Block(100, 1));
    received.PushBack(Block(30, 2));
    received.PushFront(Block(7, 3));
    EXPECT_EQ(received.bytes(), 137u);
    EXPECT_EQ(received.PopFront()->size(), 7u);
    received.DropFront();
    EXPECT_EQ(received.bytes(), 30u);
    received.Clear();
    EXPECT_EQ(received.bytes(), 0u);

    // Leftovers behind a message go back to the head and still count until fed.
    FrameAssembler assembler(kSiteAssemblyCapacity, SiteMessageHeader::kSize);
    const Block message = BuildSiteMessage(2, 0, 0, {});
    received.PushBack(Concat({message, Block(5, 'x')}));
    int dispatched = 0;
    ProcessReceivedChunks(received, assembler, [&](auto) { ++dispatched; });
    EXPECT_EQ(dispatched, 1);
    EXPECT_EQ(received.bytes(), 0u);

    SendQueue sent;
    bool open = false;
    const BlockSender send = [&](auto) { return open ? SendOutcome::Sent : SendOutcome::Blocked; };
    sent.AppendMessage(BuildWordMessage(1, 3), send);
    EXPECT_EQ(sent.bytes(), MessageHeader::kSize + 4 + MessageTrailer::kSize);
    open = true;
    sent.Append(Block(10, 0), send);
    EXPECT_EQ(sent.bytes(), 0u);
    open = false;
    sent.Append(Block(10, 0), send);
    sent.Clear();
    EXPECT_EQ(sent.bytes(), 0u);
}

// The site dies and comes back on the same port, again and again: each time the session
// reconnects and logs in; the wait costs no CPU and the cycles leave nothing behind.
class SiteRestartTest : public testing::Test {
  protected:
    void SetUp() override {
        CallSettings call;
        call.user = "admin";
        call.password = "admin";
        call.reLink = 1;
        settings.SaveCall(call);
        session.SetTiming({5000, 100, kFastTickMs});
        // The main frame's part: a lost link runs the reconnect loop.
        QObject::connect(&session, &SiteSession::notified, [this](SiteNotice id) {
            posted.push_back(id);
            if (id == SiteNotice::LinkLost) {
                session.Reconnect();
            }
        });
    }

    bool StartSite(quint16 port) {
        site = std::make_unique<sim::SiteSimulator>(sim::SiteSimulatorOptions{});
        return site->Listen(QHostAddress::LocalHost, port);
    }
    bool Posted(SiteNotice id) const {
        return std::find(posted.begin(), posted.end(), id) != posted.end();
    }
    int SessionObjects() const { return static_cast<int>(session.findChildren<QObject*>().size()); }

    Settings settings{KeyStore::OpenInMemory()};
    ChannelTable channels;
    HeadlessChannelHost host;
    SiteSession session{{settings, channels, host, nullptr}};
    std::unique_ptr<sim::SiteSimulator> site;
    std::vector<SiteNotice> posted;
};

TEST_F(SiteRestartTest, ASiteKilledEveryFewSecondsIsLoggedIntoAgainEachTime) {
    ASSERT_TRUE(StartSite(0));
    const quint16 port = site->port();
    settings.WriteProfileInt("Net", "SitePort", port);
    ASSERT_EQ(session.ConnectTo("127.0.0.1"), SiteSession::ConnectResult::Connected);
    ASSERT_TRUE(WaitUntil([&] { return Posted(SiteNotice::LoginAccepted); }));

    constexpr int kCycles = 5;
    constexpr int kDownMs = 800;
    int descriptorsAfterFirst = 0;
    int objectsAfterFirst = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        posted.clear();
        const double cpuBefore = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        site.reset();  // the site's process is gone; its port comes back later
        bool restarted = false;
        double cpu = 0;      // while the site was down: the reconnect loop's part
        double seconds = 0;  // how long it was down
        QTimer::singleShot(kDownMs, &session, [&] {
            cpu = CpuSeconds() - cpuBefore;
            seconds = double(wall.elapsed()) / 1000.0;
            restarted = StartSite(port);
        });
        ASSERT_TRUE(WaitUntil(
            [&] {
                return restarted && session.state() == SiteSession::State::Connected &&
                       Posted(SiteNotice::LoginAccepted);
            },
            10000));
        EXPECT_GE(seconds, kDownMs / 1000.0);
        EXPECT_LT(cpu, 0.2 * seconds) << "the reconnect loop spins while the site is down";
        EXPECT_TRUE(Posted(SiteNotice::LinkLost));
        EXPECT_EQ(site->CountReceived(ClientMessage::Login), 1);
        EXPECT_TRUE(session.connection()->loggedIn());

        test::Pump(50);  // sockets replaced by the loop are deleted once it has returned
        if (cycle == 0) {
            descriptorsAfterFirst = OpenFileDescriptors();
            objectsAfterFirst = SessionObjects();
        }
    }
    EXPECT_EQ(OpenFileDescriptors(), descriptorsAfterFirst);
    EXPECT_EQ(SessionObjects(), objectsAfterFirst);
}

TEST_F(LinkFaultTest, ASiteSendingOneByteAtATimeFreezesNothingAndItsMessagesArriveWhole) {
    QTcpSocket* site = Connect(kFastTickMs);
    ASSERT_NE(site, nullptr);
    const Block first = RgbFrame(4, 4, 1);
    const Block second = RgbFrame(4, 4, 2);
    const Block trickled = Concat({LoginAnswer(), FrameMessage(3, 9, first)});
    const Block slow = FrameMessage(3, 9, second);

    // One byte every 20 ms: the login's answer and a first frame.
    std::size_t sent = 0;
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&] {
        if (sent < trickled.size()) {
            Write(*site, std::span(trickled).subspan(sent++, 1));
        }
    });
    StallProbe probe;
    trickle.start(20);
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == 1; }, 20000));
    EXPECT_TRUE(connection->loggedIn());
    EXPECT_EQ(channels.GetChannelName(3), "Gate");
    EXPECT_EQ(*connection->channels().FindLinkByNumber(9)->latestFrame.packed, first);
    ASSERT_NE(host.WindowFor(9), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return host.WindowFor(9)->picturesDrawn() == 1; }));

    // Then one byte a second: a frame waits, whole or not at all, for its last bytes.
    trickle.stop();
    Write(*site, std::span(slow).first(slow.size() - 3));
    for (std::size_t at = slow.size() - 3; at < slow.size(); ++at) {
        test::Pump(1000);
        EXPECT_EQ(FramesOf(9), 1u);
        Write(*site, std::span(slow).subspan(at, 1));
    }
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == 2; }, 2000));
    EXPECT_EQ(*connection->channels().FindLinkByNumber(9)->latestFrame.packed, second);
    EXPECT_TRUE(WaitUntil([&] { return host.WindowFor(9)->picturesDrawn() == 2; }));
    EXPECT_LT(probe.worstBusyMs(), kTrickleStallMs);
    EXPECT_LT(probe.worstLateMs(), kAwayMs);
    EXPECT_TRUE(connection->active());
}

// A site that sends as fast as it can: 100 MB/s offered, taken only as fast as the client
// reads. Returns what the flood cost the client.
struct FloodReport {
    std::size_t bytesSent = 0;
    std::size_t mostQueued = 0;
    std::size_t mostResidentGrowthKiB = 0;
    double worstBusyMs = 0;
    qint64 worstLateMs = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
};

class FloodTest : public LinkFaultTest {
  protected:
    // The site floods from a thread of its own, as a site's own process would: 1 MB from
    // makeUnit every 10 ms, each unit whole, as fast as the link takes it. Meanwhile this
    // thread, the client's, is busy now and then (a long paint, say) and the kernel gathers
    // what the site sends. onTurn runs here on each turn of the event loop.
    FloodReport Flood(QTcpSocket& site, std::function<Block()> makeUnit, int milliseconds,
                      const std::function<void()>& onTurn = {}) {
        FloodReport report;
        const std::size_t residentBefore = ResidentKiB();
        const double cpuBefore = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        std::atomic<bool> stop = false;
        std::atomic<bool> abandon = false;
        std::atomic<bool> finished = false;
        std::atomic<std::size_t> sent = 0;
        std::thread flooder([&, fd = int(site.socketDescriptor())] {
            auto next = std::chrono::steady_clock::now();
            while (!stop) {
                const Block unit = makeUnit();
                for (std::size_t at = 0; at < unit.size() && !abandon;) {
                    const ssize_t n =
                        ::send(fd, unit.data() + at, unit.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (n > 0) {
                        at += static_cast<std::size_t>(n);
                    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                        pollfd writable{fd, POLLOUT, 0};
                        ::poll(&writable, 1, 10);
                    } else {
                        abandon = true;  // the link is gone
                    }
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
        {
            StallProbe probe([&] {
                report.mostQueued = std::max(report.mostQueued, connection->queuedReceiveBytes());
                const std::size_t resident = ResidentKiB();
                if (resident > residentBefore) {
                    report.mostResidentGrowthKiB =
                        std::max(report.mostResidentGrowthKiB, resident - residentBefore);
                }
                if (onTurn) {
                    onTurn();
                }
            });
            busy.start(500);
            test::Pump(milliseconds);
            busy.stop();
            // The last unit goes out whole while the client reads on.
            stop = true;
            WaitUntil([&] { return finished.load(); });
            abandon = true;
            flooder.join();
            report.worstBusyMs = probe.worstBusyMs();
            report.worstLateMs = probe.worstLateMs();
        }
        report.bytesSent = sent;
        report.cpuSeconds = CpuSeconds() - cpuBefore;
        report.wallSeconds = double(wall.elapsed()) / 1000.0;
        return report;
    }

    // What every flood must leave: bounded memory, a turning event loop, bounded CPU.
    static void ExpectBounded(const FloodReport& report) {
        SCOPED_TRACE(testing::Message()
                     << report.bytesSent << " bytes sent, at most " << report.mostQueued
                     << " queued, resident +" << report.mostResidentGrowthKiB << " KiB, "
                     << report.worstBusyMs << " ms busy / " << report.worstLateMs
                     << " ms late at worst, " << report.cpuSeconds << " s CPU in "
                     << report.wallSeconds << " s");
        EXPECT_GT(report.bytesSent, 8 * kMiB);  // it was a flood
        EXPECT_LE(report.mostQueued, 4 * kMiB);
        EXPECT_LT(report.mostResidentGrowthKiB, kResidentGrowthKiB);
        EXPECT_LT(report.worstBusyMs, kFloodStallMs);
        EXPECT_LT(report.worstLateMs, kAwayMs);
        // The flooding thread, the client and the decoding of what the flood carries share two
        // cores: together they must leave some of it idle, nothing spinning on its own.
        EXPECT_LT(report.cpuSeconds, 1.9 * report.wallSeconds);
    }
};

TEST_F(FloodTest, AFloodOfGarbageKeepsMemoryBoundedAndTheLinkUp) {
    QTcpSocket* site = Connect(SiteConnection::kTickMilliseconds);
    ASSERT_NE(site, nullptr);
    Write(*site, LoginAnswer());
    ASSERT_TRUE(LoggedIn());

    // Random bytes without a 'T', so no message header can ever form.
    Block garbage(kMiB);
    std::mt19937 random(7);
    std::generate(garbage.begin(), garbage.end(), [&] {
        const auto byte = static_cast<std::uint8_t>(random());
        return byte == 'T' ? std::uint8_t('t') : byte;
    });
    const FloodReport report = Flood(
        *site, [&] { return garbage; }, 2000);
    ExpectBounded(report);
    EXPECT_TRUE(connection->active());
    EXPECT_TRUE(host.windows().empty());
}

TEST_F(FloodTest, AFloodOfFramesOnAChannelNeverOpenedIsTakenWholeAndInOrder) {
    QTcpSocket* site = Connect(SiteConnection::kTickMilliseconds);
    ASSERT_NE(site, nullptr);
    Write(*site, LoginAnswer());
    ASSERT_TRUE(LoggedIn());

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
    const FloodReport report = Flood(*site, nextUnit, 2000, [&] {
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
    QTcpSocket* site = Connect(3600 * 1000);
    ASSERT_NE(site, nullptr);
    constexpr std::uint32_t kFrames = 40;  // the queue's limit and some 200 KB more
    Write(*site, LoginAnswer());
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        Write(*site, FrameMessage(5, 6, RgbFrame(160, 120, i)));
    }
    Write(*site, BuildSiteMessage(static_cast<std::uint8_t>(SiteMessage::SiteClosing), 0, 0, {}));
    site->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkLost); }));
    EXPECT_TRUE(frame.Noticed(SiteNotice::LoginAccepted));  // the login's answer
    EXPECT_EQ(FramesOf(6), kFrames);
    ASSERT_NE(connection->channels().FindLinkByNumber(6), nullptr);
    EXPECT_EQ(*connection->channels().FindLinkByNumber(6)->latestFrame.packed,
              RgbFrame(160, 120, kFrames - 1));
    EXPECT_TRUE(frame.Noticed(SiteNotice::SiteClosing));  // the SiteClosing
}

TEST_F(LinkFaultTest, ASiteThatStopsReadingIsDroppedAsABrokenLinkBeforeMemoryGrows) {
    QTcpSocket* site = Connect(kFastTickMs, 1);
    ASSERT_NE(site, nullptr);
    // It answers the login, then reads nothing more: its kernel buffer stays small and full.
    site->setReadBufferSize(64);
    site->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    Write(*site, LoginAnswer());
    ASSERT_TRUE(LoggedIn());

    test::ExpectedMessage dropped(QtWarningMsg, "orvane.site", "not reading");
    const std::string command(60000, 'r');
    const std::size_t residentBefore = ResidentKiB();
    std::size_t mostQueued = 0;
    std::size_t sentBytes = 0;
    // Up to 48 MB of requests: far beyond what the kernel's buffers take.
    for (int i = 0; i < 800 && connection->active(); ++i) {
        if (connection->SendRunProgram(command)) {
            sentBytes += command.size();
        }
        mostQueued = std::max(mostQueued, connection->queuedSendBytes());
        if (i % 4 == 0) {
            test::Pump(1);  // the socket hands what it can to the kernel
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkLost); }, 3000))
        << sentBytes << " bytes of requests, " << mostQueued << " queued";
    EXPECT_FALSE(connection->active());
    EXPECT_EQ(frame.statusLines.back(), "Disconnect");
    // The limit and one message beyond it, never more.
    EXPECT_LE(mostQueued, kMiB + command.size() + 64);
    EXPECT_LT(ResidentKiB(), residentBefore + kResidentGrowthKiB);
    EXPECT_EQ(connection->queuedSendBytes(), 0u);
    // Requests while the link is down are refused, not queued.
    EXPECT_FALSE(connection->SendRunProgram(command));
}

}  // namespace
}  // namespace orvane
