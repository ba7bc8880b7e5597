// The main frame, its channel windows and the connect flow against the simulated site, and
// where they used to break: links that drop under a dialog, waits that end under their caller.
#include "app/about_dialog.h"
#include "common/outage_notice.h"
#include "identify_server.h"
#include "net/connect_flow.h"
#include "net/ip_address_edit.h"
#include "net/remote_control_dialogs.h"
#include "support/pending_listener.h"
#include "support/running_app.h"
#include "video/video_area.h"
#include "video/video_tiling.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <algorithm>
#include <array>

namespace orvane {
namespace {

using test::WaitUntil;

TEST(VideoTiling, CellsFollowTheDesignedArithmetic) {
    const QSize area(1024, 700);
    const struct {
        int windows, cols, rows, cellWidth, cellHeight, x0, y0;
    } rows[] = {{9, 3, 3, 310, 233, 47, 0},
                {1, 1, 1, 933, 700, 45, 0},  // 700 * 4 / 3, cut to the height
                {2, 2, 1, 512, 384, 0, (700 - 384) / 2},
                {5, 3, 2, 341, 255, 0, (700 - 510) / 2},
                {64, 8, 8, 116, 87, 48, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.windows);
        const auto tiling = VideoTiling::For(row.windows, area);
        ASSERT_TRUE(tiling);
        EXPECT_EQ((std::array{tiling->cols, tiling->rows, tiling->cellWidth, tiling->cellHeight,
                              tiling->x0, tiling->y0}),
                  (std::array{row.cols, row.rows, row.cellWidth, row.cellHeight, row.x0, row.y0}));
    }
    EXPECT_EQ(VideoTiling::For(9, area)->Cell(4), QRect(47 + 310, 233, 310, 233));
    EXPECT_FALSE(VideoTiling::For(65, area) || VideoTiling::For(0, area));
    EXPECT_EQ(VideoChannelWindow::SizeModeForWidth(176), VideoChannelWindow::k176x144);
    EXPECT_EQ(VideoChannelWindow::SizeModeForWidth(200), VideoChannelWindow::k320x240);
    EXPECT_EQ(VideoChannelWindow::SizeModeForWidth(640), VideoChannelWindow::kWholeArea);
}

// The list shows ids of four digits: a longer one is read back as its first four.
TEST(OpenChannelDialog, ReadsTheFirstFourDigitsAndNothingFromAnEmptyList) {
    ChannelTable channels;
    channels.Replace({{12345, "Far"}});
    OpenChannelDialog far(channels);
    far.accept();
    EXPECT_EQ(far.selectedChannelId(), 1234);
    OpenChannelDialog empty(ChannelTable{});
    empty.accept();
    EXPECT_EQ(empty.selectedChannelId(), 0);
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

// A main frame over a simulated site of five channels.
class LiveView : public test::RunningApp {
  protected:
    static sim::SiteSimulatorOptions FiveChannels() {
        auto options = LiveSite();
        options.channels = {
            {3, 1, "Gate"}, {7, 2, "Yard"}, {8, 3, "Lobby"}, {9, 4, "Dock"}, {10, 5, "Roof"}};
        return options;
    }
    // Starts over five channels with ReLink as given and, with `realBoxes`, the program's own
    // message boxes (their loops are where windows used to die); then WatchChannels(count).
    bool Watch(int count, int reLink = 1, bool realBoxes = false) {
        Start(FiveChannels(), reLink);
        if (realBoxes) {
            PromptService::SetAnswerer(nullptr);
        }
        return WatchChannels(count);
    }

    // Connects and opens the first `count` channels; true when each shows a picture.
    bool WatchChannels(int count) {
        test::ModalScript script;
        script.Then<OpenChannelDialog>(Reject);
        if (!frame->ConnectToSite("127.0.0.1") || !WaitUntil([&] { return script.finished(); })) {
            return false;
        }
        const std::uint32_t ids[] = {3, 7, 8, 9, 10};
        for (int i = 0; i < count; ++i) {
            link()->OpenChannel(ids[i]);
        }
        return WaitUntil([&] {
            const auto windows = frame->channelWindows();
            return link() && windows.size() == count && count == link()->OpenWindowCount() &&
                   count == static_cast<int>(link()->channels().links().size()) &&
                   std::none_of(windows.begin(), windows.end(),
                                [](auto* window) { return window->picture().isNull(); });
        });
    }

    // Every open window sits in its tile of the area as it is now.
    bool Tiled() {
        const auto windows = frame->channelWindows();
        const auto tiling =
            VideoTiling::For(static_cast<int>(windows.size()), frame->VideoAreaSize());
        bool tiled = tiling.has_value();
        for (int i = 0; tiled && i < windows.size(); ++i) {
            tiled = windows[i]->geometry() == tiling->Cell(i);
        }
        return tiled;
    }

    // The site's link drops; returns once the program has lost it (ReLink off).
    void DropTheLink() {
        site->DropLinks();
        WaitUntil([&] { return link() == nullptr; });
    }
};

// The login's channel dialog is the "Open local site video channel" command, posted: it comes
// only with the open permission (site bits 3, not 2) and a channel to open.
class LoginOffer : public LiveView,
                   public testing::WithParamInterface<std::tuple<std::uint32_t, int, bool>> {};
INSTANTIATE_TEST_SUITE_P(Sites, LoginOffer,
                         testing::Values(std::tuple{3u, 1, true}, std::tuple{2u, 1, false},
                                         std::tuple{3u, 0, false}));

TEST_P(LoginOffer, TheChannelDialogComesOnlyWhenAChannelMayBeOpened) {
    auto options = LiveSite();
    options.siteBits = std::get<0>(GetParam());
    options.channels.resize(std::get<1>(GetParam()));
    Start(options);
    test::ModalScript script;
    script.Then<OpenChannelDialog>(Reject);
    ASSERT_TRUE(frame->ConnectToSite("127.0.0.1"));
    ASSERT_TRUE(WaitUntil([&] { return session().loginAccepted(); }));
    test::Pump(100);  // the login's notice, posted by the dispatch, is acted on
    EXPECT_EQ(script.finished(), std::get<2>(GetParam()));
    EXPECT_EQ(script.unexpected(), 0);
}

// The refusal itself is the connection's; the window adds the box and asks no command line.
TEST_F(LiveView, RemoteControlIsRefusedWithAMessageUntilTheSiteAcceptsTheLogin) {
    auto options = LiveSite();
    options.acceptLogin = false;
    Start(options);
    ASSERT_TRUE(frame->ConnectToSite("127.0.0.1"));
    ASSERT_TRUE(WaitUntil([&] { return !app.channelTable().empty(); }));  // the login arrived
    test::ModalScript script;
    for (const auto choice : {RemoteControlDialog::kCloseSite, RemoteControlDialog::kRebootSite,
                              RemoteControlDialog::kRunProgram}) {
        script.Then<RemoteControlDialog>([choice](auto* dialog) { dialog->Choose(choice); });
        frame->RunCommand(cmd::kRemoteControl);
    }
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(script.unexpected(), 0);
    EXPECT_EQ(prompts.texts().count(remotetext::kNotLoggedIn), 3);
}

// What the operator sees from Connect to Disconnect, and the commands of a watched channel.
TEST_F(LiveView, ConnectPickAChannelAndWatchIt) {
    Start(FiveChannels());
    frame->setFocus();  // given to the frame, it goes on to the video area
    QWidget* focused = frame->focusWidget();
    EXPECT_TRUE(focused == frame->videoArea() || frame->videoArea()->isAncestorOf(focused));
    VideoChannelWindow* window = WatchFirstChannel([](ConnectDialog* dialog) {
        EXPECT_EQ(dialog->ipEdit()->text(), "127.0.0.1");
        EXPECT_EQ(dialog->userEdit()->text(), "admin");
        EXPECT_EQ(dialog->passwordEdit()->text(), "");  // "Save password" is off
        LogIn(dialog);
    });
    ASSERT_TRUE(window);
    // A button's tooltip names it; what it does is the status bar's prompt.
    for (const QAction* button : window->toolBar()->actions()) {
        const QString tip = button->toolTip();
        EXPECT_TRUE(button->isSeparator() ||
                    (!tip.isEmpty() && !tip.contains(' ') && !button->statusTip().isEmpty()))
            << tip.toStdString();
    }
    const QAction* open = frame->action(cmd::kOpenChannel);
    EXPECT_NE(open->toolTip(), open->statusTip());

    SCOPED_TRACE("each choice of remote control sends its message");
    test::ModalScript script;
    for (const auto& [choice, sent] :
         {std::pair{RemoteControlDialog::kRebootSite, ClientMessage::RebootSite},
          std::pair{RemoteControlDialog::kRunProgram, ClientMessage::RunProgram},
          std::pair{RemoteControlDialog::kCloseSite, ClientMessage::CloseSite}}) {
        script.Then<RemoteControlDialog>([choice](auto* dialog) { dialog->Choose(choice); });
        if (sent == ClientMessage::RunProgram) {
            script.Then<CommandDialog>([](CommandDialog* dialog) {
                dialog->combo()->setCurrentText("rk-mon");
                dialog->accept();
            });
        }
        frame->RunCommand(cmd::kRemoteControl);
        EXPECT_TRUE(WaitUntil([&] { return site->CountReceived(sent) == 1; }));
    }
    for (const auto& message : site->received()) {
        if (message.type == static_cast<std::uint8_t>(ClientMessage::RunProgram)) {
            EXPECT_EQ(std::string(message.payload.begin(), message.payload.end()),
                      std::string("rk-mon\0", 7));
        }
    }

    SCOPED_TRACE("closing asks, unless the site stopped the channel");
    const auto asked = prompts.shown().size() + 1;
    prompts.Queue(PromptAnswer::No);
    window->OnClose();
    EXPECT_EQ(prompts.shown().size(), asked);
    EXPECT_EQ(frame->channelWindows().size(), 1);
    site->StopChannel(1);
    ASSERT_TRUE(WaitUntil([&] { return window->IsStopped(); }));
    window->OnClose();
    EXPECT_EQ(prompts.shown().size(), asked);
    EXPECT_TRUE(WaitUntil([&] { return frame->channelWindows().isEmpty(); }));
    test::Pump(200);
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseChannel), 0);

    frame->RunCommand(cmd::kDisconnect);
    EXPECT_EQ(link(), nullptr);
    frame->RunCommand(cmd::kRemoteControl);  // without a link the accelerator opens nothing
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(script.unexpected(), 0);
}

// While an ID code is asked for, Disconnect is there to give up the wait and Connect is not;
// an ID code that is known connects to its address; Cancel leaves a connection as it was.
TEST_F(LiveView, DisconnectGivesUpAnIdCodeLookupAndAKnownCodeConnects) {
    Start();
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
    frame->RunCommand(cmd::kConnect);
    EXPECT_FALSE(connectEnabled);
    EXPECT_TRUE(disconnectEnabled);
    EXPECT_TRUE(prompts.texts().isEmpty());  // given up, not failed
    EXPECT_EQ(link(), nullptr);

    sim::IdentifyServer identify;
    identify.AddSite("SITE42", "127.0.0.1");
    ASSERT_TRUE(identify.Listen(QHostAddress::LocalHost, 0));
    app.settings().WriteProfileInt("Net", "IdentifyPort", identify.port());
    script.Then<ConnectDialog>([](ConnectDialog* dialog) {
        EXPECT_EQ(dialog->idEdit()->text(), "SITE42");
        LogIn(dialog);
    });
    script.Then<OpenChannelDialog>(Reject);
    frame->RunCommand(cmd::kConnect);
    ASSERT_NE(link(), nullptr);
    EXPECT_EQ(session().siteAddress(), "127.0.0.1");
    EXPECT_TRUE(WaitUntil([&] { return script.finished(); }));

    SCOPED_TRACE("Cancel in the connect dialog leaves the connection alone");
    SiteConnection* before = link();
    script.Then<ConnectDialog>(Reject);
    frame->RunCommand(cmd::kConnect);
    EXPECT_EQ(link(), before);
}

// New windows cascade and Fix is there for two of them; after a reconnect the kept windows
// count and show video, and the first new window starts the cascade again.
TEST_F(LiveView, CascadeFixAndTheWindowsKeptThroughAReconnect) {
    Start(FiveChannels());
    app.SetSetting(SettingId::VideoArrange, 0);
    ASSERT_TRUE(WatchChannels(2));
    VideoChannelWindow* yard = frame->channelWindows()[1];
    EXPECT_EQ(yard->pos(), QPoint(28, 22));
    yard->OnFix();
    EXPECT_EQ(link()->fixedWindow(), yard);

    SCOPED_TRACE("after a reconnect");
    test::ModalScript script;  // the new login asks for channels again
    script.Then<OpenChannelDialog>(Reject);
    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return script.finished(); }, 8000));
    ASSERT_TRUE(WaitUntil([&] { return link()->loggedIn(); }));
    frame->UpdateCommandStates();
    EXPECT_TRUE(frame->action(cmd::kArrangeVideoWindows)->isEnabled());
    yard->UpdateCommands();
    EXPECT_TRUE(yard->action(cmd::kFixChannel)->isEnabled());
    const int frames = link()->frameCounter();
    EXPECT_TRUE(WaitUntil([&] { return link()->frameCounter() > frames + 5; }));
    ASSERT_TRUE(session().OpenChannel(8));
    ASSERT_TRUE(WaitUntil([&] { return frame->channelWindows().size() == 3; }));
    EXPECT_EQ(frame->channelWindows()[2]->pos(), QPoint(0, 0));

    SCOPED_TRACE("Arrange from a frame that is not maximised");
    frame->showNormal();
    frame->resize(500, 400);
    ASSERT_TRUE(WaitUntil([&] { return !frame->isMaximized(); }));
    frame->RunCommand(cmd::kArrangeVideoWindows);
    // Offscreen keeps the size on maximising; under a window manager the tiles follow later.
    EXPECT_TRUE(WaitUntil([&] { return frame->isMaximized() && Tiled(); }, 2000));
}

// Press, move and release; global positions follow the press, as the widget may move under it.
void Drag(QWidget* widget, QPoint from, QPoint by) {
    const QPoint pressedAt = widget->mapToGlobal(from);
    const std::pair<QEvent::Type, QPoint> steps[] = {{QEvent::MouseButtonPress, QPoint()},
                                                     {QEvent::MouseMove, by / 2},
                                                     {QEvent::MouseMove, by},
                                                     {QEvent::MouseButtonRelease, by}};
    for (const auto& [type, moved] : steps) {
        QMouseEvent event(type, from + moved, pressedAt + moved, Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

// Esc re-tiles the whole area it leaves; without caption a window keeps its sizing border and
// no system menu, and a size mode still gives the picture its exact size.
TEST_F(LiveView, TheFullViewTilesTheWholeAreaAndKeepsASizingBorder) {
    ASSERT_TRUE(Watch(5));
    ASSERT_TRUE(WaitUntil([&] { return Tiled(); }));
    const QSize withBars = frame->VideoAreaSize();
    auto* window = frame->channelWindows()[0];
    EXPECT_EQ(window->systemMenu(), nullptr);

    frame->RunCommand(cmd::kToggleToolbar);
    EXPECT_TRUE(WaitUntil([&] { return Tiled(); }, 1000));
    EXPECT_GT(frame->VideoAreaSize().height(), withBars.height());
    // Centred in the area as it is now: the gaps above and below differ by at most a pixel.
    const int top = window->geometry().top();  // tiled: the first row, and the last below
    const int bottom = frame->channelWindows().back()->geometry().bottom() + 1;
    EXPECT_LE(std::abs(top - (frame->VideoAreaSize().height() - bottom)), 1);
    EXPECT_EQ(window->widget()->geometry().top(), 0);  // no caption strip above the picture
    ASSERT_FALSE(window->captionShown());
    EXPECT_EQ(window->systemMenu(), nullptr);
    // The picture inside an even border once the window is laid out.
    const auto evenBorder = [window] {
        const QRect picture(window->pictureView()->mapTo(window, QPoint(0, 0)),
                            window->pictureView()->size());
        const int border = picture.left();
        return border > 0 && picture == window->rect().adjusted(border, border, -border, -border);
    };
    EXPECT_TRUE(WaitUntil(evenBorder, 1000));

    // The corner and the left border size the window; a press on the picture still moves it.
    QWidget* content = window->widget();
    const QRect before = window->geometry();
    Drag(content, QPoint(content->width() - 1, content->height() - 1), QPoint(30, 20));
    EXPECT_EQ(window->geometry(), before.adjusted(0, 0, 30, 20));
    Drag(content, QPoint(0, content->height() / 2), QPoint(-10, 0));
    EXPECT_EQ(window->geometry(), before.adjusted(-10, 0, 30, 20));
    Drag(window->pictureView(), QPoint(20, 20), QPoint(5, 5));
    EXPECT_EQ(window->geometry(), before.adjusted(-5, 5, 35, 25));
    window->ApplySizeMode(VideoChannelWindow::k352x288);
    EXPECT_EQ(window->pictureView()->size(), QSize(352, 288));

    frame->RunCommand(cmd::kToggleToolbar);
    EXPECT_TRUE(WaitUntil([&] { return Tiled(); }, 1000));
    EXPECT_EQ(frame->VideoAreaSize(), withBars);
    EXPECT_EQ(window->systemMenu(), nullptr);
}

// A link the site ends goes with a box saying why.
TEST_F(LiveView, ALinkThatEndsTellsTheOperatorWhy) {
    Start();
    const struct {
        int maxSessions;
        const char* password;
        QString told;
    } rows[] = {{4, "wrong", frametext::kLoginError}, {0, "admin", frametext::kLimitError}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.told.toStdString());
        auto options = LiveSite();
        options.maxSessions = row.maxSessions;
        ASSERT_TRUE(StartSite(options));
        app.settings().WriteProfileInt("Net", "SitePort", site->port());
        CallSettings call = app.settings().LoadCall();
        call.password = row.password;
        app.settings().SaveCall(call);
        ASSERT_TRUE(frame->ConnectToSite("127.0.0.1"));
        ASSERT_TRUE(WaitUntil([&] { return link() == nullptr; }));
        EXPECT_TRUE(prompts.texts().contains(row.told)) << prompts.texts().join('|').toStdString();
    }
}

// Closing during the reconnect loop ends the loop and keeps the window; a second close exits.
TEST_F(LiveView, CloseDuringTheReconnectEndsItAndASecondCloseExits) {
    Start();
    ASSERT_TRUE(WatchFirstChannel());
    site.reset();
    // The loop runs inside the posted reconnect command: the close comes from a timer in it.
    bool closedWhileReconnecting = false;
    QTimer::singleShot(1500, frame, [&] {
        closedWhileReconnecting = session().reconnecting() && !frame->close();
    });
    ASSERT_TRUE(
        WaitUntil([&] { return closedWhileReconnecting && !session().reconnecting(); }, 8000));
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(link(), nullptr);
    EXPECT_TRUE(frame->close());
}

// The pixels of the mark (bright yellow, beyond any dimmed picture) and the mean lightness.
std::pair<int, double> MarkAndLightness(const QImage& image) {
    int mark = 0;
    double lightness = 0;
    const int pixels = image.width() * image.height();
    for (int i = 0; i < pixels; ++i) {
        const QColor color = image.pixelColor(i % image.width(), i / image.width());
        mark += color.red() > 200 && color.green() > 200 && color.blue() < 80 ? 1 : 0;
        lightness += color.lightnessF();
    }
    return {mark, lightness / pixels};
}

TEST_F(LiveView, AFeedThatDiesIsDimmedAndMarkedUntilItsNextFrame) {
    Start();
    // Shared with the clock, which the connection keeps until the fixture tears it down.
    const auto clock = std::make_shared<FeedTime>(FeedTime::Now());
    session().SetFeedClock([clock] { return *clock; });
    VideoChannelWindow* window = WatchFirstChannel();
    ASSERT_TRUE(window);
    DeclineChannelDialogs();  // the login after the drop asks again
    const auto shown = [window] { return window->pictureView()->grab().toImage(); };
    const QImage live = shown();
    const QRect upper(0, 0, live.width(), live.height() / 2);

    // The camera freezes, then the link drops: the window is marked at once, without waiting
    // for the stillness limit, and stays marked while the reconnected site sends nothing.
    site->FreezeChannel(1, true);
    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return !window->feedMark().isEmpty(); }));
    ASSERT_TRUE(WaitUntil([&] { return session().linkActive(); }, 8000));
    const QImage dead = shown();
    EXPECT_GT(MarkAndLightness(dead).first, 20);
    const auto deadUpper = MarkAndLightness(dead.copy(upper));
    EXPECT_LT(deadUpper.second, 0.6 * MarkAndLightness(live.copy(upper)).second);
    EXPECT_EQ(deadUpper.first, 0);                          // in the bottom corner
    window->ApplySizeMode(VideoChannelWindow::kWholeArea);  // the full view shows it too
    EXPECT_GT(MarkAndLightness(shown()).first, 20);

    // Dead for a minute: one notice, which ends with the next frame.
    clock->steady += FeedWatch::kOutageLimit;
    link()->channels().CheckFeeds();
    link()->channels().CheckFeeds();
    const OutageNotice::Told told = frame->outages()->Current(OutageKind::DeadFeed);
    EXPECT_FALSE(told.ended);
    EXPECT_TRUE(told.text.contains("Channel 0003")) << told.text.toStdString();
    site->FreezeChannel(1, false);
    ASSERT_TRUE(WaitUntil([&] { return window->feedMark().isEmpty(); }));
    EXPECT_TRUE(frame->outages()->Current(OutageKind::DeadFeed).ended);
    EXPECT_EQ(MarkAndLightness(shown().copy(upper)).first, 0);
}

// A start with ResumeAtStart after a run recording two channels reconnects, asks for them, no
// dialog in the way, and records them again, also when the site streams at the login (true).
// What it keeps follows the operator's Stop; an Exit leaves it for the next start.
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
    const auto windows = [this] { return frame->channelWindows(); };
    ASSERT_TRUE(
        WaitUntil([&] { return windows().size() == 2 && windows()[0]->recording(); }, 8000));
    ASSERT_TRUE(WaitUntil([&] { return windows()[1]->recording(); }));
    EXPECT_FALSE(frame->statusBar()->currentMessage().startsWith("Resuming the last run"));

    VideoChannelWindow* gate = windows()[windows()[0]->channelId() == 3 ? 0 : 1];
    gate->OnStopRecord();
    EXPECT_EQ(app.settings().ResumeChannels(), std::vector<std::uint32_t>{7});
    gate->OnRecord();
    EXPECT_TRUE(frame->close());
    EXPECT_EQ(app.settings().ResumeChannels(), (std::vector<std::uint32_t>{7, 3}));
}

// The real message box runs here: its loop is where the window used to die under it. The
// question was about a window that is gone: it goes as well.
TEST_F(LiveView, TheLinkDropsWhileTheCloseQuestionIsOpen) {
    ASSERT_TRUE(Watch(1, 0, true));
    QPointer<VideoChannelWindow> gate = frame->channelWindows()[0];
    EXPECT_TRUE(GoesUnder<QMessageBox>(
        [&] { gate->OnClose(); },
        [&](QMessageBox* box) {
            EXPECT_EQ(box->parentWidget(), frame);  // not the window the link may take away
            DropTheLink();
        },
        [](QMessageBox* box) { box->done(QMessageBox::Yes); }));
    EXPECT_TRUE(gate.isNull());
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseChannel), 0);
}

// Yes to the Close question while the site is away closes at once; Disconnect ends the wait.
TEST_F(LiveView, YesDuringTheReconnectTakesEffectAtOnceThenDisconnectEndsIt) {
    ASSERT_TRUE(Watch(2, 1, true));
    QPointer<VideoChannelWindow> gate = frame->channelWindows()[0];
    test::ModalScript script;
    script.Then<QMessageBox>([&](QMessageBox* box) {
        site.reset();  // the link drops; the reconnect loop starts inside this box
        WaitUntil([&] { return session().reconnecting(); });
        box->done(QMessageBox::Yes);
    });
    // Were the answer held until the reconnect loop ends, this would end the loop first.
    QTimer::singleShot(4000, frame, [this] { frame->RunCommand(cmd::kDisconnect); });
    gate->OnClose();
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(session().reconnecting());
    // Closed now (deleted when the program's own loop next runs).
    EXPECT_TRUE(gate.isNull() || !gate->isVisible());
    EXPECT_EQ(frame->channelWindows().size(), 1);
    frame->RunCommand(cmd::kDisconnect);
    EXPECT_TRUE(WaitUntil([&] { return link() == nullptr; }));
    EXPECT_FALSE(session().reconnecting());
}

// Given up at once: no retry question after a connect that was abandoned.
TEST_F(LiveView, DisconnectOrExitDuringWaitForConnect) {
    Start();
    test::PendingListener pending;
    ASSERT_TRUE(pending.ready());
    app.settings().WriteProfileInt("Net", "SitePort", pending.port());
    for (const bool exit : {false, true}) {
        test::ModalScript script;
        script.Then<ConnectDialog>(LogIn);
        QTimer::singleShot(500, frame, [this, exit] {
            exit ? void(frame->close()) : frame->RunCommand(cmd::kDisconnect);
        });
        frame->RunCommand(cmd::kConnect);
        EXPECT_EQ(link(), nullptr);
        test::Pump(100);
        EXPECT_EQ(script.unexpected(), 0);
    }
    EXPECT_FALSE(frame->isVisible());
}

TEST_F(LiveView, RemoteControlAfterTheLinkDroppedSendsNothing) {
    ASSERT_TRUE(Watch(1, 0));
    EXPECT_TRUE(GoesUnder<RemoteControlDialog>(
        [&] { frame->RunCommand(cmd::kRemoteControl); },
        [&](RemoteControlDialog*) { DropTheLink(); },
        [](RemoteControlDialog* dialog) { dialog->Choose(RemoteControlDialog::kCloseSite); }));
    test::Pump(100);
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseSite), 0);
}

// With ReLink on, the channel dialog still goes with the link it listed, and none opens until a
// link is back; the site comes back under About, and the reconnect goes on under it.
TEST_F(LiveView, TheChannelDialogGoesWithTheLinkAndTheReconnectGoesOnUnderADialog) {
    ASSERT_TRUE(Watch(1));
    const quint16 port = site->port();
    EXPECT_TRUE(GoesUnder<OpenChannelDialog>([&] { frame->RunCommand(cmd::kOpenChannel); },
                                             [&](OpenChannelDialog*) { site.reset(); }));
    ASSERT_TRUE(session().reconnecting());
    frame->UpdateCommandStates();
    EXPECT_FALSE(frame->action(cmd::kOpenChannel)->isEnabled());

    bool loggedInUnderTheDialog = false;
    test::ModalScript script;
    script.Then<AboutDialog>([&](AboutDialog* dialog) {
        ASSERT_TRUE(StartSite(FiveChannels(), port));
        loggedInUnderTheDialog =
            WaitUntil([&] { return site->CountReceived(ClientMessage::Login) == 1; });
        dialog->accept();
    });
    frame->RunCommand(cmd::kAbout);
    EXPECT_TRUE(loggedInUnderTheDialog);
}

}  // namespace
}  // namespace orvane
