// The clip player's engine on clips made by the real recorder, with a window that only
// counts what it is asked to show.
#include "frame_source.h"
#include "media/clip_player_engine.h"
#include "media/clip_recorder.h"
#include "support/event_loop.h"
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/temp_store.h"

#include <QDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::WaitUntil;

class CountingView final : public PlayerView {
  public:
    void ResetZoom() override { ++zoomResets; }
    void DrawHeader() override { ++headers; }
    void UpdatePositionText() override {
        engine->RefreshPosition();
        ++positions;
    }
    void UpdateSpeedText() override { ++speeds; }
    void EnableControls(std::int64_t frames, int rateIndex) override {
        controlFrames = frames;
        controlRate = rateIndex;
    }
    VideoSurface* surface() override { return nullptr; }

    ClipPlayerEngine* engine = nullptr;
    int zoomResets = 0;
    int headers = 0;
    int positions = 0;
    int speeds = 0;
    std::int64_t controlFrames = -1;
    int controlRate = -1;
};

class ClipPlayerEngineTest : public testing::Test {
  protected:
    void SetUp() override {
        view.engine = &engine;
        QDir().mkpath(folder);
    }

    // A clip of the given number of frames from the simulated site's encoder.
    ClipRecord Record(int frames) {
        auto store = KeyStore::OpenInMemory();
        auto encoder = sim::LiveEncoder::Create(sim::SimulatedCodec::Mpeg4, QSize(160, 120));
        std::vector<Block> packed;
        for (int i = 0; i < frames; ++i) {
            packed.push_back(*encoder->Encode(sim::TestPattern(0, i, QSize(160, 120))));
        }
        ClipRecorder recorder(store, {}, 3, *BitmapInfoHeader::Parse(packed[0]));
        recorder.SetClock([] { return QDateTime(QDate(2002, 12, 3), QTime(10, 15, 30)); });
        QString error;
        EXPECT_TRUE(recorder.StartRecording(folder, {}, error));
        for (const LiveFrame& frame : test::LiveFrames(packed)) {
            recorder.WriteFrame(frame);
        }
        ClipRecord clip{recorder.aviFileName(),
                        0,
                        3,
                        "Gate",
                        "2002/12/03",
                        "10:15",
                        "2002/12/03",
                        "10:17",
                        recorder.imageFileName(),
                        folder};
        recorder.StopRecording();
        return clip;
    }

    test::TempStore temp;
    QString folder = QString::fromStdString(temp.folder()) + "/clips/";
    CountingView view;
    ClipPlayerEngine engine{view};
};

TEST_F(ClipPlayerEngineTest, OpeningAClipShowsItsTextsAndPlaysIt) {
    const ClipRecord clip = Record(24);
    ASSERT_TRUE(engine.OpenClip(clip));
    EXPECT_EQ(engine.titleLine(), "0003 Gate");
    EXPECT_EQ(engine.startText(), "Start:2002/12/03[10:15]");
    EXPECT_EQ(engine.endText(), "Ending:2002/12/03[10:17]");
    const qint64 kilobytes = QFileInfo(folder + clip.fileName).size() / 1024;
    EXPECT_EQ(engine.windowTitle(),
              clip.fileName + " " + QString::asprintf("%8d", static_cast<int>(kilobytes)) + "K");
    EXPECT_EQ(engine.state(), PlayerState::Playing);
    EXPECT_TRUE(engine.timerActive());
    EXPECT_EQ(engine.durationFrames(), 24);
    EXPECT_DOUBLE_EQ(engine.averageTimePerFrame(), 0.5);  // the clips' nominal 2 per second
    EXPECT_EQ(view.controlFrames, 24);
    EXPECT_EQ(view.controlRate, 5);
    EXPECT_EQ(view.zoomResets, 1);
}

TEST_F(ClipPlayerEngineTest, AClipThatCannotBeOpenedLeavesThePlayerClosed) {
    ClipRecord missing{"nothing.avi", 0, 3, "Gate", "", "", "", "", "", folder};
    test::ExpectedMessage why(QtWarningMsg, "orvane.media", "does not exist");
    EXPECT_FALSE(engine.OpenClip(missing));
    EXPECT_EQ(engine.state(), PlayerState::Closed);
    EXPECT_EQ(engine.windowTitle(), "nothing.avi        0K");
    engine.Play(true);  // nothing to play
    EXPECT_EQ(engine.state(), PlayerState::Closed);
}

TEST_F(ClipPlayerEngineTest, TheEndStopsTheClipAndTheNextPlayStartsAtTheFirstFrame) {
    ASSERT_TRUE(engine.OpenClip(Record(12)));
    engine.ApplyRate(engine.SetRateIndex(19));  // x50: six seconds of clip in a tenth
    ASSERT_TRUE(WaitUntil([&] { return engine.state() == PlayerState::Stopped; }, 8000));
    EXPECT_EQ(engine.currentFrame(), engine.durationFrames());
    EXPECT_FALSE(engine.timerActive());
    engine.Play(true);
    EXPECT_EQ(engine.state(), PlayerState::Playing);
    EXPECT_LT(engine.graph()->CurrentPosition(), 12);
}

TEST_F(ClipPlayerEngineTest, PositioningPausesAndStaysInsideTheClip) {
    ASSERT_TRUE(engine.OpenClip(Record(20)));
    engine.GoFirstFrame();
    EXPECT_EQ(engine.state(), PlayerState::Paused);
    EXPECT_FALSE(engine.timerActive());
    EXPECT_EQ(engine.currentFrame(), 0);
    engine.StepBack();
    EXPECT_EQ(engine.currentFrame(), 0);
    engine.StepForward();
    engine.StepForward();
    EXPECT_EQ(engine.currentFrame(), 2);
    engine.SeekToFrame(15);
    EXPECT_EQ(engine.currentFrame(), 15);
    engine.SeekToFrame(21);  // past the end: only paused
    EXPECT_EQ(engine.currentFrame(), 15);
    engine.GoLastFrame();
    EXPECT_EQ(engine.currentFrame(), 20);
    engine.StepForward();
    EXPECT_EQ(engine.currentFrame(), 20);
    engine.Play(true);  // from the end: back to the first frame first
    EXPECT_EQ(engine.state(), PlayerState::Playing);
}

TEST_F(ClipPlayerEngineTest, RatesComeFromTheTableAndRepeatedCommandsDoNothing) {
    EXPECT_DOUBLE_EQ(engine.SetRateIndex(-1), 1.0);
    EXPECT_EQ(engine.rateIndex(), 5);
    EXPECT_DOUBLE_EQ(engine.SetRateIndex(20), 1.0);
    EXPECT_DOUBLE_EQ(engine.SetRateIndex(0), 0.1);
    EXPECT_DOUBLE_EQ(engine.StepRate(false), 0.1);
    EXPECT_DOUBLE_EQ(engine.SetRateIndex(19), 50.0);
    EXPECT_DOUBLE_EQ(engine.StepRate(true), 50.0);
    EXPECT_STREQ(kRateTable[1].label, "/8");
    EXPECT_DOUBLE_EQ(kRateTable[1].rate, 0.2);

    engine.SetRateIndex(5);
    ASSERT_TRUE(engine.OpenClip(Record(10)));
    const int positions = view.positions;
    engine.Play(true);
    EXPECT_EQ(engine.state(), PlayerState::Playing);
    engine.Pause();
    engine.Pause();
    EXPECT_EQ(engine.state(), PlayerState::Paused);
    engine.Stop();
    engine.Stop();
    EXPECT_EQ(engine.state(), PlayerState::Stopped);
    EXPECT_EQ(view.positions, positions);
}

}  // namespace
}  // namespace orvane
