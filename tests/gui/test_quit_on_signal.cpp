#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "store/program_lock.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QDialog>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

namespace orvane {
namespace {

const QStringList kQuietStart{"orvane", "/Embedding"};

class QuitOnSignalTest : public testing::Test {
  protected:
    test::TempStore temp;
    test::ScriptedPrompts prompts;
};

TEST_F(QuitOnSignalTest, TermAndHangupCloseTheMainFrameAsExitDoes) {
    for (const int signalNumber : {SIGTERM, SIGHUP}) {
        ViewerApp app;
        ASSERT_EQ(app.InitInstance(kQuietStart), ViewerApp::StartResult::Started);
        MainFrame* frame = app.mainFrame();
        ASSERT_TRUE(frame->isVisible());

        std::raise(signalNumber);
        QTRY_VERIFY_WITH_TIMEOUT(!frame->isVisible(), 3000);
        EXPECT_EQ(app.mainFrame(), frame);
    }
}

TEST_F(QuitOnSignalTest, OpenDialogsAreRejectedOneAfterTheOtherBeforeTheFrameCloses) {
    ViewerApp app;
    ASSERT_EQ(app.InitInstance(kQuietStart), ViewerApp::StartResult::Started);
    MainFrame* frame = app.mainFrame();

    std::vector<int> results;
    bool frameShownWhenDialogsReturned = false;
    QTimer::singleShot(0, frame, [&] {
        // Accepted, not rejected, if the quit request never reaches a dialog.
        QDialog first(frame);
        QTimer::singleShot(2000, &first, &QDialog::accept);
        QTimer::singleShot(30, [] { std::raise(SIGTERM); });
        results.push_back(first.exec());
        // A caller that asks again once its dialog is gone.
        QDialog second(frame);
        QTimer::singleShot(2000, &second, &QDialog::accept);
        results.push_back(second.exec());
        frameShownWhenDialogsReturned = frame->isVisible();
    });

    QTRY_VERIFY_WITH_TIMEOUT(results.size() == 2 && !frame->isVisible(), 3000);
    EXPECT_EQ(results, (std::vector<int>{QDialog::Rejected, QDialog::Rejected}));
    EXPECT_TRUE(frameShownWhenDialogsReturned);
}

TEST_F(QuitOnSignalTest, ASignalDuringThePasswordGateDeclinesTheStart) {
    {
        auto opened = OpenSettings(temp.path());
        ProgramLock(opened.settings).SavePassword("guard", "pw");
    }
    ViewerApp app;
    QTimer::singleShot(30, [] { std::raise(SIGINT); });
    EXPECT_EQ(app.InitInstance(kQuietStart), ViewerApp::StartResult::Declined);
    EXPECT_EQ(app.mainFrame(), nullptr);
}

}  // namespace
}  // namespace orvane
