// The main frame, video windows and connect flow against the simulated site.
#include "common/outage_notice.h"
#include "identify_server.h"
#include "net/connect_dialog.h"
#include "net/connect_flow.h"
#include "net/ip_address_edit.h"
#include "net/remote_control_dialogs.h"
#include "shared/command_ids.h"
#include "support/event_loop.h"
#include "support/modal_script.h"
#include "support/running_app.h"
#include "video/open_channel_dialog.h"
#include "video/video_area.h"
#include "video/video_channel_window.h"
#include "video/video_tiling.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QToolBar>

#include <QElapsedTimer>

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::WaitUntil;

TEST(VideoTiling, CellsFollowTheDesignedArithmetic) {
    const QSize area(1024, 700);
    auto nine = VideoTiling::For(9, area);
    ASSERT_TRUE(nine);
    EXPECT_EQ(nine->cols, 3);
    EXPECT_EQ(nine->rows, 3);
    EXPECT_EQ(nine->cellWidth, 310);
    EXPECT_EQ(nine->cellHeight, 233);
    EXPECT_EQ(nine->x0, 47);
    EXPECT_EQ(nine->y0, 0);
    EXPECT_EQ(nine->Cell(4), QRect(47 + 310, 233, 310, 233));

    auto one = VideoTiling::For(1, area);
    EXPECT_EQ(one->cellWidth, 933);  // 700 * 4 / 3, cut to the height
    EXPECT_EQ(one->cellHeight, 700);
    auto two = VideoTiling::For(2, area);
    EXPECT_EQ(two->rows, 1);
    EXPECT_EQ(two->cols, 2);
    EXPECT_EQ(two->cellWidth, 512);
    EXPECT_EQ(two->cellHeight, 384);
    EXPECT_EQ(two->y0, (700 - 384) / 2);
    auto five = VideoTiling::For(5, area);
    EXPECT_EQ(five->rows, 2);
    EXPECT_EQ(five->cols, 3);
    EXPECT_EQ(VideoTiling::For(64, area)->cols, 8);
    EXPECT_FALSE(VideoTiling::For(65, area));
    EXPECT_FALSE(VideoTiling::For(0, area));
}

TEST(VideoChannelWindow, TheSizeModeFollowsThePictureWidth) {
    EXPECT_EQ(VideoChannelWindow::SizeModeForWidth(176), VideoChannelWindow::k176x144);
    EXPECT_EQ(VideoChannelWindow::SizeModeForWidth(200), VideoChannelWindow::k320x240);
    EXPECT_EQ(VideoChannelWindow::SizeModeForWidth(640), VideoChannelWindow::kWholeArea);
}

TEST(OpenChannelDialog, ListsChannelsAndReadsTheFirstFourDigits) {
    ChannelTable channels;
    channels.Replace({{2, "Lobby"}, {12345, "Far"}});
    OpenChannelDialog dialog(channels);
    ASSERT_EQ(dialog.list()->count(), 2);
    EXPECT_EQ(dialog.list()->itemText(0), "0002 Lobby");
    dialog.accept();
    EXPECT_EQ(dialog.selectedChannelId(), 2);
    OpenChannelDialog far(channels);
    far.list()->setCurrentIndex(1);
    far.accept();
    EXPECT_EQ(far.selectedChannelId(), 1234);
    OpenChannelDialog empty(ChannelTable{});
    empty.accept();
    EXPECT_EQ(empty.selectedChannelId(), 0);
}

// A main frame over a simulated site of the test's making.
using LiveViewOfSite = test::RunningApp;

class LiveViewTest : public test::RunningApp {
  protected:
    void SetUp() override { Start(); }
};

// The login's channel dialog is the "Open local site video channel" command, posted: it comes
// only while that command is enabled.
struct LoginOfferCase {
    const char* name;
    std::uint32_t siteBits;
    std::vector<sim::SimulatedChannel> channels;
    bool offered;
};

class LoginOffer : public LiveViewOfSite, public testing::WithParamInterface<LoginOfferCase> {};

TEST_P(LoginOffer, TheChannelDialogComesOnlyWhenAChannelMayBeOpened) {
    auto options = LiveSite();
    options.siteBits = GetParam().siteBits;
    options.channels = GetParam().channels;
    Start(options);
    test::ModalScript script;
    script.Then<OpenChannelDialog>([](OpenChannelDialog* dialog) { dialog->reject(); });
    ASSERT_TRUE(frame->ConnectToSite("127.0.0.1"));
    ASSERT_TRUE(WaitUntil([&] { return frame->session().loginAccepted(); }));
    test::Pump(100);  // the login's notice, posted by the dispatch, is acted on
    EXPECT_EQ(script.finished(), GetParam().offered);
    EXPECT_EQ(script.unexpected(), 0);
    frame->UpdateCommandStates();
    EXPECT_EQ(frame->action(cmd::kOpenChannel)->isEnabled(), GetParam().offered);
    EXPECT_EQ(site->CountReceived(ClientMessage::OpenChannel), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sites, LoginOffer,
    testing::Values(LoginOfferCase{"ChannelsToOpen", 3, {{3, 1, "Gate"}}, true},
                    LoginOfferCase{"NoOpenPermission", 2, {{3, 1, "Gate"}}, false},
                    LoginOfferCase{"NoChannels", 3, {}, false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(LiveViewOfSite, RemoteControlIsRefusedWithAMessageUntilTheSiteAcceptsTheLogin) {
    auto options = LiveSite();
    options.acceptLogin = false;
    Start(options);
    ASSERT_TRUE(frame->ConnectToSite("127.0.0.1"));
    ASSERT_TRUE(WaitUntil([&] { return !app.channelTable().empty(); }));  // the login arrived
    test::ModalScript script;
    for (const auto choice : {RemoteControlDialog::kCloseSite, RemoteControlDialog::kRebootSite,
                              RemoteControlDialog::kRunProgram}) {
        script.Then<RemoteControlDialog>(
            [choice](RemoteControlDialog* dialog) { dialog->Choose(choice); });
    }
    for (int i = 0; i < 3; ++i) {
        frame->RunCommand(cmd::kRemoteControl);
    }
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(script.unexpected(), 0);  // no command line is asked for
    EXPECT_EQ(prompts.texts().count(remotetext::kNotLoggedIn), 3);
}

TEST_F(LiveViewTest, AReconnectedLinksFirstNewWindowStartsTheCascadeAgain) {
    app.SetSetting(SettingId::VideoArrange, 0);
    ASSERT_TRUE(frame->ConnectToSite("127.0.0.1"));
    test::ModalScript script;
    script.Then<OpenChannelDialog>([](OpenChannelDialog* dialog) { dialog->accept(); })
        .Then<OpenChannelDialog>([](OpenChannelDialog* dialog) { dialog->reject(); });
    ASSERT_TRUE(WaitUntil([&] { return frame->channelWindows().size() == 1; }));
    EXPECT_EQ(frame->channelWindows()[0]->pos(), QPoint(0, 0));
    site->DropLinks();
    // The new login asks for channels again.
    ASSERT_TRUE(WaitUntil([&] { return script.finished(); }, 8000));
    ASSERT_TRUE(frame->session().OpenChannel(7));
    ASSERT_TRUE(WaitUntil([&] { return frame->channelWindows().size() == 2; }));
    EXPECT_EQ(frame->channelWindows()[1]->pos(), QPoint(0, 0));
}

TEST_F(LiveViewTest, FocusGivenToTheFrameGoesOnToTheVideoArea) {
    frame->setFocus();
    QWidget* focused = frame->focusWidget();
    EXPECT_TRUE(focused == frame->videoArea() || frame->videoArea()->isAncestorOf(focused));
}

// "Wait for connect ..." cannot be cancelled, and no window of Orvane covers it.
TEST(WaitDialog, StaysThroughEscAndCloseAboveOrvanesWindows) {
    QWidget owner;
    owner.show();
    WaitDialog wait(&owner);
    ASSERT_TRUE(wait.isVisible());
    QTest::keyClick(&wait, Qt::Key_Escape);
    wait.close();
    EXPECT_TRUE(wait.isVisible());
    EXPECT_TRUE(wait.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(LiveViewTest, ConnectPickAChannelAndWatchIt) {
    test::ModalScript script;
    script
        .Then<ConnectDialog>([](ConnectDialog* dialog) {
            EXPECT_EQ(dialog->ipEdit()->text(), "127.0.0.1");
            EXPECT_EQ(dialog->userEdit()->text(), "admin");
            EXPECT_EQ(dialog->passwordEdit()->text(), "");  // "Save password" is off
            dialog->passwordEdit()->setText("admin");
            dialog->accept();
        })
        .Then<OpenChannelDialog>([](OpenChannelDialog* dialog) {
            EXPECT_EQ(dialog->list()->itemText(0), "0003 Gate");
            dialog->accept();
        });
    frame->RunCommand(cmd::kConnect);
    ASSERT_NE(frame->session().connection(), nullptr);
    ASSERT_TRUE(WaitUntil([&] {
        const auto windows = frame->channelWindows();
        return !windows.isEmpty() && !windows[0]->picture().isNull();
    }));
    EXPECT_TRUE(script.finished());
    VideoChannelWindow* window = frame->channelWindows()[0];
    EXPECT_EQ(window->windowTitle(), "0003 Gate");
    EXPECT_EQ(window->fullSizePicture().size(), QSize(320, 240));
    // The status line follows on the connection's next tick; pictures may come before it.
    EXPECT_TRUE(
        WaitUntil([&] { return frame->statusLine().startsWith("IP Address: 127.0.0.1"); }, 1000));
    EXPECT_FALSE(frame->action(cmd::kConnect)->isEnabled());
    EXPECT_TRUE(frame->action(cmd::kDisconnect)->isEnabled());
    // One window, auto-arranged once the dispatch that made it is over: it fills the cell.
    const auto cell = VideoTiling::For(1, frame->VideoAreaSize())->Cell(0);
    WaitUntil([&] { return window->geometry() == cell; }, 1000);
    EXPECT_EQ(window->geometry(), cell);

    // Esc hides bars and captions and re-tiles; Esc again brings them back.
    frame->RunCommand(cmd::kToggleToolbar);
    EXPECT_FALSE(frame->statusBar()->isVisible());
    EXPECT_FALSE(window->captionShown());
    EXPECT_FALSE(window->toolBar()->isVisible());
    frame->RunCommand(cmd::kToggleToolbar);
    EXPECT_TRUE(window->captionShown());

    frame->RunCommand(cmd::kDisconnect);
    EXPECT_EQ(frame->session().connection(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return frame->channelWindows().isEmpty(); }));
    EXPECT_EQ(frame->statusLine(), "Disconnect");
}

TEST_F(LiveViewTest, CancelInTheConnectDialogLeavesTheConnectionAlone) {
    ASSERT_TRUE(frame->ConnectToSite("127.0.0.1"));
    SiteConnection* before = frame->session().connection();
    test::ModalScript script;
    script.Then<ConnectDialog>([](ConnectDialog* dialog) { dialog->reject(); });
    frame->RunCommand(cmd::kConnect);
    EXPECT_EQ(frame->session().connection(), before);
}

TEST_F(LiveViewTest, ConnectByIdCodeThroughTheIdentifyServer) {
    sim::IdentifyServer identify;
    identify.AddSite("SITE42", "127.0.0.1");
    ASSERT_TRUE(identify.Listen(QHostAddress::LocalHost, 0));
    app.settings().WriteProfileInt("Net", "IdentifyPort", identify.port());
    app.settings().WriteProfileString("Net", "IdentifyPrimary", "127.0.0.1");
    test::ModalScript script;
    script
        .Then<ConnectDialog>([](ConnectDialog* dialog) {
            dialog->identifyRadio()->setChecked(true);
            EXPECT_TRUE(dialog->idEdit()->isEnabled());
            EXPECT_FALSE(dialog->ipEdit()->isEnabled());
            dialog->idEdit()->setText("SITE42");
            dialog->passwordEdit()->setText("admin");
            dialog->accept();
        })
        .Then<OpenChannelDialog>([](OpenChannelDialog* dialog) { dialog->reject(); });
    frame->RunCommand(cmd::kConnect);
    ASSERT_NE(frame->session().connection(), nullptr);
    EXPECT_EQ(frame->session().siteAddress(), "127.0.0.1");
    EXPECT_EQ(identify.queries(), std::vector<std::string>{"SITE42"});
    EXPECT_EQ(app.settings().LoadCall().identify, "SITE42");
    EXPECT_TRUE(WaitUntil([&] { return script.finished(); }));
}

// While an ID code is asked for, Disconnect is there to give up the wait and Connect is not.
TEST_F(LiveViewTest, DisconnectGivesUpAnIdCodeLookup) {
    sim::IdentifyServer silent;
    silent.SetSilent(true);
    ASSERT_TRUE(silent.Listen(QHostAddress::LocalHost, 0));
    app.settings().WriteProfileInt("Net", "IdentifyPort", silent.port());
    app.settings().WriteProfileString("Net", "IdentifyPrimary", "127.0.0.1");
    app.settings().WriteProfileString("Net", "IdentifyFallback", "127.0.0.1");
    bool connectEnabled = true;
    bool disconnectEnabled = false;
    QTimer::singleShot(800, frame, [&] {
        frame->UpdateCommandStates();
        connectEnabled = frame->action(cmd::kConnect)->isEnabled();
        disconnectEnabled = frame->action(cmd::kDisconnect)->isEnabled();
        frame->RunCommand(cmd::kDisconnect);
    });
    test::ModalScript script;
    script.Then<ConnectDialog>([](ConnectDialog* dialog) {
        dialog->identifyRadio()->setChecked(true);
        dialog->idEdit()->setText("SITE42");
        dialog->accept();
    });
    QElapsedTimer clock;
    clock.start();
    frame->RunCommand(cmd::kConnect);
    EXPECT_LT(clock.elapsed(), 3000);  // not two silences of 15 s
    EXPECT_FALSE(connectEnabled);
    EXPECT_TRUE(disconnectEnabled);
    EXPECT_TRUE(prompts.texts().isEmpty());
    EXPECT_EQ(frame->session().connection(), nullptr);
    frame->UpdateCommandStates();
    EXPECT_TRUE(frame->action(cmd::kConnect)->isEnabled());
}

TEST_F(LiveViewTest, TheFirstFrameMakesAWindowAtTheCascadeAndFixNeedsTwoWindows) {
    app.SetSetting(SettingId::VideoArrange, 0);
    VideoChannelWindow* gate = WatchFirstChannel();
    ASSERT_TRUE(gate);
    EXPECT_EQ(gate->windowTitle(), "0003 Gate");
    EXPECT_EQ(gate->pos(), QPoint(0, 0));
    EXPECT_EQ(gate->sizeMode(), VideoChannelWindow::k320x240);

    gate->UpdateCommands();
    EXPECT_FALSE(gate->action(cmd::kFixChannel)->isEnabled());

    frame->session().connection()->OpenChannel(7);
    ASSERT_TRUE(WaitUntil([&] { return frame->channelWindows().size() == 2; }));
    VideoChannelWindow* yard = frame->channelWindows()[1];
    EXPECT_EQ(yard->windowTitle(), "0007 Yard");
    EXPECT_EQ(yard->pos(), QPoint(28, 22));
    gate->UpdateCommands();
    EXPECT_TRUE(gate->action(cmd::kFixChannel)->isEnabled());
    yard->OnFix();
    EXPECT_EQ(frame->session().connection()->fixedWindow(), yard);
}

TEST_F(LiveViewTest, ClosingAskPromptsUnlessTheSiteStoppedTheChannel) {
    VideoChannelWindow* gate = WatchFirstChannel();
    ASSERT_TRUE(gate);

    prompts.Queue(PromptAnswer::No);
    gate->OnClose();
    EXPECT_EQ(prompts.texts().back(), "\n\n Are you sure close local site video channel? \n\n");
    EXPECT_EQ(frame->channelWindows().size(), 1);

    site->StopChannel(1);
    ASSERT_TRUE(WaitUntil([&] { return gate->IsStopped(); }));
    const auto asked = prompts.shown().size();
    gate->OnClose();
    EXPECT_EQ(prompts.shown().size(), asked);  // no question for a stopped channel
    EXPECT_TRUE(WaitUntil([&] { return frame->channelWindows().isEmpty(); }));
    test::Pump(200);
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseChannel), 0);
}

// A link the site ends, or one whose pictures cannot be shown, goes with a box saying why.
TEST_F(LiveViewTest, ALinkThatEndsTellsTheOperatorWhy) {
    BitmapInfoHeader unknown;
    unknown.biWidth = 320;
    unknown.biHeight = 240;
    unknown.biCompression = MakeFourcc('Z', 'Z', 'Z', 'Z');
    const struct {
        const char* why;
        int maxSessions;
        const char* password;
        bool sendsAnUnknownCodec;
        QString told;
    } rows[] = {{"login rejected", 4, "wrong", false, frametext::kLoginError},
                {"no session left", 0, "admin", false, frametext::kLimitError},
                {"unknown codec", 4, "admin", true, frametext::kCodecError}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        auto options = LiveSite();
        options.maxSessions = row.maxSessions;
        ASSERT_TRUE(StartSite(options));
        app.settings().WriteProfileInt("Net", "SitePort", site->port());
        CallSettings call = app.settings().LoadCall();
        call.password = row.password;
        app.settings().SaveCall(call);
        DeclineChannelDialogs();
        ASSERT_TRUE(frame->ConnectToSite("127.0.0.1"));
        if (row.sendsAnUnknownCodec) {
            ASSERT_TRUE(WaitUntil([&] { return declined > 0; }));
            site->SendRaw(BuildSiteMessage(1, 3, 1, sim::PackFrame(unknown, Block(64, 1))));
        }
        ASSERT_TRUE(WaitUntil([&] { return frame->session().connection() == nullptr; }));
        EXPECT_TRUE(prompts.texts().contains(row.told)) << prompts.texts().join('|').toStdString();
        declined = 0;
    }
}

// With the site gone the reconnect loop keeps trying: closing the main window ends the loop
// and keeps the window; a second close exits.
TEST_F(LiveViewTest, CloseDuringTheReconnectEndsItAndASecondCloseExits) {
    ASSERT_TRUE(WatchFirstChannel());
    site.reset();
    // The loop runs inside the posted reconnect command, so the check happens in a timer
    // that fires within it.
    bool closedWhileReconnecting = false;
    QTimer::singleShot(1500, frame, [&] {
        closedWhileReconnecting = frame->session().reconnecting() && !frame->close();
    });
    ASSERT_TRUE(WaitUntil(
        [&] { return closedWhileReconnecting && !frame->session().reconnecting(); }, 8000));
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->session().connection(), nullptr);
    EXPECT_TRUE(frame->close());
}

// Pixels of the mark: bright yellow, which no dimmed picture reaches.
int MarkPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 200 && c.green() > 200 && c.blue() < 80 ? 1 : 0;
        }
    }
    return count;
}

double MeanLightness(const QImage& image, const QRect& area) {
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            sum += image.pixelColor(x, y).lightnessF();
        }
    }
    return sum / (area.width() * area.height());
}

TEST_F(LiveViewTest, AFeedThatDiesIsDimmedAndMarkedUntilItsNextFrame) {
    // Shared with the clock, which the connection keeps until the fixture tears it down.
    const auto clock = std::make_shared<FeedTime>(FeedTime::Now());
    FeedTime& now = *clock;
    frame->session().SetFeedClock([clock] { return *clock; });
    VideoChannelWindow* window = WatchFirstChannel();
    ASSERT_TRUE(window);
    DeclineChannelDialogs();  // the login after the drop asks again
    const QImage live = window->pictureView()->grab().toImage();
    const QRect upper(0, 0, live.width(), live.height() / 2);

    // The camera freezes, then the link drops: the window is marked at once, without waiting
    // for the stillness limit, and stays marked while the reconnected site sends nothing.
    site->FreezeChannel(1, true);
    const QString mark = NoVideoSinceText(now.wall, now.wall);
    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return window->feedMark() == mark; }));
    ASSERT_TRUE(WaitUntil([&] { return frame->session().linkActive(); }, 8000));
    const QImage dead = window->pictureView()->grab().toImage();
    EXPECT_GT(MarkPixels(dead), 20);
    EXPECT_LT(MeanLightness(dead, upper), 0.6 * MeanLightness(live, upper));
    EXPECT_EQ(MarkPixels(dead.copy(upper)), 0);             // in the bottom corner
    window->ApplySizeMode(VideoChannelWindow::kWholeArea);  // the full view shows it too
    EXPECT_GT(MarkPixels(window->pictureView()->grab().toImage()), 20);

    // Dead for a minute: one notice.
    now.steady += FeedWatch::kOutageLimit;
    frame->session().connection()->channels().CheckFeeds();
    frame->session().connection()->channels().CheckFeeds();
    const OutageNotice::Told told = frame->outages()->Current(OutageKind::DeadFeed);
    EXPECT_FALSE(told.ended);
    EXPECT_TRUE(told.text.startsWith("1 channel")) << told.text.toStdString();
    EXPECT_TRUE(told.text.endsWith("Channel 0003: n" + mark.mid(1))) << told.text.toStdString();

    site->FreezeChannel(1, false);
    ASSERT_TRUE(WaitUntil([&] { return window->feedMark().isEmpty(); }));
    EXPECT_TRUE(frame->outages()->Current(OutageKind::DeadFeed).ended);
    EXPECT_EQ(MarkPixels(window->pictureView()->grab().toImage().copy(upper)), 0);
}

// A start with ResumeAtStart after a run that was recording two channels: it reconnects,
// asks for them, no dialog in the way, and records them again. What it keeps follows the
// operator's Stop, and an Exit leaves it for the next start. A site that streams every
// channel at the login (true) has the windows up before the login is told: they record too.
class ResumeAtStart : public test::RunningApp, public testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(StreamOnLogin, ResumeAtStart, testing::Bool());

TEST_P(ResumeAtStart, AStartReconnectsAndRecordsTheChannelsThatWereRecording) {
    auto options = LiveSite();
    options.streamOnLogin = GetParam();
    Start(options, 1, [](Settings& settings) {
        settings.SetSetting(SettingId::ResumeAtStart, 1);
        settings.SetResumeSite("127.0.0.1");
        settings.SetResumeChannels({7, 3});
    });
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto windows = frame->channelWindows();
            return windows.size() == 2 && windows[0]->recording() && windows[1]->recording();
        },
        8000));
    if (!GetParam()) {
        EXPECT_EQ(site->CountReceived(ClientMessage::OpenChannel), 2);
    }
    EXPECT_FALSE(frame->statusBar()->currentMessage().startsWith("Resuming the last run"));
    EXPECT_EQ(app.settings().ResumeChannels(), (std::vector<std::uint32_t>{7, 3}));

    VideoChannelWindow* gate = frame->channelWindows()[0]->channelId() == 3
                                   ? frame->channelWindows()[0]
                                   : frame->channelWindows()[1];
    gate->OnStopRecord();
    EXPECT_EQ(app.settings().ResumeChannels(), std::vector<std::uint32_t>{7});
    gate->OnRecord();
    EXPECT_EQ(app.settings().ResumeChannels(), (std::vector<std::uint32_t>{7, 3}));
    EXPECT_TRUE(frame->close());
    EXPECT_EQ(app.settings().ResumeChannels(), (std::vector<std::uint32_t>{7, 3}));
    EXPECT_EQ(app.settings().ResumeSite(), "127.0.0.1");
}

// The messages' bytes are the connection's; here each choice of the dialogs leads to its
// message, video goes on under them, and without a link the accelerator opens nothing.
TEST_F(LiveViewTest, RemoteControlSendsItsThreeMessagesAndExitSendsNothing) {
    ASSERT_TRUE(WatchFirstChannel());
    test::ModalScript script;
    script
        .Then<RemoteControlDialog>([&](RemoteControlDialog* dialog) {
            const int framesBefore = frame->session().connection()->frameCounter();
            test::Pump(600);
            EXPECT_GT(frame->session().connection()->frameCounter(), framesBefore);
            dialog->accept();  // "&Q.Exit"
        })
        .Then<RemoteControlDialog>(
            [](RemoteControlDialog* dialog) { dialog->Choose(RemoteControlDialog::kRebootSite); })
        .Then<RemoteControlDialog>(
            [](RemoteControlDialog* dialog) { dialog->Choose(RemoteControlDialog::kRunProgram); })
        .Then<CommandDialog>([](CommandDialog* dialog) {
            dialog->combo()->setCurrentText("rk-mon");
            dialog->accept();
        })
        .Then<RemoteControlDialog>(
            [](RemoteControlDialog* dialog) { dialog->Choose(RemoteControlDialog::kCloseSite); });
    for (int i = 0; i < 4; ++i) {
        frame->RunCommand(cmd::kRemoteControl);
    }
    EXPECT_TRUE(script.finished());
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::CloseSite) == 1; }));
    EXPECT_EQ(site->CountReceived(ClientMessage::RebootSite), 1);
    ASSERT_EQ(site->CountReceived(ClientMessage::RunProgram), 1);
    for (const auto& message : site->received()) {
        if (message.type == static_cast<std::uint8_t>(ClientMessage::RunProgram)) {
            EXPECT_EQ(std::string(message.payload.begin(), message.payload.end()),
                      std::string("rk-mon\0", 7));
        }
    }

    frame->RunCommand(cmd::kDisconnect);
    frame->RunCommand(cmd::kRemoteControl);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace orvane
