// The live view where it used to break: links that drop while a dialog is open, waits that
// end underneath their caller, and the geometry an operator sees.
#include "app/about_dialog.h"
#include "net/connect_dialog.h"
#include "net/remote_control_dialogs.h"
#include "shared/command_ids.h"
#include "support/event_loop.h"
#include "support/modal_script.h"
#include "support/pending_listener.h"
#include "support/running_app.h"
#include "support/scripted_prompts.h"
#include "video/open_channel_dialog.h"
#include "video/video_area.h"
#include "video/video_channel_window.h"
#include "video/video_tiling.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <array>

namespace orvane {
namespace {

using test::WaitUntil;

// A main frame over a simulated site of five channels, with ReLink as asked.
class LiveViewFaultTest : public test::RunningApp {
  protected:
    static sim::SiteSimulatorOptions FiveChannels() {
        auto options = LiveSite();
        options.channels = {
            {3, 1, "Gate"}, {7, 2, "Yard"}, {8, 3, "Lobby"}, {9, 4, "Dock"}, {10, 5, "Roof"}};
        return options;
    }
    // The program's own message boxes run: their loops are where windows used to die.
    void Start(int reLink) {
        RunningApp::Start(FiveChannels(), reLink);
        PromptService::SetAnswerer(nullptr);
    }

    // Connects and opens the first `count` channels; true when each shows a picture.
    bool WatchChannels(int count) {
        test::ModalScript script;
        script.Then<OpenChannelDialog>([](OpenChannelDialog* dialog) { dialog->reject(); });
        if (!frame->ConnectToSite("127.0.0.1") || !WaitUntil([&] { return script.finished(); })) {
            ADD_FAILURE() << "no connection";
            return false;
        }
        int asked = 0;
        for (std::int32_t id : {3, 7, 8, 9, 10}) {
            if (asked++ < count) {
                frame->session().connection()->OpenChannel(static_cast<std::uint32_t>(id));
            }
        }
        return WaitUntil([&] {
            const auto windows = frame->channelWindows();
            return frame->session().connection() && windows.size() == count &&
                   windows.size() == frame->session().connection()->OpenWindowCount() &&
                   std::all_of(windows.begin(), windows.end(),
                               [](auto* w) { return !w->picture().isNull(); }) &&
                   windows.size() ==
                       static_cast<int>(frame->session().connection()->channels().links().size());
        });
    }

    // Every open window sits in its tile of the area as it is now.
    bool Tiled() {
        const auto windows = frame->channelWindows();
        const auto tiling =
            VideoTiling::For(static_cast<int>(windows.size()), frame->VideoAreaSize());
        if (!tiling) {
            return false;
        }
        for (int i = 0; i < windows.size(); ++i) {
            if (windows[i]->geometry() != tiling->Cell(i)) {
                return false;
            }
        }
        return true;
    }
};

// The real message box runs here: its loop is where the window used to die under it.
TEST_F(LiveViewFaultTest, TheLinkDropsWhileTheCloseQuestionIsOpen) {
    Start(0);
    ASSERT_TRUE(WatchChannels(1));
    QPointer<VideoChannelWindow> gate = frame->channelWindows()[0];
    bool withdrawn = false;
    test::ModalScript script;
    script.Then<QMessageBox>([&](QMessageBox* box) {
        EXPECT_EQ(box->parentWidget(), frame);  // not the window the link may take away
        site->DropLinks();
        WaitUntil([&] { return gate.isNull(); });
        // The question was about a window that is gone: it goes as well.
        withdrawn = WaitUntil([&] { return !box->isVisible(); }, 1000);
        if (!withdrawn) {
            box->done(QMessageBox::Yes);
        }
    });
    gate->OnClose();
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(withdrawn);
    EXPECT_TRUE(gate.isNull());
    EXPECT_EQ(frame->session().connection(), nullptr);
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseChannel), 0);
}

TEST_F(LiveViewFaultTest, YesDuringTheReconnectThenDisconnect) {
    Start(1);
    ASSERT_TRUE(WatchChannels(1));
    QPointer<VideoChannelWindow> gate = frame->channelWindows()[0];
    test::ModalScript script;
    script.Then<QMessageBox>([&](QMessageBox* box) {
        site.reset();  // the link drops; the reconnect loop starts inside this box
        QPointer<QMessageBox> answer(box);
        QTimer::singleShot(400, frame, [answer] {
            if (answer) {
                answer->done(QMessageBox::Yes);
            }
        });
        QTimer::singleShot(900, frame, [this] { frame->RunCommand(cmd::kDisconnect); });
    });
    gate->OnClose();
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(WaitUntil([&] { return frame->session().connection() == nullptr; }));
    EXPECT_FALSE(frame->session().reconnecting());
}

// The site goes and comes back while About is open: the reconnect goes on under the dialog.
TEST_F(LiveViewFaultTest, AModalDialogDoesNotHoldUpTheReconnect) {
    Start(1);
    ASSERT_TRUE(WatchChannels(1));
    const quint16 port = site->port();
    site.reset();
    ASSERT_TRUE(WaitUntil([&] { return frame->session().reconnecting(); }));
    bool loggedInUnderTheDialog = false;
    test::ModalScript script;
    script.Then<AboutDialog>([&](AboutDialog* dialog) {
        ASSERT_TRUE(StartSite(FiveChannels(), port));
        loggedInUnderTheDialog =
            WaitUntil([&] { return site->CountReceived(ClientMessage::Login) == 1; }, 5000);
        dialog->accept();
    });
    frame->RunCommand(cmd::kAbout);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(loggedInUnderTheDialog);
}

// The Close question, answered while the site is away, closes the window at once.
TEST_F(LiveViewFaultTest, AnAnswerDuringTheReconnectTakesEffectAtOnce) {
    Start(1);
    ASSERT_TRUE(WatchChannels(2));
    QPointer<VideoChannelWindow> gate = frame->channelWindows()[0];
    test::ModalScript script;
    script.Then<QMessageBox>([&](QMessageBox* box) {
        site.reset();
        WaitUntil([&] { return frame->session().reconnecting(); });
        box->done(QMessageBox::Yes);
    });
    QElapsedTimer clock;
    clock.start();
    // Were the answer held until the reconnect loop ends, this ends the loop.
    QTimer::singleShot(4000, frame, [this] { frame->RunCommand(cmd::kDisconnect); });
    gate->OnClose();
    EXPECT_TRUE(script.finished());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(frame->session().reconnecting());
    // Closed now (deleted when the program's own loop next runs).
    EXPECT_TRUE(gate.isNull() || !gate->isVisible());
    EXPECT_EQ(frame->channelWindows().size(), 1);
}

TEST_F(LiveViewFaultTest, DisconnectOrExitDuringWaitForConnect) {
    Start(1);
    test::ScriptedPrompts boxes;  // answered by script: no box holds up the wait
    test::PendingListener pending;
    ASSERT_TRUE(pending.ready());
    app.settings().WriteProfileInt("Net", "SitePort", pending.port());
    for (int exit = 0; exit < 2; ++exit) {
        test::ModalScript script;
        script.Then<ConnectDialog>([](ConnectDialog* dialog) {
            dialog->passwordEdit()->setText("admin");
            dialog->accept();
        });
        QTimer::singleShot(500, frame, [this, exit] {
            if (exit) {
                frame->close();
            } else {
                frame->RunCommand(cmd::kDisconnect);
            }
        });
        QElapsedTimer clock;
        clock.start();
        frame->RunCommand(cmd::kConnect);
        EXPECT_LT(clock.elapsed(), 5000);  // given up at once, not at the 10 s deadline
        EXPECT_EQ(frame->session().connection(), nullptr);
        EXPECT_EQ(script.unexpected(), 0);  // no retry dialog after an abandoned connect
        test::Pump(100);
    }
    EXPECT_FALSE(frame->isVisible());
}

TEST_F(LiveViewFaultTest, RemoteControlAfterTheLinkDroppedSendsNothing) {
    Start(0);
    ASSERT_TRUE(WatchChannels(1));
    test::ModalScript script;
    script.Then<RemoteControlDialog>([&](RemoteControlDialog* dialog) {
        site->DropLinks();
        WaitUntil([&] { return frame->session().connection() == nullptr; });
        dialog->Choose(RemoteControlDialog::kCloseSite);
    });
    frame->RunCommand(cmd::kRemoteControl);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(frame->session().connection(), nullptr);
    test::Pump(100);
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseSite), 0);
}

// With ReLink on the link object stays for the reconnect; the channel dialog still goes with
// the link it listed, and no new one opens until a link is back.
TEST_F(LiveViewFaultTest, TheChannelDialogGoesWhenTheLinkIsLostAndStaysGreyUntilItIsBack) {
    Start(1);
    ASSERT_TRUE(WatchChannels(1));
    bool closedWithTheLink = false;
    test::ModalScript script;
    script.Then<OpenChannelDialog>([&](OpenChannelDialog* dialog) {
        QPointer<OpenChannelDialog> shown(dialog);
        site.reset();
        closedWithTheLink = WaitUntil([&] { return !shown || !shown->isVisible(); });
        if (shown) {
            shown->reject();
        }
    });
    frame->RunCommand(cmd::kOpenChannel);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(closedWithTheLink);
    ASSERT_TRUE(frame->session().reconnecting());
    frame->UpdateCommandStates();
    EXPECT_FALSE(frame->action(cmd::kOpenChannel)->isEnabled());
}

TEST_F(LiveViewFaultTest, EscTilesTheWholeAreaItLeaves) {
    Start(1);
    ASSERT_TRUE(WatchChannels(5));
    ASSERT_TRUE(WaitUntil([&] { return Tiled(); }));
    const QSize withBars = frame->VideoAreaSize();

    frame->RunCommand(cmd::kToggleToolbar);
    EXPECT_TRUE(WaitUntil([&] { return Tiled(); }, 1000));
    EXPECT_GT(frame->VideoAreaSize().height(), withBars.height());
    // Centred in the area as it is now: the gaps above and below differ by at most a pixel.
    const auto windows = frame->channelWindows();
    int top = INT_MAX;
    int bottom = 0;
    for (auto* window : windows) {
        top = std::min(top, window->geometry().top());
        bottom = std::max(bottom, window->geometry().bottom() + 1);
    }
    EXPECT_LE(std::abs(top - (frame->VideoAreaSize().height() - bottom)), 1);
    // No caption strip is left above the picture.
    EXPECT_EQ(windows[0]->widget()->geometry().top(), 0);

    frame->RunCommand(cmd::kToggleToolbar);
    EXPECT_TRUE(WaitUntil([&] { return Tiled(); }, 1000));
    EXPECT_EQ(frame->VideoAreaSize(), withBars);
}

// Without caption a window still has its sizing border: the picture sits inside it, the
// border sizes the window, and a size mode still gives the picture its exact size.
TEST_F(LiveViewFaultTest, TheFullViewKeepsASizingBorder) {
    Start(1);
    ASSERT_TRUE(WatchChannels(2));
    frame->RunCommand(cmd::kToggleToolbar);
    ASSERT_TRUE(WaitUntil([&] { return Tiled(); }, 1000));
    auto* window = frame->channelWindows()[0];
    ASSERT_FALSE(window->captionShown());
    // The gaps left, above, right and below the picture once the window is laid out.
    auto gaps = [window] {
        const QRect picture(window->pictureView()->mapTo(window, QPoint(0, 0)),
                            window->pictureView()->size());
        return std::array{picture.left(), picture.top(), window->width() - 1 - picture.right(),
                          window->height() - 1 - picture.bottom()};
    };
    WaitUntil([&] { return gaps()[0] == gaps()[2] && gaps()[1] == gaps()[3]; }, 1000);
    const auto border = gaps();
    EXPECT_GT(border[0], 0);
    EXPECT_EQ(border[0], border[1]);
    EXPECT_EQ(border[0], border[2]);
    EXPECT_EQ(border[0], border[3]);

    // Drag the bottom right corner 30 px right and 20 px down, then the left border 10 px left.
    // Global positions follow from where the press was, as the widget may move under them.
    auto drag = [](QWidget* widget, QPoint from, QPoint by) {
        const QPoint pressedAt = widget->mapToGlobal(from);
        auto send = [widget, from, pressedAt](QEvent::Type type, QPoint moved,
                                              Qt::MouseButtons buttons) {
            QMouseEvent event(type, from + moved, pressedAt + moved, Qt::LeftButton, buttons,
                              Qt::NoModifier);
            QApplication::sendEvent(widget, &event);
        };
        send(QEvent::MouseButtonPress, QPoint(), Qt::LeftButton);
        send(QEvent::MouseMove, by / 2, Qt::LeftButton);
        send(QEvent::MouseMove, by, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, by, Qt::NoButton);
    };
    QWidget* content = window->widget();
    const QRect before = window->geometry();
    drag(content, QPoint(content->width() - 1, content->height() - 1), QPoint(30, 20));
    EXPECT_EQ(window->geometry(), before.adjusted(0, 0, 30, 20));
    drag(content, QPoint(0, content->height() / 2), QPoint(-10, 0));
    EXPECT_EQ(window->geometry(), before.adjusted(-10, 0, 30, 20));
    // A press on the picture still moves the window rather than sizing it.
    drag(window->pictureView(), QPoint(20, 20), QPoint(5, 5));
    EXPECT_EQ(window->geometry(), before.adjusted(-5, 5, 35, 25));

    window->ApplySizeMode(VideoChannelWindow::k352x288);
    EXPECT_EQ(window->pictureView()->size(), QSize(352, 288));
    frame->RunCommand(cmd::kToggleToolbar);
    window->ApplySizeMode(VideoChannelWindow::k176x144);
    EXPECT_EQ(window->pictureView()->size(), QSize(176, 144));
}

TEST_F(LiveViewFaultTest, ArrangeFromAFrameThatIsNotMaximised) {
    Start(1);
    app.SetSetting(SettingId::VideoArrange, 0);
    ASSERT_TRUE(WatchChannels(2));
    frame->showNormal();
    frame->resize(500, 400);
    ASSERT_TRUE(WaitUntil([&] { return !frame->isMaximized(); }));
    frame->RunCommand(cmd::kArrangeVideoWindows);
    // The offscreen platform keeps the size on maximising; under a window manager the area
    // grows later, and the tiles follow it.
    EXPECT_TRUE(WaitUntil([&] { return frame->isMaximized() && Tiled(); }, 2000));
}

TEST_F(LiveViewFaultTest, KeptWindowsCountAndShowVideoAfterAReconnect) {
    Start(1);
    app.SetSetting(SettingId::VideoArrange, 0);
    ASSERT_TRUE(WatchChannels(2));
    auto* gate = frame->channelWindows()[0];
    test::ModalScript script;
    script.Then<OpenChannelDialog>([](OpenChannelDialog* dialog) { dialog->reject(); });
    site->DropLinks();
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::Login) >= 2; }, 8000));
    ASSERT_TRUE(WaitUntil([&] {
        return frame->session().connection() && frame->session().connection()->loggedIn();
    }));
    frame->UpdateCommandStates();
    EXPECT_TRUE(frame->action(cmd::kArrangeVideoWindows)->isEnabled());
    gate->UpdateCommands();
    EXPECT_TRUE(gate->action(cmd::kFixChannel)->isEnabled());
    const int frames = frame->session().connection()->frameCounter();
    EXPECT_TRUE(
        WaitUntil([&] { return frame->session().connection()->frameCounter() > frames + 5; }));
    EXPECT_EQ(frame->channelWindows().size(), 2);
}

// No system menu, so a right click on the caption opens nothing, in either view.
TEST_F(LiveViewFaultTest, AChannelWindowHasNoSystemMenuInEitherView) {
    Start(1);
    ASSERT_TRUE(WatchChannels(1));
    auto* window = frame->channelWindows()[0];
    EXPECT_EQ(window->systemMenu(), nullptr);
    frame->RunCommand(cmd::kToggleToolbar);
    frame->RunCommand(cmd::kToggleToolbar);
    EXPECT_EQ(window->systemMenu(), nullptr);
}

}  // namespace
}  // namespace orvane
