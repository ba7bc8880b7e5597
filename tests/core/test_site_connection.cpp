// The site connection against the simulated site, or a scripted peer, over real loopback
// sockets.
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/simulated_link.h"
#include "wire/bitmap_info.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using sim::SiteSimulatorOptions;
using test::Requests;
using test::SiteMessageOf;
using test::WaitUntil;
using SiteConnectionTest = test::ConnectionLink;
using test::Write;

// A 24-bit picture of this size and compression, packed as a site sends it.
Block Packed(int width, int height, std::uint32_t fourcc, const Block& picture) {
    const BitmapInfoHeader format{.biWidth = width,
                                  .biHeight = height,
                                  .biBitCount = 24,
                                  .biCompression = fourcc,
                                  .biSizeImage = static_cast<std::uint32_t>(picture.size())};
    return sim::PackFrame(format, picture);
}

// A frame of channel `id` (number `number`) carrying 64 bytes in this format.
Block FrameOf(std::uint32_t id, std::uint32_t number, int width, int height, std::uint32_t fourcc) {
    return SiteMessageOf(SiteMessage::VideoFrame, id, number,
                         Packed(width, height, fourcc, Block(64, 0)));
}

// An uncompressed frame whose bytes tell it from every other of a test.
Block RgbFrame(int width, int height, std::uint32_t sequence) {
    Block picture(std::size_t(width * height * 3), static_cast<std::uint8_t>(sequence * 37));
    WriteLe32(picture, 0, sequence);
    return Packed(width, height, BitmapInfoHeader::kBiRgb, picture);
}

// What a scripted site answers an accepted login with: a one-channel list, then LoginAccepted.
void AcceptLogin(QTcpSocket& peer) {
    Block entry(kChannelEntrySize, 0);
    WriteLe32(entry, 0, 3);
    Write(peer, SiteMessageOf(SiteMessage::ChannelList, 1, 3, entry));
    Write(peer, SiteMessageOf(SiteMessage::LoginAccepted));
}

// A wrong password is refused; a site may ask for the login again first. The channel table
// holds the entries the site permits, their names decoded from Windows-1252 bytes as the site
// sends them, one a full 32-byte field.
TEST_F(SiteConnectionTest, RejectedAndRepeatedLoginsAndTheChannelTable) {
    SiteSimulatorOptions options;
    options.channels = {{3, 1, "M\xFCller T\xFCr"},
                        {0, 2, "Zero"},
                        {-4, 3, "Negative"},
                        {7, 4, std::string(32, '\xE9')}};
    options.siteBits = 2;
    options.loginAgainFirst = true;
    site = test::StartSite(options);
    Connect("wrong");
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LoginRejected); }));
    frame.notices.clear();
    Connect();
    ASSERT_TRUE(LoggedIn());
    // Each session's first Login is answered with LoginAgain: two per session.
    EXPECT_EQ(site->CountReceived(ClientMessage::Login), 4);
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels.GetChannelName(3), "M\u00fcller T\u00fcr");
    EXPECT_EQ(QString::fromStdString(channels.GetChannelName(7)), QString(32, QChar(0xE9)));
    EXPECT_FALSE(connection->channelOpenPermission());
    EXPECT_TRUE(connection->channelClosePermission());
}

// Each channel gets a window and a decoder of its own: a shared decoder of an inter-frame codec
// would mix the two channels' pictures.
TEST_F(SiteConnectionTest, EachChannelsFramesMakeOneWindowDecodedFromItsOwnStream) {
    SiteSimulatorOptions options;
    options.framesPerSecond = 25;
    ASSERT_TRUE(LogInToNewSite(options));
    connection->OpenChannel(3);
    connection->OpenChannel(7);
    ASSERT_TRUE(WaitForWindow(1, 20) && WaitForWindow(2, 20));
    site->StopStreaming();
    // Every frame that arrived is decoded; the windows show the newest, each its own channel's.
    ASSERT_TRUE(WaitUntil([&] {
        test::Pump(50);
        return connection->decodedFrames() == FramesOf(1) + FramesOf(2);
    }));
    test::Pump(100);
    for (const std::uint32_t number : {1u, 2u}) {
        const auto* window = host.WindowFor(number);
        const auto newest = static_cast<int>(FramesOf(number)) - 1;
        const QImage expected =
            sim::TestPattern(int(number) - 1, newest, window->params().pictureSize);
        EXPECT_LT(test::MeanDifference(window->lastPicture(), expected), 12.0);
    }
}

TEST_F(SiteConnectionTest, ClosingFixingStoppingAndRemoteControl) {
    ASSERT_TRUE(LogInToNewSite());
    connection->OpenChannel(3);
    auto* gate = WaitForWindow(1);
    ASSERT_NE(gate, nullptr);
    EXPECT_FALSE(connection->FixChannel(gate));  // one window: nothing sent
    connection->OpenChannel(7);
    auto* yard = WaitForWindow(2);
    ASSERT_NE(yard, nullptr);
    EXPECT_TRUE(connection->FixChannel(gate));
    EXPECT_EQ(connection->fixedWindow(), gate);
    EXPECT_TRUE(connection->FixChannel(gate));
    EXPECT_EQ(connection->fixedWindow(), nullptr);
    connection->CloseChannel(yard, true);
    connection->SendCloseSite();
    connection->SendRebootSite();
    connection->SendRunProgram("");
    connection->SendRunProgram(std::string(50, 'r'));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::RunProgram) == 2; }));
    EXPECT_EQ(test::RequestsOf(*site, {ClientMessage::FixChannel, ClientMessage::CloseChannel}),
              (Requests{{3, 3}, {3, 3}, {2, 7}}));
    // Close site, reboot and an empty command line go bare; a command line ends in a NUL.
    const auto& received = site->received();
    for (std::size_t i = received.size() - 4; i < received.size(); ++i) {
        EXPECT_EQ(received[i].payload.size(), i + 1 == received.size() ? 51u : 0u);
    }
    EXPECT_EQ(received.back().payload.back(), 0);
    // Frames still arriving for the closed channel are dropped, not drawn in a new window.
    test::Pump(300);
    EXPECT_EQ(host.windows().size(), 2u);
    EXPECT_TRUE(yard->closed());

    SCOPED_TRACE("a closed channel can be watched again");
    EXPECT_TRUE(connection->OpenChannel(7));
    ASSERT_TRUE(WaitUntil(
        [&] { return host.windows().size() == 3 && host.windows()[2]->picturesDrawn() > 2; }));
    EXPECT_EQ(connection->OpenWindowCount(), 2);
    EXPECT_EQ(host.windows()[2]->params().channelId, 7u);

    SCOPED_TRACE("a stopped channel; stream errors leave the link up");
    site->StopChannel(1);
    ASSERT_TRUE(WaitUntil([&] { return gate->IsStopped(); }));
    site->SendRaw(SiteMessageOf(SiteMessage::ChannelStopped, 0, 99));  // no window: nothing
    site->SendRaw(BuildSiteMessage(7, 0, 0, {}));
    site->SendRaw(BuildSiteMessage(21, 0, 0, {}));
    site->SendRaw(SiteMessageOf(SiteMessage::LoginAccepted));
    frame.notices.clear();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LoginAccepted); }));
    EXPECT_EQ(frame.statusLines.count("Stream error!"), 2);
    EXPECT_TRUE(connection->active());
    // Closing a stopped channel sends nothing to the site.
    connection->CloseChannel(gate, true);
    test::Pump(300);
    EXPECT_TRUE(gate->closed());
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseChannel), 1);
    EXPECT_EQ(connection->OpenWindowCount(), 1);
}

// With ReLink on a lost link keeps its windows (counted) and asks for a reconnect; off, it
// closes them and ends.
class ReLinkTest : public SiteConnectionTest, public testing::WithParamInterface<int> {};

TEST_P(ReLinkTest, ALostLinkKeepsTheWindowsOnlyWithReLinkOn) {
    const bool reLink = GetParam() != 0;
    ASSERT_TRUE(LogInToNewSite({}, GetParam()));
    connection->OpenChannel(3);
    auto* window = WaitForWindow(1);
    ASSERT_NE(window, nullptr);
    site->DropLinks();
    ASSERT_TRUE(WaitUntil(
        [&] { return frame.Noticed(reLink ? SiteNotice::LinkLost : SiteNotice::LinkEnded); }));
    EXPECT_FALSE(connection->active());
    EXPECT_EQ(window->closed(), !reLink);
    EXPECT_EQ(connection->OpenWindowCount(), reLink ? 1 : 0);
    if (!reLink) {
        return;
    }
    EXPECT_EQ(frame.statusLines.back(), "Disconnect");

    // The reconnect loop's part: the kept window draws again, its channel asked for once more
    // as the site takes the login, so the operator's Open does not ask again.
    const int drawnBefore = window->picturesDrawn();
    Reconnect();
    frame.notices.clear();
    ASSERT_TRUE(LoggedIn());
    EXPECT_TRUE(WaitUntil([&] { return window->picturesDrawn() >= drawnBefore + 3; }));
    EXPECT_EQ(host.windows().size(), 1u);
    EXPECT_FALSE(connection->OpenChannel(3));
    EXPECT_EQ(site->CountReceived(ClientMessage::OpenChannel), 2);
}

INSTANTIATE_TEST_SUITE_P(OnAndOff, ReLinkTest, testing::Values(1, 0),
                         [](const auto& param) { return param.param ? "On" : "Off"; });

// Before the site accepts a login (a calling site may never do so), channel requests go at
// once; after a reconnect, OpenChannel and CloseChannel wait for the new login and go only when
// it is accepted; FixChannel always goes at once. What acts on the site itself (remote
// control) waits for an accepted login, behind whatever that login let go.
class ChannelRequests : public SiteConnectionTest,
                        public testing::WithParamInterface<std::string> {};

TEST_P(ChannelRequests, GoBeforeTheFirstLoginIsAcceptedAndWaitForTheNewLoginAfterAReconnect) {
    const bool again = GetParam() != "First";
    SiteSimulatorOptions options;
    options.acceptLogin = false;  // the test gives the answers
    options.streamOnLogin = true;
    site = test::StartSite(options);
    Connect();
    auto* gate = WaitForWindow(1);
    auto* yard = WaitForWindow(2);
    ASSERT_TRUE(gate && yard);
    if (again) {
        site->DropLinks();
        ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkLost); }));
        Reconnect();
    }
    ASSERT_FALSE(connection->loggedIn());
    EXPECT_FALSE(connection->SendCloseSite());
    EXPECT_FALSE(connection->SendRebootSite());
    EXPECT_FALSE(connection->SendRunProgram("rk-srv"));
    EXPECT_TRUE(connection->FixChannel(gate));
    connection->CloseChannel(yard, true);
    EXPECT_TRUE(connection->OpenChannel(12));
    ASSERT_TRUE(WaitUntil([&] {
        return site->CountReceived(ClientMessage::FixChannel) == 1 &&
               (again || site->CountReceived(ClientMessage::OpenChannel) == 1);
    }));
    const auto requests = [&] {
        return test::RequestsOf(*site, {ClientMessage::OpenChannel, ClientMessage::CloseChannel});
    };
    const Requests asked{{2, 7}, {1, 12}};  // the operator's close and open
    EXPECT_EQ(requests(), again ? Requests{} : asked);
    if (GetParam() == "AgainRefused") {
        connection->ReceiveChunk(SiteMessageOf(SiteMessage::LoginRejected));
    }
    connection->ReceiveChunk(SiteMessageOf(SiteMessage::LoginAccepted));
    connection->Tick();
    ASSERT_TRUE(connection->SendRunProgram(""));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::RunProgram) == 1; }));
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseSite), 0);
    EXPECT_EQ(site->CountReceived(ClientMessage::RebootSite), 0);
    EXPECT_EQ(requests(), (!again                          ? asked
                           : GetParam() == "AgainAccepted" ? Requests{{1, 3}, {2, 7}, {1, 12}}
                                                           : Requests{{1, 3}}));
}

INSTANTIATE_TEST_SUITE_P(Logins, ChannelRequests,
                         testing::Values("First", "AgainAccepted", "AgainRefused"),
                         [](const auto& param) { return param.param; });

// Frames no window can show are dropped and told; event records under 300 bytes are dropped.
TEST_F(SiteConnectionTest, FramesOfZeroSizeOrUnknownCodecsEventRecordsAndSiteClosing) {
    ASSERT_TRUE(LogInToNewSite());
    test::ExpectedMessage zeroSize(QtWarningMsg, "orvane.site", "zero size");
    connection->ReceiveChunk(FrameOf(3, 1, 0, 240, BitmapInfoHeader::kBiRgb));
    connection->Tick();
    EXPECT_EQ(zeroSize.seen(), 1);
    test::ExpectedMessage noDecoder(QtWarningMsg, "orvane.site", "no decoder");
    const Block unknown = FrameOf(3, 1, 320, 240, MakeFourcc('Z', 'Z', 'Z', 'Z'));
    site->SendRaw(unknown);
    site->SendRaw(unknown);  // told once a link: a faulty site sends it with every frame
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::NoCodec); }));
    EXPECT_TRUE(host.windows().empty());

    const Block record = sim::MakeEventRecord("Door", "555", "Main St", "open");
    site->SendRaw(SiteMessageOf(SiteMessage::EventRecord, 0, 0, record));
    site->SendRaw(SiteMessageOf(SiteMessage::EventRecord, 0, 0, Block(299, 1)));
    site->SendSiteClosing();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::SiteClosing); }));
    EXPECT_EQ(events.records, std::vector<Block>{record});
    EXPECT_EQ(std::count(frame.notices.begin(), frame.notices.end(), SiteNotice::NoCodec), 1);
}

// The bytes of both messages are pinned by the wire test; here, when they go.
TEST_F(SiteConnectionTest, ALoginThenAKeepAliveEvery51TicksAcrossARestart) {
    site = test::StartSite();
    Connect();
    connection->SetTickInterval(3600 * 1000);  // the ticks are counted by hand
    // After `ticks` more ticks the site has had these logins and keep-alives, and nothing else.
    const auto after = [&](int ticks, int logins, int keepAlives) {
        for (int i = 0; i < ticks; ++i) {
            connection->Tick();
        }
        const auto count = [&] { return int(site->received().size()); };
        WaitUntil([&] { return count() >= logins + keepAlives; });
        test::Pump(30);
        return count() == logins + keepAlives &&
               site->CountReceived(ClientMessage::KeepAlive) == keepAlives;
    };
    ASSERT_TRUE(after(51, 1, 0));  // none on the first 51 ticks
    ASSERT_TRUE(after(1, 1, 1));   // the 52nd
    ASSERT_TRUE(after(50, 1, 1));
    ASSERT_TRUE(after(1, 1, 2));  // then every 51
    // A restart logs in again but keeps counting where the ticks were.
    ASSERT_TRUE(after(20, 1, 2));
    connection->Start(false);
    ASSERT_TRUE(after(30, 2, 2));
    ASSERT_TRUE(after(1, 2, 3));
    EXPECT_EQ(test::RequestsOf(*site, {ClientMessage::KeepAlive}),
              (Requests{{8, 0}, {8, 0}, {8, 0}}));
}

// Two sites calling in the same moment: the first link goes right after its start.
TEST_F(SiteConnectionTest, ACalledBackLinkReplacedAtOnceStillStoresItsEvent) {
    site = test::StartSite();
    ASSERT_TRUE(AdoptCallBack());
    connection->StartCalledBack(SiteMessageOf(SiteMessage::EventRecord, 0, 0,
                                              sim::MakeEventRecord("Door", "1", "Hall", "open")));
    connection.reset();
    EXPECT_EQ(events.records.size(), 1u);
}

// Indeo 3 is chosen for the connection by the first frame; a channel too large for it cannot
// open a decoder of its own, and keeps its window and its frames without a picture.
TEST_F(SiteConnectionTest, ADecoderThatCannotOpenKeepsTheWindowWithoutEndingTheLink) {
    ASSERT_TRUE(LogInToNewSite());
    test::ExpectedMessage cannotOpen(QtWarningMsg, "orvane.site", "cannot open");
    test::ExpectedMessage mediaNoise(QtWarningMsg, "orvane.media", "",
                                     test::ExpectedMessage::Occurrence::Optional);
    const std::uint32_t indeo3 = MakeFourcc('I', 'V', '3', '2');
    site->SendRaw(FrameOf(5, 8, 320, 240, indeo3));
    site->SendRaw(FrameOf(6, 9, 704, 576, indeo3));
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == 1; }));
    ASSERT_NE(host.WindowFor(9), nullptr);
    test::Pump(100);
    EXPECT_FALSE(frame.Noticed(SiteNotice::NoCodec));
    EXPECT_TRUE(connection->active());
    EXPECT_FALSE(host.WindowFor(9)->closed());
    EXPECT_EQ(host.WindowFor(9)->picturesDrawn(), 0);
    site->SendRaw(FrameOf(6, 9, 704, 576, indeo3));
    EXPECT_TRUE(WaitUntil([&] { return FramesOf(9) == 2; }));
}

// Whatever the connection holds back of a burst larger than it reads ahead, everything the site
// sent before it closed is acted on before the close. The frame kept as the latest is exactly
// the last one's bytes, whether larger than the 320 x 240 x 3 a window once kept or far smaller.
TEST_F(SiteConnectionTest, EverythingASiteSentBeforeItClosedIsActedOnAndTheLatestFrameKeptWhole) {
    QTcpSocket* peer = ConnectToScriptedPeer(3600 * 1000);  // the ticks never run
    ASSERT_NE(peer, nullptr);
    AcceptLogin(*peer);
    const auto send = [&](const Block& packed) {
        Write(*peer, SiteMessageOf(SiteMessage::VideoFrame, 5, 6, packed));
    };
    const auto latest = [&] {
        return *connection->channels().FindLinkByNumber(6)->latestFrame.packed;
    };
    const Block large = RgbFrame(320, 159, 1000);
    send(large);
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(6) == 1; }));
    EXPECT_EQ(latest(), large);
    constexpr std::uint32_t kFrames = 40;  // the queue's limit and some 200 KB more
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        send(RgbFrame(160, 120, i));
    }
    send(RgbFrame(16, 8, kFrames));
    Write(*peer, SiteMessageOf(SiteMessage::SiteClosing));
    peer->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkLost); }));
    EXPECT_EQ(FramesOf(6), kFrames + 2);
    EXPECT_EQ(latest(), RgbFrame(16, 8, kFrames));
    EXPECT_TRUE(frame.Noticed(SiteNotice::SiteClosing));
}

TEST_F(SiteConnectionTest, ASiteThatStopsReadingIsDroppedAsABrokenLinkBeforeTheQueueGrows) {
    QTcpSocket* peer = ConnectToScriptedPeer(test::kFastTickMs);
    ASSERT_NE(peer, nullptr);
    AcceptLogin(*peer);
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
