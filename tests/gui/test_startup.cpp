#include "app/command_line.h"
#include "app/main_frame.h"
#include "app/password_dialogs.h"
#include "app/splash_window.h"
#include "app/viewer_app.h"
#include "playback/clip_player_window.h"
#include "shared/app_texts.h"
#include "store/clip_index.h"
#include "store/settings.h"
#include "support/event_loop.h"
#include "support/media_samples.h"
#include "support/modal_script.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"
#include "video/video_area.h"

#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::WaitUntil;

const QStringList kPlainStart{"orvane"};

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
    test::TempStore temp;
    test::ScriptedPrompts prompts;
};

TEST(CommandLine, OnlyEmbeddingAndAutomationSwitchesCount) {
    EXPECT_TRUE(IsEmbeddedStart({"orvane", "/Embedding"}));
    EXPECT_TRUE(IsEmbeddedStart({"orvane", "-AUTOMATION"}));
    EXPECT_TRUE(IsEmbeddedStart({"orvane", "file.avi", "/embedding"}));
    EXPECT_FALSE(IsEmbeddedStart({"orvane", "Embedding"}));
    EXPECT_FALSE(IsEmbeddedStart({"orvane", "/Embed"}));
    EXPECT_FALSE(IsEmbeddedStart({"/Embedding"}));  // the program's own name is no switch
}

TEST(CommandLine, QtOptionsAndSwitchesAreTakenClipsKeptAndAnythingElseNamed) {
    const QString here = QDir::currentPath() + "/";
    const QString file = QCoreApplication::applicationFilePath();  // exists, any name
    const struct {
        QStringList arguments;
        QStringList clips;
        QString unknown, platform;
    } cases[] = {
        {{"-platform", "offscreen", "-style=fusion", "--display", ":1", "-reverse"},
         {},
         "",
         "offscreen"},
        {{"/Automation", "a.AVI", "/srv/b.avi", file},
         {here + "a.AVI", "/srv/b.avi", file},
         "",
         ""},
        {{"--", "-odd.avi", "/Embedding"}, {here + "-odd.avi", "/Embedding"}, "", ""},
        {{"--bogus", "-x"}, {}, "--bogus", ""},
        {{"notes.txt"}, {}, "notes.txt", ""},
        {{"-style"}, {}, "-style", ""},  // an option missing its value
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const StartArguments read = ReadStartArguments(QStringList{"orvane"} + c.arguments);
        EXPECT_EQ(read.clips, c.clips);
        EXPECT_EQ(read.unknown, c.unknown);
        EXPECT_EQ(read.platform, c.platform);
    }
}

TEST_F(StartupTest, ClipsNamedAtStartOpenInPlayersOnceTheMainFrameIsUp) {
    const QFileInfo clip(test::MediaSample("fc_mjpeg.avi"));
    {
        // One Orvane recorded, listed in its index.
        auto opened = OpenSettings(temp.path());
        ClipIndex(opened.settings.store(), [](std::int32_t) { return QString("Yard"); })
            .AddClipRecord({clip.fileName(), 0, 7, "Yard", "2026/12/06", "09:00", "2026/12/06",
                            "09:05", "", clip.absolutePath() + "/"});
    }
    ViewerApp app;
    app.OpenClipFiles({clip.absoluteFilePath(), temp.File("missing.avi").c_str()});
    EXPECT_TRUE(Players().isEmpty());
    ASSERT_EQ(app.InitInstance({"orvane", "/Embedding"}), ViewerApp::StartResult::Started);

    // The file that cannot be played is told by its player, which then closes.
    QTRY_COMPARE_WITH_TIMEOUT(prompts.texts(), QStringList{playertext::kOpenFileError}, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Players().size(), 1, 5000);
    EXPECT_EQ(Players()[0]->parentWidget(), app.mainFrame());
    EXPECT_TRUE(Players()[0]->windowTitle().contains("fc_mjpeg.avi"))
        << Players()[0]->windowTitle().toStdString();
    EXPECT_EQ(Players()[0]->engine().titleLine(), "0007 Yard");

    // Another start's clips come the same way, and the main frame comes to the front.
    app.mainFrame()->showMinimized();
    app.OpenClipFiles({clip.absoluteFilePath()});
    app.BringToFront();
    EXPECT_EQ(Players().size(), 2);
    EXPECT_FALSE(app.mainFrame()->windowState() & Qt::WindowMinimized);
}

TEST_F(StartupTest, WithoutALockTheMainFrameOpensMaximisedWithTheSplash) {
    ViewerApp app;
    ASSERT_EQ(app.InitInstance(kPlainStart), ViewerApp::StartResult::Started);
    MainFrame* frame = app.mainFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->windowTitle(), "Orvane");
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->windowState() & Qt::WindowMaximized);
    EXPECT_TRUE(prompts.shown().empty());

    ASSERT_NE(app.splash(), nullptr);
    EXPECT_EQ(app.splash()->size(), QSize(245, 240));
    EXPECT_TRUE(app.splash()->isVisible());
    // It goes by itself after 750 ms.
    QTRY_VERIFY_WITH_TIMEOUT(app.splash() == nullptr, 3000);
    EXPECT_EQ(app.ExitInstance(0), 0);
}

TEST_F(StartupTest, TheEmbeddingSwitchSuppressesOnlyTheSplash) {
    ViewerApp app;
    ASSERT_EQ(app.InitInstance({"orvane", "/Embedding"}), ViewerApp::StartResult::Started);
    EXPECT_NE(app.mainFrame(), nullptr);
    EXPECT_EQ(app.splash(), nullptr);
    EXPECT_FALSE(app.splashEnabled());
}

// A click or a key on the splash closes it and goes no further; then clicks reach their
// targets again.
TEST_F(StartupTest, AClickOrAKeyOnTheSplashClosesItAndIsConsumed) {
    for (const bool click : {true, false}) {
        SCOPED_TRACE(click ? "click" : "key");
        ViewerApp app;
        ASSERT_EQ(app.InitInstance(kPlainStart), ViewerApp::StartResult::Started);
        auto* button = new QPushButton("under the splash", app.mainFrame()->videoArea());
        button->show();
        button->setFocus();
        QSignalSpy clicked(button, &QPushButton::clicked);
        ASSERT_NE(app.splash(), nullptr);

        if (click) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            QTest::keyClick(button, Qt::Key_Space);
        }
        QTRY_VERIFY(app.splash() == nullptr);
        EXPECT_EQ(clicked.count(), 0);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(clicked.count(), 1);
    }
}

TEST_F(StartupTest, CancellingThePasswordEndsStartUpWithoutAWindowOrAWrite) {
    {
        auto opened = OpenSettings(temp.path());
        ProgramLock(opened.settings).SavePassword("guard", "pw");
    }
    const std::string before = test::ReadFileBytes(temp.path());

    ViewerApp app;
    test::ModalScript script;
    script.Then<EnterPasswordDialog>([](EnterPasswordDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(app.InitInstance(kPlainStart), ViewerApp::StartResult::Declined);
    EXPECT_EQ(app.mainFrame(), nullptr);
    EXPECT_EQ(app.splash(), nullptr);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(test::ReadFileBytes(temp.path()), before);
}

TEST_F(StartupTest, TheRightPasswordLetsTheProgramStart) {
    {
        auto opened = OpenSettings(temp.path());
        ProgramLock(opened.settings).SavePassword("guard", "");
    }
    ViewerApp app;
    test::ModalScript script;
    script.Then<EnterPasswordDialog>([](EnterPasswordDialog* dialog) {
        EXPECT_EQ(dialog->userNameEdit()->text(), "guard");
        dialog->accept();
    });
    EXPECT_EQ(app.InitInstance(kPlainStart), ViewerApp::StartResult::Started);
    EXPECT_NE(app.mainFrame(), nullptr);
}

TEST_F(StartupTest, WithoutSocketsTheProgramSaysSoAndDoesNotStart) {
    qputenv("ORVANE_NO_SOCKETS", "1");
    ViewerApp app;
    const auto result = app.InitInstance(kPlainStart);
    qunsetenv("ORVANE_NO_SOCKETS");
    EXPECT_EQ(result, ViewerApp::StartResult::Failed);
    EXPECT_EQ(prompts.texts(), QStringList{"Windows sockets Initialize faid."});
    EXPECT_EQ(app.mainFrame(), nullptr);
}

TEST_F(StartupTest, AnUnusableStoreIsReportedOnceAndLeftAlone) {
    const std::string notes = "not a database\n";
    test::WriteFileBytes(temp.path(), notes);

    ViewerApp app;
    ASSERT_EQ(app.InitInstance(kPlainStart), ViewerApp::StartResult::Started);
    QApplication::processEvents();
    // Told once (the defaults may also find the call-back port taken: another message).
    EXPECT_EQ(prompts.texts().filter(QString::fromStdString(temp.path())).size(), 1);
    EXPECT_EQ(app.settings().LimitDiskSpaceMb(), 50);

    app.SetSetting(SettingId::CheckTimer, 30);
    EXPECT_EQ(test::ReadFileBytes(temp.path()), notes);
}

TEST_F(StartupTest, TheApplicationObjectNamesChannelsAndClearsThemAtExit) {
    ViewerApp app;
    app.channelTable().Replace({{3, "Gate"}, {3, "Other"}});
    EXPECT_EQ(app.GetChannelName(3), "Gate");
    EXPECT_EQ(app.GetChannelName(9), "");
    app.ExitInstance(0);
    EXPECT_TRUE(app.channelTable().empty());
}

TEST_F(StartupTest, ATakenListenPortIsReportedAfterTheSplashHasGone) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    {
        auto opened = OpenSettings(temp.path());
        opened.settings.WriteProfileInt("Net", "ListenPort", taken.serverPort());
    }
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

}  // namespace
}  // namespace orvane
