// The site connection against the simulated site over real loopback sockets.
#include "media/clip_recorder.h"
#include "site/blocking_connect.h"
#include "support/event_loop.h"
#include "support/file_gate.h"
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/simulated_link.h"
#include "wire/byte_order.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using sim::SiteSimulatorOptions;
using test::WaitUntil;
using SiteConnectionTest = test::ConnectionLink;

TEST_F(SiteConnectionTest, LoginFillsTheChannelTableWithPermittedEntriesOnly) {
    SiteSimulatorOptions options;
    options.channels = {{3, 1, "Gate"}, {0, 2, "Zero"}, {-4, 3, "Negative"}, {7, 4, "Yard"}};
    options.siteBits = 2;
    ASSERT_TRUE(LogInToNewSite(options));
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels.GetChannelName(3), "Gate");
    EXPECT_EQ(channels.GetChannelName(7), "Yard");
    EXPECT_FALSE(connection->channelOpenPermission());
    EXPECT_TRUE(connection->channelClosePermission());
    EXPECT_TRUE(connection->peerText().startsWith("IP Address: 127.0.0.1"));
}

TEST_F(SiteConnectionTest, ChannelNamesAreDecodedFromTheSitesCodePage) {
    SiteSimulatorOptions options;
    // Windows-1252 bytes as the site sends them: "Müller Tür" and a full 32-byte name.
    options.channels = {{3, 1, "M\xFCller T\xFCr"}, {4, 2, std::string(32, '\xE9')}};
    ASSERT_TRUE(LogInToNewSite(options));
    EXPECT_EQ(channels.GetChannelName(3), "M\u00fcller T\u00fcr");
    EXPECT_EQ(QString::fromStdString(channels.GetChannelName(4)), QString(32, QChar(0xE9)));
}

TEST_F(SiteConnectionTest, RejectedLimitedAndRepeatedLogins) {
    SiteSimulatorOptions options;
    options.maxSessions = 1;
    options.loginAgainFirst = true;
    StartSite(options);

    Connect("admin", "wrong");
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LoginRejected); }));

    frame.notices.clear();
    Connect();  // LoginAgain first, then accepted
    ASSERT_TRUE(LoggedIn());
    // Each session's first Login is answered with LoginAgain: two per session.
    EXPECT_EQ(site->CountReceived(ClientMessage::Login), 4);

    // A second client beyond the site's limit.
    test::FakeMainFrame secondFrame;
    CallSettings call;
    call.user = "admin";
    call.password = "admin";
    SiteConnection second({channels, host, secondFrame, nullptr}, call);
    ASSERT_TRUE(ConnectBlocking(second.socket(), "127.0.0.1", site->port(), 5000));
    second.Start(false);
    EXPECT_TRUE(WaitUntil([&] {
        return secondFrame.Noticed(SiteNotice::LimitReached) ||
               secondFrame.Noticed(SiteNotice::LoginAccepted);
    }));
    EXPECT_TRUE(secondFrame.Noticed(SiteNotice::LimitReached));
}

TEST_F(SiteConnectionTest, FirstFrameMakesAWindowAtTheCascadeAndLaterFramesReuseIt) {
    ASSERT_TRUE(LogInToNewSite());
    EXPECT_TRUE(connection->OpenChannel(3));
    auto* window = WaitForWindow(1, 3);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(host.windows().size(), 1u);
    EXPECT_EQ(window->params().channelId, 3u);
    EXPECT_EQ(window->params().pictureSize, QSize(320, 240));
    EXPECT_TRUE(window->params().closePermission);
    EXPECT_EQ(connection->OpenWindowCount(), 1);
    EXPECT_GE(host.windowChanges(), 1);  // the host hears of it and arranges when it should
    EXPECT_EQ(FramesOf(1), static_cast<std::uint64_t>(connection->frameCounter()));

    // The second channel gets a window of its own (the host places it).
    EXPECT_TRUE(connection->OpenChannel(7));
    auto* second = WaitForWindow(2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(connection->OpenWindowCount(), 2);
    // An open channel is not asked for again.
    EXPECT_FALSE(connection->OpenChannel(3));
}

TEST_F(SiteConnectionTest, TwoChannelsOfAnInterFrameCodecDecodeWithoutCorruption) {
    SiteSimulatorOptions options;
    options.framesPerSecond = 25;
    ASSERT_TRUE(LogInToNewSite(options));
    connection->OpenChannel(3);
    connection->OpenChannel(7);
    auto* gate = WaitForWindow(1, 20);
    auto* yard = WaitForWindow(2, 20);
    ASSERT_TRUE(gate && yard);
    site->StopStreaming();
    // Every frame that arrived is decoded, so the last picture is frame count - 1 of each
    // channel's own pattern; a shared decoder would have mixed the two. The windows get only
    // the newest pictures, at most one per screen refresh.
    const auto received = [&] { return FramesOf(1) + FramesOf(2); };
    ASSERT_TRUE(WaitUntil([&] {
        test::Pump(50);
        return connection->decodedFrames() == received();
    }));
    test::Pump(100);
    for (auto [window, index] : {std::pair{gate, 0}, std::pair{yard, 1}}) {
        const auto stored = static_cast<int>(FramesOf(window->params().channelNumber));
        EXPECT_GE(window->picturesDrawn(), 20);
        EXPECT_LE(window->picturesDrawn(), stored);
        const QImage expected = sim::TestPattern(index, stored - 1, window->params().pictureSize);
        EXPECT_LT(test::MeanDifference(window->lastPicture(), expected), 12.0);
    }
}

TEST_F(SiteConnectionTest, StoppedChannelsAndStreamErrors) {
    ASSERT_TRUE(LogInToNewSite());
    connection->OpenChannel(3);
    auto* window = WaitForWindow(1);
    ASSERT_NE(window, nullptr);

    site->StopChannel(1);
    ASSERT_TRUE(WaitUntil([&] { return window->IsStopped(); }));
    // A stop for a channel without window changes nothing.
    site->SendRaw(BuildSiteMessage(5, 0, 99, {}));
    // Types 7 and 21 are stream errors; the message after them is handled normally.
    site->SendRaw(BuildSiteMessage(7, 0, 0, {}));
    site->SendRaw(BuildSiteMessage(21, 0, 0, {}));
    site->SendRaw(BuildSiteMessage(2, 0, 0, {}));
    frame.notices.clear();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LoginAccepted); }));
    EXPECT_EQ(frame.statusLines.count("Stream error!"), 2);
    EXPECT_TRUE(connection->active());

    // Closing a stopped channel sends nothing to the site.
    const int closesBefore = site->CountReceived(ClientMessage::CloseChannel);
    connection->CloseChannel(window, true);
    test::Pump(300);
    EXPECT_TRUE(window->closed());
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseChannel), closesBefore);
    EXPECT_EQ(connection->OpenWindowCount(), 0);
}

TEST_F(SiteConnectionTest, ClosingFixingAndRemoteControlSendTheirMessages) {
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

    using Requests = test::Requests;
    EXPECT_EQ(test::RequestsOf(*site, {ClientMessage::FixChannel, ClientMessage::CloseChannel}),
              (Requests{{3, 3}, {3, 3}, {2, 7}}));
    std::vector<Block> payloads;  // of CloseSite, RebootSite and the two RunPrograms
    for (const auto& message : site->received()) {
        if (message.type >= std::uint8_t(ClientMessage::CloseSite)) {
            payloads.push_back(message.payload);
        }
    }
    ASSERT_EQ(payloads.size(), 4u);
    EXPECT_TRUE(payloads[0].empty() && payloads[1].empty() && payloads[2].empty());
    ASSERT_EQ(payloads[3].size(), 51u);
    EXPECT_EQ(payloads[3].back(), 0);

    // Frames still arriving for the closed channel are dropped, not drawn in a new window.
    test::Pump(300);
    EXPECT_EQ(host.windows().size(), 2u);
    EXPECT_TRUE(yard->closed());
}

TEST_F(SiteConnectionTest, ReLinkOnKeepsTheWindowsAndAsksForAReconnect) {
    StartSite();
    Connect("admin", "admin", 1);
    ASSERT_TRUE(LoggedIn());
    connection->OpenChannel(3);
    auto* window = WaitForWindow(1);
    ASSERT_NE(window, nullptr);
    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkLost); }));
    EXPECT_FALSE(connection->active());
    EXPECT_FALSE(window->closed());
    EXPECT_EQ(connection->channels().links().size(), 1u);
    EXPECT_EQ(frame.statusLines.back(), "Disconnect");

    EXPECT_EQ(connection->OpenWindowCount(), 1);  // the kept window still counts
}

TEST_F(SiteConnectionTest, ReLinkOffClosesTheWindowsAndDisconnects) {
    StartSite();
    Connect("admin", "admin", 0);
    ASSERT_TRUE(LoggedIn());
    connection->OpenChannel(3);
    auto* window = WaitForWindow(1);
    ASSERT_NE(window, nullptr);
    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkEnded); }));
    EXPECT_TRUE(window->closed());
    EXPECT_TRUE(connection->channels().links().empty());
    EXPECT_EQ(connection->OpenWindowCount(), 0);
}

// A site that has not accepted the login yet (a calling site may never do so) still gets the
// channel requests; what acts on the site itself waits for a login it has accepted.
TEST_F(SiteConnectionTest, BeforeTheFirstLoginIsAcceptedChannelRequestsGoAndRemoteControlDoesNot) {
    SiteSimulatorOptions options;
    options.acceptLogin = false;
    options.streamOnLogin = true;
    StartSite(options);
    Connect();
    auto* gate = WaitForWindow(1);
    auto* yard = WaitForWindow(2);
    ASSERT_NE(gate, nullptr);
    ASSERT_NE(yard, nullptr);
    ASSERT_FALSE(connection->loggedIn());

    EXPECT_FALSE(connection->SendCloseSite());
    EXPECT_FALSE(connection->SendRebootSite());
    EXPECT_FALSE(connection->SendRunProgram("rk-srv"));
    EXPECT_TRUE(connection->FixChannel(gate));
    connection->CloseChannel(yard, true);
    EXPECT_TRUE(connection->OpenChannel(12));
    ASSERT_TRUE(WaitUntil([&] {
        return site->CountReceived(ClientMessage::FixChannel) == 1 &&
               site->CountReceived(ClientMessage::CloseChannel) == 1 &&
               site->CountReceived(ClientMessage::OpenChannel) == 1;
    }));
    // Sent before the channel requests, they would have arrived before them.
    for (const ClientMessage refused :
         {ClientMessage::CloseSite, ClientMessage::RebootSite, ClientMessage::RunProgram}) {
        EXPECT_EQ(site->CountReceived(refused), 0) << int(refused);
    }
}

// Logging in again after a reconnect: OpenChannel and CloseChannel wait for the site's answer
// and go when it accepts, never when it refuses; FixChannel goes at once.
class ReloginAnswer : public SiteConnectionTest, public testing::WithParamInterface<bool> {};

TEST_P(ReloginAnswer, ChannelRequestsWaitForTheNewLogin) {
    const bool accepted = GetParam();
    SiteSimulatorOptions options;
    options.acceptLogin = false;  // the test gives the answers
    options.streamOnLogin = true;
    StartSite(options);
    Connect();
    auto* gate = WaitForWindow(1);
    auto* yard = WaitForWindow(2);
    ASSERT_NE(yard, nullptr);
    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkLost); }));
    connection->RecreateSocket();
    ASSERT_TRUE(ConnectBlocking(connection->socket(), "127.0.0.1", site->port(), 5000));
    connection->Start(false);

    EXPECT_TRUE(connection->FixChannel(gate));
    connection->CloseChannel(yard, true);
    EXPECT_TRUE(connection->OpenChannel(12));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::FixChannel) == 1; }));
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseChannel), 0);
    EXPECT_EQ(site->CountReceived(ClientMessage::OpenChannel), 0);

    auto answer = [&](SiteMessage message) {
        connection->ReceiveChunk(BuildSiteMessage(static_cast<std::uint8_t>(message), 0, 0, {}));
        connection->Tick();
    };
    if (!accepted) {
        answer(SiteMessage::LoginRejected);
    }
    answer(SiteMessage::LoginAccepted);
    // Remote control goes once the login is accepted, behind whatever that login let go.
    ASSERT_TRUE(connection->SendRunProgram(""));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::RunProgram) == 1; }));
    using Requests = test::Requests;
    EXPECT_EQ(test::RequestsOf(*site, {ClientMessage::OpenChannel, ClientMessage::CloseChannel}),
              (accepted ? Requests{{1, 3}, {2, 7}, {1, 12}} : Requests{{1, 3}}));
}

INSTANTIATE_TEST_SUITE_P(AcceptedOrRefused, ReloginAnswer, testing::Bool(),
                         [](const auto& param) { return param.param ? "Accepted" : "Refused"; });

TEST_F(SiteConnectionTest, AFrameOfZeroSizeIsDroppedWithALogLine) {
    ASSERT_TRUE(LogInToNewSite());
    BitmapInfoHeader empty;
    empty.biWidth = 0;
    empty.biHeight = 240;
    empty.biBitCount = 24;
    test::ExpectedMessage told(QtWarningMsg, "orvane.site", "zero size");
    connection->ReceiveChunk(BuildSiteMessage(1, 3, 1, sim::PackFrame(empty, Block(100, 1))));
    connection->Tick();
    EXPECT_EQ(told.seen(), 1);
    EXPECT_TRUE(host.windows().empty());
}

TEST_F(SiteConnectionTest, SiteClosingUnknownCodecsAndEventRecords) {
    ASSERT_TRUE(LogInToNewSite());

    BitmapInfoHeader unknown;
    unknown.biWidth = 320;
    unknown.biHeight = 240;
    unknown.biCompression = MakeFourcc('Z', 'Z', 'Z', 'Z');
    test::ExpectedMessage noDecoder(QtWarningMsg, "orvane.site", "no decoder");
    site->SendRaw(BuildSiteMessage(1, 3, 1, sim::PackFrame(unknown, Block(100, 1))));
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::NoCodec); }));
    EXPECT_TRUE(host.windows().empty());

    site->SendRaw(
        BuildSiteMessage(9, 0, 0, sim::MakeEventRecord("Door", "555", "Main St", "open")));
    site->SendRaw(BuildSiteMessage(9, 0, 0, Block(299, 1)));  // too short: dropped
    site->SendSiteClosing();
    ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::SiteClosing); }));
    ASSERT_EQ(events.records.size(), 1u);
    EXPECT_EQ(events.records[0].size(), 300u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(events.records[0].data())), "Door");
}

TEST_F(SiteConnectionTest, ASilentSiteGetsLoginThenAKeepAliveEvery51TicksAcrossARestart) {
    QTcpSocket* peer = ConnectToScriptedPeer(3600 * 1000);  // the ticks are counted by hand
    ASSERT_NE(peer, nullptr);

    const QByteArray login = QByteArray("TOP\0\0\0\0\0\x30\0\0\0EOF\0", 16);
    const QByteArray keepAlive = QByteArray("TOP\0\x08\0\0\0\x04\0\0\0EOF\0", 16);
    constexpr int kLoginBytes = 16 + 48 + 8;
    constexpr int kKeepAliveBytes = 16 + 4 + 8;
    QByteArray wire;
    // Everything written so far has arrived: exactly `bytes` of it.
    auto arrived = [&](int bytes) {
        WaitUntil([&] {
            wire += peer->readAll();
            return wire.size() >= bytes;
        });
        test::Pump(30);
        wire += peer->readAll();
        return wire.size() == bytes;
    };
    auto ticks = [&](int n) {
        for (int i = 0; i < n; ++i) {
            connection->Tick();
        }
    };

    ticks(51);
    ASSERT_TRUE(arrived(kLoginBytes));  // none on the first 51 ticks
    EXPECT_TRUE(wire.startsWith(login));
    ticks(1);
    ASSERT_TRUE(arrived(kLoginBytes + kKeepAliveBytes));  // the 52nd
    EXPECT_EQ(wire.count(keepAlive), 1);
    ticks(50);
    ASSERT_TRUE(arrived(kLoginBytes + kKeepAliveBytes));
    ticks(1);
    ASSERT_TRUE(arrived(kLoginBytes + 2 * kKeepAliveBytes));  // then every 51

    // A restart logs in again but keeps counting where the ticks were.
    ticks(20);
    connection->Start(false);
    ticks(30);
    ASSERT_TRUE(arrived(2 * kLoginBytes + 2 * kKeepAliveBytes));
    ticks(1);
    ASSERT_TRUE(arrived(2 * kLoginBytes + 3 * kKeepAliveBytes));
    EXPECT_EQ(wire.count(keepAlive), 3);
    EXPECT_EQ(wire.count(login), 2);
}

TEST_F(SiteConnectionTest, ACalledBackLinkReplacedAtOnceStillStoresItsEvent) {
    // Two sites calling in the same moment: the first link goes right after its start.
    StartSite();
    ASSERT_TRUE(AdoptCallBack());
    connection->StartCalledBack(
        BuildSiteMessage(9, 0, 0, sim::MakeEventRecord("Door", "1", "Hall", "open")));
    connection.reset();
    EXPECT_EQ(events.records.size(), 1u);
}

TEST_F(SiteConnectionTest, AClosedChannelCanBeWatchedAgain) {
    ASSERT_TRUE(LogInToNewSite());
    connection->OpenChannel(3);
    auto* first = WaitForWindow(1);
    ASSERT_NE(first, nullptr);
    connection->CloseChannel(first, true);
    EXPECT_TRUE(first->closed());
    test::Pump(100);  // frames still on the way are dropped
    EXPECT_EQ(host.windows().size(), 1u);

    EXPECT_TRUE(connection->OpenChannel(3));
    ASSERT_TRUE(WaitUntil(
        [&] { return host.windows().size() == 2 && host.windows()[1]->picturesDrawn() > 2; }));
    EXPECT_EQ(connection->OpenWindowCount(), 1);
    EXPECT_EQ(host.windows()[1]->params().channelId, 3u);
}

TEST_F(SiteConnectionTest, TheLatestFrameIsExactlyTheBytesOfThatFrameWhateverItsSize) {
    ASSERT_TRUE(LogInToNewSite());
    // Larger than the 320 x 240 x 3 a window once kept, then far smaller.
    const Block large = test::RgbFrame(320, 159, 7);
    const Block small = test::RgbFrame(16, 8, 9);
    ASSERT_GT(large.size(), 150000u);
    site->SendRaw(BuildSiteMessage(1, 5, 9, large));
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == 1; }));
    EXPECT_EQ(*connection->channels().FindLinkByNumber(9)->latestFrame.packed, large);
    site->SendRaw(BuildSiteMessage(1, 5, 9, small));
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == 2; }));
    EXPECT_EQ(*connection->channels().FindLinkByNumber(9)->latestFrame.packed, small);
}

// Recording starts with the frames kept since the key frame and then takes every frame; a
// disk that stops answering holds up no window: each keeps showing its newest pictures.
TEST_F(SiteConnectionTest, RecordingsTakeEveryFrameAndABlockedDiskHoldsUpNoWindow) {
    ASSERT_TRUE(LogInToNewSite());
    QTemporaryDir folder;
    auto store = KeyStore::OpenInMemory();
    test::FileGate disk;
    std::vector<std::unique_ptr<ClipRecorder>> recorders;
    std::vector<HeadlessChannelWindow*> windows;
    for (const std::uint32_t id : {3u, 7u}) {
        connection->OpenChannel(id);
        auto* window = WaitForWindow(id == 3 ? 1 : 2, 3);
        ASSERT_NE(window, nullptr);
        const ChannelLink* link = connection->channels().FindLinkByWindow(window);
        ASSERT_NE(link, nullptr);
        const std::size_t kept = link->sinceKey.frames().size();
        ASSERT_GE(kept, 1u);
        auto& recorder = recorders.emplace_back(std::make_unique<ClipRecorder>(
            store, nullptr, static_cast<std::int32_t>(id), window->params().format));
        recorder->SetFileOpener(disk.Opener());
        QString error;
        ASSERT_TRUE(
            connection->channels().StartRecording(window, *recorder, folder.path() + "/", error));
        EXPECT_EQ(recorder->frameIndex(), kept);
        windows.push_back(window);
    }

    disk.Shut();
    ASSERT_TRUE(WaitUntil([&] { return disk.held() > 0; }));
    std::vector<int> drawn;
    for (auto* window : windows) {
        drawn.push_back(window->picturesDrawn());
    }
    EXPECT_TRUE(WaitUntil([&] {
        return windows[0]->picturesDrawn() >= drawn[0] + 5 &&
               windows[1]->picturesDrawn() >= drawn[1] + 5;
    }));
    disk.Open();

    // Stopped, a recording hears no more.
    const auto taken = recorders[0]->frameIndex();
    connection->channels().StopRecording(*recorders[0]);
    test::Pump(200);
    EXPECT_EQ(recorders[0]->frameIndex(), taken);
}

TEST_F(SiteConnectionTest, ADecoderThatCannotOpenKeepsTheWindowWithoutEndingTheLink) {
    ASSERT_TRUE(LogInToNewSite());
    test::ExpectedMessage cannotOpen(QtWarningMsg, "orvane.site", "cannot open");
    test::ExpectedMessage mediaNoise(QtWarningMsg, "orvane.media", "",
                                     test::ExpectedMessage::Occurrence::Optional);
    auto indeo3 = [](int width, int height) {
        BitmapInfoHeader format;
        format.biWidth = width;
        format.biHeight = height;
        format.biBitCount = 24;
        format.biCompression = MakeFourcc('I', 'V', '3', '2');
        format.biSizeImage = 64;
        return sim::PackFrame(format, Block(64, 0));
    };
    // Indeo 3 is chosen for the connection by the first frame; a channel too large for it
    // cannot open a decoder of its own.
    site->SendRaw(BuildSiteMessage(1, 5, 8, indeo3(320, 240)));
    site->SendRaw(BuildSiteMessage(1, 6, 9, indeo3(704, 576)));
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == 1; }));
    ASSERT_NE(host.WindowFor(9), nullptr);
    test::Pump(100);
    EXPECT_FALSE(frame.Noticed(SiteNotice::NoCodec));
    EXPECT_TRUE(connection->active());
    EXPECT_FALSE(host.WindowFor(9)->closed());
    EXPECT_EQ(host.WindowFor(9)->picturesDrawn(), 0);
    site->SendRaw(BuildSiteMessage(1, 6, 9, indeo3(704, 576)));
    EXPECT_TRUE(WaitUntil([&] { return FramesOf(9) == 2; }));  // still kept, still no picture
}

}  // namespace
}  // namespace orvane
