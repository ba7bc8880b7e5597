// The player window around the engine: its fixed geometry at every zoom step, its texts, its
// commands, a clip that cannot be opened, and "Export..." from the player and the browser.
#include "playback/clip_player_window.h"
#include "playback/export_dialog.h"
#include "playback/go_to_time_dialog.h"
#include "playback/player_control_bar.h"
#include "shared/command_ids.h"
#include "shared/message_box_placement.h"
#include "support/event_loop.h"
#include "support/file_gate.h"
#include "support/sample_clips.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"
#include "video/snapshot_window.h"

#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>
#include <QSlider>
#include <QToolBar>
#include <QWindow>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <thread>

namespace orvane {
namespace {

using test::WaitUntil;

// The range question answers once: the whole clip, the part with the times as typed (its start
// greyed until the part is chosen, and hidden when the part starts at a fixed frame), or nothing.
TEST(ExportRangeDialog, AnswersTheChoiceAndTheTimesOrNothing) {
    QWidget owner;
    owner.show();
    const QDateTime start(QDate(2026, 3, 1), QTime(10, 0));
    for (const bool partHasStart : {true, false}) {
        for (const int button : {0, 1, 2}) {  // whole, part, Cancel
            SCOPED_TRACE(testing::Message() << partHasStart << button);
            std::vector<std::optional<ExportRangeAnswer>> answers;
            ExportDialogs::chooseRange(&owner,
                                       {"Whole", "Part", partHasStart, start, start.addSecs(60)},
                                       [&](auto answer) { answers.push_back(answer); });
            auto* dialog = owner.findChild<QDialog*>();
            ASSERT_NE(dialog, nullptr);
            const auto edits = dialog->findChildren<QDateTimeEdit*>();
            ASSERT_EQ(edits.size(), 2);
            EXPECT_FALSE(edits[0]->isEnabled());
            EXPECT_EQ(edits[0]->isVisibleTo(dialog), partHasStart);
            if (button == 1) {
                dialog->findChildren<QRadioButton*>()[1]->setChecked(true);
                EXPECT_TRUE(edits[1]->isEnabled());
                edits[1]->setDateTime(start.addSecs(30));
            }
            button == 2 ? dialog->reject() : dialog->accept();
            ASSERT_EQ(answers.size(), 1u);
            ASSERT_EQ(answers[0].has_value(), button != 2);
            if (button == 1) {
                EXPECT_FALSE(answers[0]->whole);
                EXPECT_EQ(answers[0]->end, start.addSecs(30));
            } else if (button == 0) {
                EXPECT_TRUE(answers[0]->whole);
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
}

// Players of recorded clips and of sample clips (50 frames, a key frame every 12), with the
// export's questions answered by the test.
class ClipPlayerWindowTest : public test::RecordingStoreTest {
  protected:
    ClipPlayerWindowTest() {
        ExportDialogs::chooseRange = [this](auto&&, auto&&, auto answer) { answer(range); };
        ExportDialogs::chooseTarget = [this](auto&&, auto&&, auto answer) { answer(target); };
        ExportRun::finished = [this](const std::vector<ExportResult>& done) { results = done; };
    }
    ~ClipPlayerWindowTest() override {
        ExportDialogs::chooseRange = saved.first;
        ExportDialogs::chooseTarget = saved.second;
        ExportRun::finished = nullptr;
    }

    ClipRecord Record(int frames) {
        RecordClip(test::EncodeFrames(sim::SimulatedCodec::Mpeg4, frames, {320, 240}));
        return Index().back();
    }
    ClipRecord Sample(int channel, const QString& location, QTime start = QTime(9, 26, 53)) {
        const QString path = test::WriteSampleClip(
            folder_, {.start = QDateTime(QDate(2026, 3, 14), start), .channel = channel});
        const QString day = "2026/03/14";
        const QString at = start.toString("hh:mm");
        return {QFileInfo(path).fileName(), 0, channel, location, day, at, day, at, "", folder_};
    }
    bool Running() const { return !qApp->findChildren<ExportRun*>().isEmpty(); }
    bool WaitForResults() {
        return WaitUntil([this] { return !results.empty() && !Running(); }, 60000);
    }

    test::ScriptedPrompts prompts;
    QWidget owner;
    std::pair<ExportDialogs::RangeChooser, ExportDialogs::TargetChooser> saved{
        ExportDialogs::chooseRange, ExportDialogs::chooseTarget};
    std::optional<ExportRangeAnswer> range = ExportRangeAnswer{};
    QString target = folder_ + "gate.mp4";
    std::vector<ExportResult> results;
};

// A dialog-type window over its owner, as snapshots are: kept in front of the main window. It
// shows where the clip is; "Go to time", the speed slider, the zoom and the snapshot act on it.
TEST_F(ClipPlayerWindowTest, ThePlayerShowsItsClipAndItsPosition) {
    owner.show();
    QPointer<ClipPlayerWindow> player = ClipPlayerWindow::Open(Record(10), &owner);
    ASSERT_TRUE(player);
    ASSERT_TRUE(WaitUntil([&] { return player->controlBar()->isEnabled(); }));
    EXPECT_EQ(player->windowType(), Qt::Dialog);
    EXPECT_EQ(player->windowHandle()->transientParent(), owner.windowHandle());

    // The counts, then when the frame on show was seen; the window never cuts the line off.
    const ClipTimeline& timeline = player->engine().playback()->timeline();
    const auto seen = [&](int frame) {
        return FrameTimeText(timeline.TimeOf(frame), timeline.utcOffsetSeconds());
    };
    player->RunCommand(cmd::kPlayerLastFrame);
    EXPECT_EQ(player->controlBar()->positionSlider()->value(), 10);
    player->RunCommand(cmd::kPlayerFirstFrame);
    player->RunCommand(cmd::kPlayerForward);
    EXPECT_EQ(player->statusText(), "Total: 1/10 Frame  --   0.5/5.0 Sec  --   " + seen(1));
    EXPECT_LE(player->fontMetrics().horizontalAdvance(player->statusText()), player->width());
    EXPECT_TRUE(WaitUntil([&] { return !player->shownPicture().isNull(); }));

    // "Go to time" starts at the frame on screen, reaches over the clip, and the time shown
    // for a frame (its microseconds dropped) finds that frame.
    player->RunCommand(cmd::kPlayerGoToTime);
    auto* dialog = player->findChild<GoToTimeDialog*>();
    ASSERT_TRUE(dialog);
    QDateTimeEdit* edit = dialog->editor();
    EXPECT_EQ(edit->text(), seen(1));
    const QString format = "yyyy-MM-dd HH:mm:ss.zzz";
    EXPECT_EQ(edit->minimumDateTime().toString(format) + edit->maximumDateTime().toString(format),
              seen(0) + seen(9));
    edit->setDateTime(edit->dateTime().addMSecs(3 * 500));
    dialog->accept();
    EXPECT_EQ(player->engine().currentFrame(), 4);

    // A click in the speed slider's channel moves one row, and the thumb follows the rate.
    QSlider* speed = player->controlBar()->speedSlider();
    speed->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(player->engine().rateIndex(), 6);
    EXPECT_EQ(player->controlBar()->rateLabel()->text(), "x1.5");

    // Each zoom step sizes the window around the video (centred, one pixel left of the middle,
    // below the two header lines), the bars and the status line; the bars' width is the least.
    const int bars = player->toolBar()->sizeHint().height() + player->controlBar()->height();
    const int barWidth = player->minimumClientWidth();
    ASSERT_GT(barWidth, kZoomSizeTable[0].width());
    for (int step = 0; step < 6; ++step) {
        player->RunCommand(cmd::kPlayerDecrease);
    }
    for (int zoom = 0; zoom < 5; ++zoom) {
        SCOPED_TRACE(zoom);
        const QSize video = kZoomSizeTable[static_cast<std::size_t>(zoom)];
        const int width = std::max(video.width(), barWidth);
        EXPECT_EQ(player->size(), QSize(width, video.height() + bars + 3 * player->lineHeight()));
        EXPECT_EQ(player->videoRect(),
                  QRect((width - video.width()) / 2 - 1, 2 * player->lineHeight(), video.width(),
                        video.height()));
        player->RunCommand(cmd::kPlayerIncrease);
    }

    // A snapshot of a playing clip pauses it and saves the frame on show.
    const QString path = QString::fromStdString(temp_.File("frame.bmp"));
    const auto previous = SnapshotWindow::chooseSaveFile;
    SnapshotWindow::chooseSaveFile = [&](QWidget*) { return path; };
    player->engine().Play();
    player->RunCommand(cmd::kPlayerSnapshot);
    SnapshotWindow::chooseSaveFile = previous;
    EXPECT_EQ(player->engine().state(), PlayerState::Paused);
    EXPECT_EQ(QFileInfo(path).size(), 54 + 320 * 240 * 3);
    player->close();
}

TEST_F(ClipPlayerWindowTest, AClipThatCannotBeOpenedIsToldOverItsOwnWindowWhichCloses) {
    owner.setGeometry(0, 0, 200, 150);
    owner.show();
    QPointer<ClipPlayerWindow> healthy = ClipPlayerWindow::Open(Record(8), &owner);
    QPointer<ClipPlayerWindow> player =
        ClipPlayerWindow::Open({"gone.avi", 0, 7, "Yard", "", "", "", "", "", folder_}, &owner);
    ASSERT_TRUE(healthy && player);
    // Placed by the program beside the list, a step apart: where the box is centred is where
    // the window is.
    const QRect failing = player->frameGeometry();
    EXPECT_FALSE(healthy->frameGeometry().intersects(owner.frameGeometry()));
    EXPECT_EQ(failing.topLeft() - healthy->frameGeometry().topLeft(), QPoint(24, 24));
    ASSERT_TRUE(WaitUntil([&] { return prompts.texts().size() == 1; }));
    EXPECT_EQ(prompts.texts()[0], "\n\n Open file error! \n\n");
    EXPECT_EQ(prompts.parents()[0], player);
    const QSize box(240, 120);
    EXPECT_EQ(QRect(MessageBoxTopLeft(*player, box), box).center(), failing.center());
    EXPECT_TRUE(WaitUntil([&] { return player.isNull() || !player->isVisible(); }));
    healthy->close();
}

TEST_F(ClipPlayerWindowTest, ClosingDoesNotWaitForAnOpenThatDoesNotReturn) {
    // A pipe nobody writes to: opening it waits, as a file on a share that stopped answering.
    const QByteArray stalled = QFile::encodeName(folder_ + "stalled.avi");
    ASSERT_EQ(mkfifo(stalled.constData(), 0600), 0);
    std::promise<void> closed;
    bool closedFirst = false;
    // Lets the open go on (to fail: the file is gone) once the window is closed, or after
    // FileGate's longest hold, so a close that waits fails instead of hanging.
    std::thread release([&, closing = closed.get_future()] {
        const auto hold = std::chrono::milliseconds(test::FileGate::kLongestHoldMs);
        closedFirst = closing.wait_for(hold) == std::future_status::ready;
        const int fd = ::open(stalled.constData(), O_RDWR);
        ::unlink(stalled.constData());
        ::close(fd);
    });
    QPointer<ClipPlayerWindow> player =
        ClipPlayerWindow::Open({"stalled.avi", 0, 7, "Yard", "", "", "", "", "", folder_}, &owner);
    ASSERT_TRUE(player);
    player->close();
    closed.set_value();
    release.join();
    EXPECT_TRUE(closedFirst);
    // The worker left behind finishes and frees itself.
    EXPECT_TRUE(WaitUntil([] { return ClipPlayback::workersRunning() == 0; }));
}

// From the player the whole clip, then from the frame on screen on (from the key frame before
// it, one every 12), the second time only once the operator agreed to replace the first file.
TEST_F(ClipPlayerWindowTest, PlayerExportsTheClipOrFromTheCurrentFrame) {
    QPointer<ClipPlayerWindow> player = ClipPlayerWindow::Open(Sample(1, "Gate"), &owner);
    ASSERT_TRUE(player);
    ASSERT_TRUE(WaitUntil([&] { return player->engine().isOpen(); }));
    player->RunCommand(cmd::kPlayerExport);
    ASSERT_TRUE(WaitForResults());
    EXPECT_EQ(prompts.texts().last(),
              exporttext::Done(target, 50, target + ExportManifest::kSuffix));

    player->engine().SeekToFrame(30);
    range = ExportRangeAnswer{false, {}, QDateTime(QDate(2030, 1, 1), QTime(0, 0))};
    results.clear();
    prompts.Queue(PromptAnswer::No);
    player->RunCommand(cmd::kPlayerExport);
    EXPECT_EQ(prompts.texts().last(), exporttext::ReplaceQuestion(target));
    EXPECT_FALSE(Running());
    player->RunCommand(cmd::kPlayerExport);  // answered Yes
    ASSERT_TRUE(WaitForResults());
    EXPECT_EQ(results.front().manifest.frames, 50 - 24);
}

// For each channel the clips between two times, one file per channel, the first named as
// chosen and the others after their channel; a time that holds no clip is told.
TEST_F(ClipPlayerWindowTest, BrowserExportsEachChannelBetweenTwoTimes) {
    const ClipRecord gate = Sample(1, "Gate");
    const ClipRecord later = Sample(1, "Gate", QTime(9, 40, 0));
    const ClipRecord yard = Sample(2, "Yard");
    range = ExportRangeAnswer{false, QDateTime(QDate(2026, 3, 14), QTime(9, 0)),
                              QDateTime(QDate(2026, 3, 14), QTime(9, 30))};
    ExportFromBrowser(&owner, {}, {{gate, later}, {yard}});
    ASSERT_TRUE(WaitForResults());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].file, target);
    EXPECT_EQ(results[0].manifest.sources.size(), 1u);
    EXPECT_EQ(results[1].file, folder_ + "gate-0002.mp4");
    EXPECT_EQ(results[1].manifest.channel, "Yard");

    range = ExportRangeAnswer{false, QDateTime(QDate(2026, 3, 15), QTime(9, 0)),
                              QDateTime(QDate(2026, 3, 15), QTime(9, 30))};
    ExportFromBrowser(&owner, {}, {{gate, later}, {yard}});
    EXPECT_EQ(prompts.texts().last(), exporttext::kNoClipsBetween);

    results.clear();
    range = ExportRangeAnswer{};
    target = folder_ + "both.mp4";
    ExportFromBrowser(&owner, {later, gate}, {});
    ASSERT_TRUE(WaitForResults());
    EXPECT_EQ(results.front().manifest.frames, 100);
    EXPECT_EQ(results.front().manifest.sources.front().path, folder_ + gate.fileName);
}

}  // namespace
}  // namespace orvane
