// The site connection against the simulated site over real loopback sockets.
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/simulated_link.h"

#include <gtest/gtest.h>

#include <map>

namespace orvane {
namespace {

using sim::SiteSimulatorOptions;
using test::Requests;
using test::SiteMessageOf;
using test::WaitUntil;
using SiteConnectionTest = test::ConnectionLink;

// A wrong password is refused; a site may ask for the login again first; it takes no more
// sessions than its limit. The channel table holds the entries the site permits, their names
// decoded from Windows-1252 bytes as the site sends them, one a full 32-byte field.
TEST_F(SiteConnectionTest, RejectedRepeatedAndLimitedLoginsAndTheChannelTable) {
    SiteSimulatorOptions options;
    options.channels = {{3, 1, "M\xFCller T\xFCr"},
                        {0, 2, "Zero"},
                        {-4, 3, "Negative"},
                        {7, 4, std::string(32, '\xE9')}};
    options.siteBits = 2;
    options.maxSessions = 1;
    options.loginAgainFirst = true;
    StartSite(options);
    Connect("admin", "wrong");
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

    test::FakeMainFrame secondFrame;
    SiteConnection second({channels, host, secondFrame, nullptr}, test::AdminCall());
    ASSERT_TRUE(ConnectBlocking(second.socket(), "127.0.0.1", site->port(), 5000));
    second.Start(false);
    EXPECT_TRUE(WaitUntil([&] {
        return secondFrame.Noticed(SiteNotice::LimitReached) ||
               secondFrame.Noticed(SiteNotice::LoginAccepted);
    }));
    EXPECT_TRUE(secondFrame.Noticed(SiteNotice::LimitReached));
}

// Each channel gets a window of its own and a decoder of its own: a shared decoder of an
// inter-frame codec would mix the two channels' pictures.
TEST_F(SiteConnectionTest, EachChannelsFramesMakeOneWindowDecodedFromItsOwnStream) {
    SiteSimulatorOptions options;
    options.framesPerSecond = 25;
    ASSERT_TRUE(LogInToNewSite(options));
    EXPECT_TRUE(connection->OpenChannel(3));
    ASSERT_NE(WaitForWindow(1), nullptr);
    EXPECT_TRUE(connection->OpenChannel(7));
    EXPECT_FALSE(connection->OpenChannel(3));  // an open channel is not asked for again
    auto* gate = WaitForWindow(1, 20);
    auto* yard = WaitForWindow(2, 20);
    ASSERT_TRUE(gate && yard);
    EXPECT_EQ(host.windows().size(), 2u);

    site->StopStreaming();
    // Every frame that arrived is decoded; the windows get only the newest pictures.
    ASSERT_TRUE(WaitUntil([&] {
        test::Pump(50);
        return connection->decodedFrames() == FramesOf(1) + FramesOf(2);
    }));
    test::Pump(100);
    for (auto [window, index] : {std::pair{gate, 0}, std::pair{yard, 1}}) {
        const auto stored = static_cast<int>(FramesOf(window->params().channelNumber));
        EXPECT_LE(window->picturesDrawn(), stored);
        const QImage expected = sim::TestPattern(index, stored - 1, window->params().pictureSize);
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
    StartSite();
    Connect("admin", "admin", GetParam());
    ASSERT_TRUE(LoggedIn());
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
    connection->RecreateSocket();
    ASSERT_TRUE(ConnectBlocking(connection->socket(), "127.0.0.1", site->port(), 5000));
    connection->Start(false);
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
    StartSite(options);
    Connect();
    auto* gate = WaitForWindow(1);
    auto* yard = WaitForWindow(2);
    ASSERT_TRUE(gate && yard);
    if (again) {
        site->DropLinks();
        ASSERT_TRUE(WaitUntil([&] { return frame.Noticed(SiteNotice::LinkLost); }));
        connection->RecreateSocket();
        ASSERT_TRUE(ConnectBlocking(connection->socket(), "127.0.0.1", site->port(), 5000));
        connection->Start(false);
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
    EXPECT_EQ(requests(), again ? Requests{} : (Requests{{2, 7}, {1, 12}}));
    for (const auto answer : {SiteMessage::LoginRejected, SiteMessage::LoginAccepted}) {
        if (answer == SiteMessage::LoginAccepted || GetParam() == "AgainRefused") {
            connection->ReceiveChunk(SiteMessageOf(answer));
            connection->Tick();
        }
    }
    ASSERT_TRUE(connection->SendRunProgram(""));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::RunProgram) == 1; }));
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseSite), 0);
    EXPECT_EQ(site->CountReceived(ClientMessage::RebootSite), 0);
    const std::map<std::string, Requests> expected{{"First", {{2, 7}, {1, 12}}},
                                                   {"AgainAccepted", {{1, 3}, {2, 7}, {1, 12}}},
                                                   {"AgainRefused", {{1, 3}}}};
    EXPECT_EQ(requests(), expected.at(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Logins, ChannelRequests,
                         testing::Values("First", "AgainAccepted", "AgainRefused"),
                         [](const auto& param) { return param.param; });

// Frames no window can show are dropped and told; event records under 300 bytes are dropped.
TEST_F(SiteConnectionTest, FramesOfZeroSizeOrUnknownCodecsEventRecordsAndSiteClosing) {
    ASSERT_TRUE(LogInToNewSite());
    BitmapInfoHeader format;
    format.biWidth = 0;
    format.biHeight = 240;
    format.biBitCount = 24;
    {
        test::ExpectedMessage told(QtWarningMsg, "orvane.site", "zero size");
        connection->ReceiveChunk(BuildSiteMessage(1, 3, 1, sim::PackFrame(format, Block(100, 1))));
        connection->Tick();
        EXPECT_EQ(told.seen(), 1);
    }
    format.biWidth = 320;
    format.biCompression = MakeFourcc('Z', 'Z', 'Z', 'Z');
    test::ExpectedMessage noDecoder(QtWarningMsg, "orvane.site", "no decoder");
    const Block unknown = BuildSiteMessage(1, 3, 1, sim::PackFrame(format, Block(100, 1)));
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

TEST_F(SiteConnectionTest, ASilentSiteGetsLoginThenAKeepAliveEvery51TicksAcrossARestart) {
    QTcpSocket* peer = ConnectToScriptedPeer(3600 * 1000);  // the ticks are counted by hand
    ASSERT_NE(peer, nullptr);
    const QByteArray login("TOP\0\0\0\0\0\x30\0\0\0EOF\0", 16);
    const QByteArray keepAlive("TOP\0\x08\0\0\0\x04\0\0\0EOF\0", 16);
    constexpr int kLoginBytes = 16 + 48 + 8;
    constexpr int kKeepAliveBytes = 16 + 4 + 8;
    QByteArray wire;
    // After `ticks` more ticks, everything written so far has arrived: exactly `bytes` of it.
    auto arrivedAfter = [&](int ticks, int bytes) {
        for (int i = 0; i < ticks; ++i) {
            connection->Tick();
        }
        WaitUntil([&] {
            wire += peer->readAll();
            return wire.size() >= bytes;
        });
        test::Pump(30);
        wire += peer->readAll();
        return wire.size() == bytes;
    };
    ASSERT_TRUE(arrivedAfter(51, kLoginBytes));  // none on the first 51 ticks
    EXPECT_TRUE(wire.startsWith(login));
    ASSERT_TRUE(arrivedAfter(1, kLoginBytes + kKeepAliveBytes));  // the 52nd
    ASSERT_TRUE(arrivedAfter(50, kLoginBytes + kKeepAliveBytes));
    ASSERT_TRUE(arrivedAfter(1, kLoginBytes + 2 * kKeepAliveBytes));  // then every 51
    // A restart logs in again but keeps counting where the ticks were.
    ASSERT_TRUE(arrivedAfter(20, kLoginBytes + 2 * kKeepAliveBytes));
    connection->Start(false);
    ASSERT_TRUE(arrivedAfter(30, 2 * kLoginBytes + 2 * kKeepAliveBytes));
    ASSERT_TRUE(arrivedAfter(1, 2 * kLoginBytes + 3 * kKeepAliveBytes));
    EXPECT_EQ(wire.count(keepAlive), 3);
    EXPECT_EQ(wire.count(login), 2);
}

// Two sites calling in the same moment: the first link goes right after its start.
TEST_F(SiteConnectionTest, ACalledBackLinkReplacedAtOnceStillStoresItsEvent) {
    StartSite();
    ASSERT_TRUE(AdoptCallBack());
    connection->StartCalledBack(SiteMessageOf(SiteMessage::EventRecord, 0, 0,
                                              sim::MakeEventRecord("Door", "1", "Hall", "open")));
    connection.reset();
    EXPECT_EQ(events.records.size(), 1u);
}

TEST_F(SiteConnectionTest, TheLatestFrameIsExactlyTheBytesOfThatFrameWhateverItsSize) {
    ASSERT_TRUE(LogInToNewSite());
    // Larger than the 320 x 240 x 3 a window once kept, then far smaller.
    for (const Block& packed : {test::RgbFrame(320, 159, 7), test::RgbFrame(16, 8, 9)}) {
        const auto before = FramesOf(9);
        site->SendRaw(SiteMessageOf(SiteMessage::VideoFrame, 5, 9, packed));
        ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == before + 1; }));
        EXPECT_EQ(*connection->channels().FindLinkByNumber(9)->latestFrame.packed, packed);
    }
}

// Indeo 3 is chosen for the connection by the first frame; a channel too large for it cannot
// open a decoder of its own, and keeps its window and its frames without a picture.
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
        const bool large = width > 320;
        return SiteMessageOf(SiteMessage::VideoFrame, large ? 6 : 5, large ? 9 : 8,
                             sim::PackFrame(format, Block(64, 0)));
    };
    site->SendRaw(indeo3(320, 240));
    site->SendRaw(indeo3(704, 576));
    ASSERT_TRUE(WaitUntil([&] { return FramesOf(9) == 1; }));
    ASSERT_NE(host.WindowFor(9), nullptr);
    test::Pump(100);
    EXPECT_FALSE(frame.Noticed(SiteNotice::NoCodec));
    EXPECT_TRUE(connection->active());
    EXPECT_FALSE(host.WindowFor(9)->closed());
    EXPECT_EQ(host.WindowFor(9)->picturesDrawn(), 0);
    site->SendRaw(indeo3(704, 576));
    EXPECT_TRUE(WaitUntil([&] { return FramesOf(9) == 2; }));
}

}  // namespace
}  // namespace orvane
