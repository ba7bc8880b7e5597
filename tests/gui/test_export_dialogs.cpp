// "Export..." from the player and the clip browser: the questions (scripted), the export on
// its worker, the file replaced only when the operator agreed, and the result told.
#include "playback/clip_player_window.h"
#include "playback/export_dialog.h"
#include "shared/command_ids.h"
#include "support/event_loop.h"
#include "support/independent_readers.h"
#include "support/sample_clips.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using sim::SimulatedCodec;

class ExportDialogsTest : public testing::Test {
  protected:
    void SetUp() override {
        ExportDialogs::chooseRange = [this](QWidget*, const ExportRangeQuestion&, auto answer) {
            answer(range);
        };
        ExportDialogs::chooseTarget = [this](QWidget*, const QString&, auto answer) {
            answer(target);
        };
        ExportRun::finished = [this](const std::vector<ExportResult>& done) { results = done; };
    }
    void TearDown() override {
        ExportDialogs::chooseRange = saved.first;
        ExportDialogs::chooseTarget = saved.second;
        ExportRun::finished = nullptr;
    }

    ClipRecord Clip(int channel, const QString& location, QTime start = QTime(9, 26, 53)) {
        test::SampleClip sample;
        sample.channel = channel;
        sample.start = QDateTime(QDate(2026, 3, 14), start);
        const QString path = test::WriteSampleClip(folder, sample);
        const QString day = "2026/03/14";
        const QString at = start.toString("hh:mm");
        return {
            QFileInfo(path).fileName(), 0, channel, location, day, at, day, at, "", folder + "/"};
    }
    bool Running() const { return !qApp->findChildren<ExportRun*>().isEmpty(); }
    bool WaitForResults() {
        return test::WaitUntil([this] { return !results.empty() && !Running(); }, 60000);
    }

    std::pair<ExportDialogs::RangeChooser, ExportDialogs::TargetChooser> saved{
        ExportDialogs::chooseRange, ExportDialogs::chooseTarget};
    test::TempStore temp;
    QString folder = QString::fromStdString(temp.folder());
    test::ScriptedPrompts prompts;
    QWidget owner;
    std::optional<ExportRangeAnswer> range = ExportRangeAnswer{};
    QString target = folder + "/gate.mp4";
    std::vector<ExportResult> results;
};

// The whole clip, then from the frame on screen on: each told with its file, frame count and
// manifest; the second time only because the operator agreed to replace the first.
TEST_F(ExportDialogsTest, PlayerExportsTheClipOrFromTheCurrentFrame) {
    QPointer<ClipPlayerWindow> player = ClipPlayerWindow::Open(Clip(1, "Gate"), &owner);
    ASSERT_TRUE(player);
    ASSERT_TRUE(test::WaitUntil([&] { return player->engine().isOpen(); }));
    player->engine().Pause();
    player->RunCommand(cmd::kPlayerExport);
    ASSERT_TRUE(WaitForResults());
    ASSERT_TRUE(results.front().done()) << results.front().error.toStdString();
    EXPECT_EQ(results.front().manifest.frames, 50);
    EXPECT_EQ(results.front().manifest.channel, "Gate");
    EXPECT_EQ(prompts.texts().last(),
              exporttext::Done(target, 50, target + ExportManifest::kSuffix));

    player->engine().SeekToFrame(30);
    range = ExportRangeAnswer{false, {}, QDateTime(QDate(2030, 1, 1), QTime(0, 0))};
    results.clear();
    prompts.Queue(PromptAnswer::No);
    player->RunCommand(cmd::kPlayerExport);
    EXPECT_EQ(prompts.texts().last(), exporttext::ReplaceQuestion(target));
    EXPECT_FALSE(Running());

    prompts.Queue(PromptAnswer::Yes);
    player->RunCommand(cmd::kPlayerExport);
    ASSERT_TRUE(WaitForResults());
    // From the key frame before frame 30 (one every 12) to the end.
    EXPECT_EQ(results.front().manifest.frames, 50 - 24);
    EXPECT_EQ(test::ProbeVideo(target.toStdString()).packetKeys.size(), 26u);
}

// For each channel the clips between two times, one file per channel, the first named as
// chosen and the others after their channel; a time that holds no clip is told.
TEST_F(ExportDialogsTest, BrowserExportsEachChannelBetweenTwoTimes) {
    const ClipRecord gate = Clip(1, "Gate");
    const ClipRecord later = Clip(1, "Gate", QTime(9, 40, 0));
    const ClipRecord yard = Clip(2, "Yard");
    range = ExportRangeAnswer{false, QDateTime(QDate(2026, 3, 14), QTime(9, 0)),
                              QDateTime(QDate(2026, 3, 14), QTime(9, 30))};
    ExportFromBrowser(&owner, {}, {{gate, later}, {yard}});
    ASSERT_TRUE(WaitForResults());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].file, target);
    EXPECT_EQ(results[0].manifest.sources.size(), 1u);
    EXPECT_EQ(results[1].file, folder + "/gate-0002.mp4");
    EXPECT_EQ(results[1].manifest.channel, "Yard");

    range = ExportRangeAnswer{false, QDateTime(QDate(2026, 3, 15), QTime(9, 0)),
                              QDateTime(QDate(2026, 3, 15), QTime(9, 30))};
    ExportFromBrowser(&owner, {}, {{gate, later}, {yard}});
    EXPECT_EQ(prompts.texts().last(), exporttext::kNoClipsBetween);

    results.clear();
    range = ExportRangeAnswer{};
    target = folder + "/both.mp4";
    ExportFromBrowser(&owner, {later, gate}, {});
    ASSERT_TRUE(WaitForResults());
    EXPECT_EQ(results.front().manifest.frames, 100);
    EXPECT_EQ(results.front().manifest.sources.front().path, folder + "/" + gate.fileName);
}

}  // namespace
}  // namespace orvane
