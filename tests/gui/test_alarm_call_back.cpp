// A site calling back on an event: the view is replaced even under a modal dialog, the alarm
// windows record and freeze a snapshot by themselves, and a replaced link's dialogs go with it.
#include "app/about_dialog.h"
#include "common/outage_notice.h"
#include "media/media_file.h"
#include "net/connect_flow.h"
#include "net/remote_control_dialogs.h"
#include "support/fake_alarm_output.h"
#include "support/independent_readers.h"
#include "support/running_app.h"
#include "wire/byte_order.h"

#include <QFileInfo>

#include <functional>

namespace orvane {
namespace {

using test::WaitUntil;

// Runs what it is given ahead of every call posted before it: another caller's proof handled
// in the same turn of the event loop as the frame that made the alarm windows.
struct AheadOfPostedCalls : QObject {
    void Post() {
        QCoreApplication::postEvent(this, new QEvent(QEvent::User), Qt::HighEventPriority);
    }
    bool event(QEvent* event) override {
        return event->type() == QEvent::User ? (run(), true) : QObject::event(event);
    }
    std::function<void()> run;
};

// The operator watches a site; another site, of two channels, calls back with an event.
class AlarmCallBackTest : public test::RunningApp {
  protected:
    void SetUp() override {
        ASSERT_TRUE(StartCallingSite(
            CallingSite({{11, 1, "Dock"}, {12, 2, "Lobby"}},
                        sim::MakeEventRecord("Dock door", "555-0199", "Pier 4", "Opened"))));
        Start();
        session().listener().SetProofTimeout(300);
        auto output = std::make_unique<test::FakeAlarmOutput>();
        sound = output.get();
        frame->alarmSound()->SetOutput(std::move(output));
    }

    // The alarm link asks which further channels to open, as any login does: none.
    bool WatchOperatorSite() {
        const bool watching = WatchFirstChannel() != nullptr;
        DeclineChannelDialogs();
        return watching;
    }
    bool AlarmWindowsRecording() {
        const auto windows = frame->channelWindows();
        return windows.size() == 2 && windows[0]->recording() && windows[1]->recording();
    }

    test::FakeAlarmOutput* sound = nullptr;  // owned by the alarm
};

TEST_F(AlarmCallBackTest, ACallBackUnderAModalDialogReplacesTheViewAndItsWindowsRecordThemselves) {
    app.SetSetting(SettingId::VideoArrange, 0);
    ASSERT_TRUE(WatchOperatorSite());
    const QPointer<VideoChannelWindow> operatorWindow = frame->channelWindows()[0];
    bool replacedUnderDialog = false;
    int askedUnderDialog = 0;
    test::ModalScript script;
    script.Then<AboutDialog>([&](AboutDialog* dialog) {
        EXPECT_TRUE(CallBack());
        replacedUnderDialog =
            WaitUntil([&] { return AlarmWindowsRecording() && link()->loggedIn(); });
        QCoreApplication::processEvents();  // the login's notice, posted by its dispatch
        askedUnderDialog = declined;
        dialog->accept();
    });
    frame->RunCommand(cmd::kAbout);
    ASSERT_TRUE(replacedUnderDialog);
    // The caller's channel dialog waits for the operator's dialog to go: never stacked on it.
    EXPECT_EQ(askedUnderDialog, 0);
    EXPECT_TRUE(WaitUntil([&] { return declined == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return operatorWindow.isNull(); }));
    // The caller's first window starts the cascade again.
    const auto windows = frame->channelWindows();
    EXPECT_EQ(windows[0]->pos(), QPoint(0, 0));
    EXPECT_EQ(windows[1]->pos(), QPoint(28, 22));
    EXPECT_TRUE(WaitUntil([&] { return SnapshotWindows().size() == 2; }));
    // Two alarm windows started the alarm once; the operator can stop it.
    EXPECT_EQ(sound->starts, 1);
    frame->UpdateCommandStates();
    frame->RunCommand(cmd::kStopAlarm);
    EXPECT_FALSE(frame->alarmPlaying());
}

// The caller's link is replaced in the turn of the event loop that made its first alarm window,
// before anything posted then runs: its clip still holds the frames that came, from a key frame.
TEST_F(AlarmCallBackTest, ACallBackReplacedInTheTurnThatMadeItsWindowsLeavesItsClips) {
    DeclineChannelDialogs();
    int windowsMade = 0;
    AheadOfPostedCalls replace;
    replace.run = [&] {
        windowsMade = static_cast<int>(frame->channelWindows().size());
        session().TearDown();
    };
    sound->onStart = [&] { replace.Post(); };
    ASSERT_TRUE(CallBack());
    ASSERT_TRUE(WaitUntil([&] { return windowsMade > 0 && Index().size() >= 1; }));
    test::Pump(200);
    EXPECT_TRUE(frame->channelWindows().isEmpty());
    const auto entries = Index();
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(windowsMade));
    for (const ClipRecord& entry : entries) {
        const auto probed = test::ProbeVideo((entry.path + entry.fileName).toStdString());
        ASSERT_GE(probed.packetKeys.size(), 1u) << entry.fileName.toStdString();
        EXPECT_TRUE(probed.packetKeys[0]);
    }
}

TEST_F(AlarmCallBackTest, AnAlarmWithoutSoundStandsUntilStoppedAndTheStatusLineSaysSo) {
    sound->refusal = QStringLiteral("no audio output device");
    DeclineChannelDialogs();
    ASSERT_TRUE(CallBack());
    ASSERT_TRUE(WaitUntil([&] { return frame->alarmStanding(); }));
    EXPECT_TRUE(frame->statusLine().contains(sound->refusal)) << frame->statusLine().toStdString();
    frame->UpdateCommandStates();
    frame->RunCommand(cmd::kStopAlarm);
    EXPECT_FALSE(frame->alarmStanding());
    EXPECT_FALSE(frame->statusLine().contains(sound->refusal));
}

// Every alarm window starts recording into a folder no one can write to (not even root: it
// lies under a regular file): one notice, no box, and the same notice says when it is over.
TEST_F(AlarmCallBackTest, SixteenRecordingsFailingToStartAreOneNoticeThatSaysWhenWritingResumed) {
    std::vector<sim::SimulatedChannel> cameras(16);
    for (std::uint32_t n = 1; n <= 16; ++n) {
        cameras[n - 1] = {static_cast<std::int32_t>(20 + n), n, "Cam " + std::to_string(n)};
    }
    auto options = CallingSite(cameras, sim::MakeEventRecord("Perimeter", "", "", ""));
    options.framesPerSecond = 5;
    options.replay = true;
    sim::SiteSimulator sixteen(options);
    ASSERT_TRUE(sixteen.Listen(QHostAddress::LocalHost, 0));
    // A missing folder falls back to another, so the files themselves go under a regular file.
    QFile plain(QString::fromStdString(temp.folder()) + "/plain");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    bool broken = true;
    frame->SetRecordFileOpener([&](const QString& path, QString& error) {
        return OpenMediaFile(broken ? plain.fileName() + "/" + QFileInfo(path).fileName() : path,
                             true, error);
    });
    std::vector<OutageNotice::Told> told;
    QObject::connect(frame->outages(), &OutageNotice::told,
                     [&](const OutageNotice::Told& notice) { told.push_back(notice); });

    DeclineChannelDialogs();
    session().listener().SetProofTimeout(5000);  // sixteen channels to encode first
    ASSERT_TRUE(CallBack(sixteen));
    ASSERT_TRUE(
        WaitUntil([&] { return frame->outages()->affected(OutageKind::Recording) == 16; }, 20000))
        << frame->statusLine().toStdString();
    test::Pump(100);
    EXPECT_TRUE(prompts.shown().empty()) << prompts.texts().join(" | ").toStdString();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(frame->statusLine().contains("Recording failed: 16 recordings failing since"))
        << frame->statusLine().toStdString();

    broken = false;
    for (VideoChannelWindow* window : frame->channelWindows()) {
        window->action(cmd::kStartRecord)->trigger();
        EXPECT_TRUE(window->recording());
    }
    // Once the failures have stopped for a while: they could be one cause still being found.
    ASSERT_TRUE(WaitUntil([&] { return told.size() == 2u; },
                          OutageNotice::SettleMs(OutageKind::Recording) + 3000));
    EXPECT_TRUE(told[1].ended);
    EXPECT_TRUE(told[1].text.startsWith("Writing resumed at ")) << told[1].text.toStdString();
    EXPECT_TRUE(frame->statusLine().contains("Recording resumed: Writing resumed at "));
    EXPECT_TRUE(prompts.shown().empty());
}

// A dialog of the operator's link goes with the link a call-back replaces: what it was
// showing was the operator's site's, and even an answer that comes now goes to no site.
class DialogOfTheReplacedLink : public AlarmCallBackTest,
                                public testing::WithParamInterface<int> {};
INSTANTIATE_TEST_SUITE_P(Commands, DialogOfTheReplacedLink,
                         testing::Values(cmd::kOpenChannel, cmd::kRemoteControl));

TEST_P(DialogOfTheReplacedLink, GoesWithItAndItsAnswerGoesNowhere) {
    ASSERT_TRUE(WatchOperatorSite());
    decliner.stop();
    EXPECT_TRUE(GoesUnder<QDialog>(
        [&] { frame->RunCommand(GetParam()); },
        [&](QDialog* dialog) {
            spared = dialog;
            DeclineChannelDialogs();  // the calling site's own channel dialog
            EXPECT_TRUE(CallBack());
            ASSERT_TRUE(WaitUntil([&] { return AlarmWindowsRecording(); }));
        },
        [](QDialog* dialog) {  // Open, or Close remote site, pressed as the link changed
            EXPECT_EQ(dialog->result(), QDialog::Rejected);
            auto* remote = qobject_cast<RemoteControlDialog*>(dialog);
            remote ? remote->Choose(RemoteControlDialog::kCloseSite) : dialog->accept();
        }));
    test::Pump(100);
    EXPECT_EQ(callingSite->CountReceived(ClientMessage::OpenChannel), 0);
    EXPECT_EQ(callingSite->CountReceived(ClientMessage::CloseSite), 0);
    EXPECT_EQ(site->CountReceived(ClientMessage::CloseSite), 0);
}

// The operator's site cannot be reached; while "Can not connect" asks, a site calls back.
TEST_F(AlarmCallBackTest, ACallBackUnderTheRetryQuestionKeepsItsLink) {
    site.reset();  // its port refuses from now on
    bool closedByItself = false;
    test::ModalScript script;
    script.Then<ConnectDialog>(LogIn).Then<RetryDialog>([&](RetryDialog* dialog) {
        DeclineChannelDialogs();
        EXPECT_TRUE(CallBack());
        ASSERT_TRUE(WaitUntil([&] { return AlarmWindowsRecording(); }));
        closedByItself = !dialog->isVisible();
        dialog->accept();  // Try Again, pressed as the call-back came: it must not matter
    });
    frame->RunCommand(cmd::kConnect);

    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(closedByItself);
    test::Pump(200);
    ASSERT_NE(link(), nullptr);
    EXPECT_TRUE(link()->alarmMode());
    EXPECT_TRUE(AlarmWindowsRecording());
}

// The calling site drops while its channel dialog is open: Orvane goes back to the operator's
// site, and the dialog goes with the caller's link.
TEST_F(AlarmCallBackTest, TheCallersChannelDialogGoesWhenOrvaneReturnsToTheOperatorsSite) {
    ASSERT_TRUE(WatchOperatorSite());
    decliner.stop();
    EXPECT_TRUE(GoesUnder<OpenChannelDialog>(
        [&] { EXPECT_TRUE(CallBack()); },
        [&](OpenChannelDialog* dialog) {
            spared = dialog;
            DeclineChannelDialogs();  // the operator's site's own dialog after the return
            callingSite->DropLinks();
            ASSERT_TRUE(
                WaitUntil([&] { return site->CountReceived(ClientMessage::Login) == 2; }, 8000));
        },
        // Open pressed as the link changed: it must go nowhere.
        [](OpenChannelDialog* dialog) { dialog->accept(); }));
    test::Pump(200);
    EXPECT_FALSE(link()->alarmMode());
    // The operator's site was asked for its kept channel only, never for one of the caller's.
    for (const auto& message : site->received()) {
        const auto id = message.type == std::uint8_t(ClientMessage::OpenChannel)
                            ? ReadLe32(message.payload, 0)
                            : 0u;
        EXPECT_TRUE(id != 11 && id != 12) << id;
    }
}

}  // namespace
}  // namespace orvane
