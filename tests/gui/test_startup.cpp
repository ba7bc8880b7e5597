// How the program starts (command line, splash, what it reports) and how a quit signal ends it.
#include "app/command_line.h"
#include "app/main_frame.h"
#include "app/splash_window.h"
#include "app/viewer_app.h"
#include "playback/clip_player_window.h"
#include "shared/app_texts.h"
#include "store/clip_index.h"
#include "store/program_lock.h"
#include "store/settings.h"
#include "support/event_loop.h"
#include "support/media_samples.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"
#include "video/video_area.h"

#include <QDialog>
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace orvane {
namespace {

using test::WaitUntil;

const QStringList kPlainStart{"orvane"};
const QStringList kQuietStart{"orvane", "/Embedding"};

// The clip player windows that are open.
QList<ClipPlayerWindow*> Players() {
    QList<ClipPlayerWindow*> open;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* player = qobject_cast<ClipPlayerWindow*>(window); player && player->isVisible()) {
            open << player;
        }
    }
    return open;
}

class StartupTest : public testing::Test {
  protected:
    StartupTest() { test::UseFreeListenPort(temp.path()); }
    // The store as the program will find it, closed again at the end of the statement.
    Settings Store() { return std::move(OpenSettings(temp.path()).settings); }
    void LockWithPassword(const char* password) {
        Settings settings = Store();
        ProgramLock(settings).SavePassword("guard", password);
    }

    test::TempStore temp;
    test::ScriptedPrompts prompts;
};

// The command line as read before Qt starts: Qt's options with their values, the embedding
// and automation switches (any letter case), clips kept (any existing file, relative names
// from here; "@" below is such a file), and anything else named.
TEST(CommandLine, QtOptionsAndSwitchesAreTakenClipsKeptAndAnythingElseNamed) {
    const auto list = [](const QString& names, const QString& relativeTo = "") {
        QStringList listed = names.split(' ', Qt::SkipEmptyParts);
        for (QString& name : listed) {
            name = name == "@"            ? QCoreApplication::applicationFilePath()
                   : name.startsWith('/') ? name
                                          : relativeTo + name;
        }
        return listed;
    };
    const struct {
        QString arguments;
        bool embedded;
        QString clips, unknown, platform;
    } cases[] = {
        {"-platform offscreen -style=fusion --display :1 -reverse", false, "", "", "offscreen"},
        {"/Automation a.AVI /srv/b.avi @", true, "a.AVI /srv/b.avi @", "", ""},
        {"-- -odd.avi /Embedding", true, "-odd.avi /Embedding", "", ""},
        {"file.avi -AUTOMATION /embedding", true, "file.avi", "", ""},
        {"--bogus -x", false, "", "--bogus", ""},
        {"notes.txt Embedding /Embed", false, "", "notes.txt", ""},
        {"-style", false, "", "-style", ""},  // an option missing its value
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.toStdString());
        const QStringList arguments = QStringList{"orvane"} + list(c.arguments);
        EXPECT_EQ(IsEmbeddedStart(arguments), c.embedded);
        const StartArguments read = ReadStartArguments(arguments);
        EXPECT_EQ(read.clips, list(c.clips, QDir::currentPath() + "/"));
        EXPECT_EQ(read.unknown, c.unknown);
        EXPECT_EQ(read.platform, c.platform);
    }
    EXPECT_FALSE(IsEmbeddedStart({"/Embedding"}));  // the program's own name is no switch
}

// The embedding switch suppresses only the splash; clips named at start open once the frame is up.
TEST_F(StartupTest, ClipsNamedAtStartOpenInPlayersOnceTheMainFrameIsUp) {
    const QFileInfo clip(test::MediaSample("fc_mjpeg.avi"));
    ClipIndex(Store().store(), [](std::int32_t) { return QString("Yard"); })  // recorded here
        .AddClipRecord({clip.fileName(), 0, 7, "Yard", "2026/12/06", "09:00", "2026/12/06", "09:05",
                        "", clip.absolutePath() + "/"});
    ViewerApp app;
    app.OpenClipFiles({clip.absoluteFilePath(), temp.File("missing.avi").c_str()});
    EXPECT_TRUE(Players().isEmpty());
    ASSERT_EQ(app.InitInstance(kQuietStart), ViewerApp::StartResult::Started);
    EXPECT_EQ(app.splash(), nullptr);

    // The file that cannot be played is told by its player, which then closes.
    QTRY_COMPARE_WITH_TIMEOUT(prompts.texts(), QStringList{playertext::kOpenFileError}, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Players().size(), 1, 5000);
    EXPECT_EQ(Players()[0]->parentWidget(), app.mainFrame());
    EXPECT_EQ(Players()[0]->engine().titleLine(), "0007 Yard");  // as the index lists it

    // Another start's clips come the same way, and the main frame comes to the front.
    app.mainFrame()->showMinimized();
    app.OpenClipFiles({clip.absoluteFilePath()});
    app.BringToFront();
    EXPECT_EQ(Players().size(), 2);
    EXPECT_FALSE(app.mainFrame()->windowState() & Qt::WindowMinimized);
}

// The main frame opens maximised under the splash, which goes at a click or a key, consumed
// (or by itself: see the taken port below); then clicks reach their targets again.
TEST_F(StartupTest, TheSplashGoesAtAClickOrAKeyItConsumes) {
    for (const bool click : {true, false}) {
        ViewerApp app;
        ASSERT_EQ(app.InitInstance(kPlainStart), ViewerApp::StartResult::Started);
        EXPECT_TRUE(app.mainFrame()->windowState() & Qt::WindowMaximized);
        ASSERT_NE(app.splash(), nullptr);
        auto* button = new QPushButton("under the splash", app.mainFrame()->videoArea());
        button->show();
        button->setFocus();
        QSignalSpy clicked(button, &QPushButton::clicked);
        click ? QTest::mouseClick(button, Qt::LeftButton) : QTest::keyClick(button, Qt::Key_Space);
        EXPECT_EQ(app.splash(), nullptr);
        EXPECT_EQ(clicked.count(), 0);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(clicked.count(), 1);
        EXPECT_EQ(app.ExitInstance(0), 0);
    }
}

TEST_F(StartupTest, AnUnusableStoreIsReportedOnceAndLeftAlone) {
    const std::string notes = "not a database\n";
    test::WriteFileBytes(temp.path(), notes);
    ViewerApp app;
    ASSERT_EQ(app.InitInstance(kPlainStart), ViewerApp::StartResult::Started);
    QApplication::processEvents();
    // Told once (the defaults may also find the call-back port taken: another message).
    EXPECT_EQ(prompts.texts().filter(QString::fromStdString(temp.path())).size(), 1);
    app.SetSetting(SettingId::CheckTimer, 30);
    EXPECT_EQ(test::ReadFileBytes(temp.path()), notes);
}

TEST_F(StartupTest, ATakenListenPortIsReportedAfterTheSplashHasGone) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    Store().WriteProfileInt("Net", "ListenPort", taken.serverPort());
    ViewerApp app;
    ASSERT_EQ(app.InitInstance({"orvane"}), ViewerApp::StartResult::Started);
    ASSERT_NE(app.splash(), nullptr);
    test::Pump(200);
    EXPECT_NE(app.splash(), nullptr);
    EXPECT_TRUE(prompts.shown().empty());  // nothing over the splash
    ASSERT_TRUE(WaitUntil([&] { return app.splash() == nullptr; }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return prompts.texts().contains(frametext::kListenFailed); }));
    EXPECT_EQ(prompts.texts().count(frametext::kListenFailed), 1);
}

using QuitOnSignalTest = StartupTest;

// TERM or HUP closes the frame as Exit does, after the open dialogs are rejected one after
// the other (a caller that opens another once its dialog is gone included).
TEST_F(QuitOnSignalTest, TermAndHangupRejectOpenDialogsThenCloseTheMainFrame) {
    for (const int signalNumber : {SIGTERM, SIGHUP}) {
        ViewerApp app;
        ASSERT_EQ(app.InitInstance(kQuietStart), ViewerApp::StartResult::Started);
        MainFrame* frame = app.mainFrame();
        std::vector<int> results;
        bool frameShownWhenDialogsReturned = false;
        QTimer::singleShot(0, frame, [&] {
            for (int i = 0; i < 2; ++i) {
                QDialog dialog(frame);
                // Accepted, not rejected, if the quit request never reaches the dialog.
                QTimer::singleShot(2000, &dialog, &QDialog::accept);
                if (i == 0) {
                    QTimer::singleShot(30, [signalNumber] { std::raise(signalNumber); });
                }
                results.push_back(dialog.exec());
            }
            frameShownWhenDialogsReturned = frame->isVisible();
        });
        QTRY_VERIFY_WITH_TIMEOUT(results.size() == 2 && !frame->isVisible(), 3000);
        EXPECT_EQ(results, (std::vector<int>{QDialog::Rejected, QDialog::Rejected}));
        EXPECT_TRUE(frameShownWhenDialogsReturned);
        EXPECT_EQ(app.mainFrame(), frame);
    }
}

// The password gate given up (here by a signal, as by Cancel) ends the start without a write.
TEST_F(QuitOnSignalTest, ASignalDuringThePasswordGateDeclinesTheStart) {
    LockWithPassword("pw");
    const std::string before = test::ReadFileBytes(temp.path());
    ViewerApp app;
    QTimer::singleShot(30, [] { std::raise(SIGINT); });
    EXPECT_EQ(app.InitInstance(kQuietStart), ViewerApp::StartResult::Declined);
    EXPECT_EQ(app.mainFrame(), nullptr);
    EXPECT_EQ(test::ReadFileBytes(temp.path()), before);
}

}  // namespace
}  // namespace orvane
