// The clip player's engine on clips made by the real recorder, in a window that shows nothing.
#include "frame_source.h"
#include "media/clip_player_engine.h"
#include "media/clip_recorder.h"
#include "support/event_loop.h"
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/sample_clips.h"
#include "support/temp_store.h"

#include <QFile>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace orvane {
namespace {

using test::WaitUntil;

struct BlankView final : PlayerView {
    void ResetZoom() override {}
    void DrawHeader() override {}
    void UpdatePositionText() override { engine->RefreshPosition(); }
    void UpdateSpeedText() override {}
    void EnableControls(std::int64_t, int) override {}
    void OpenFinished(bool opened) override { finished = opened ? 1 : 0; }
    void ClipUnreadable() override { ++unreadable; }
    VideoSurface* surface() override { return nullptr; }

    ClipPlayerEngine* engine = nullptr;
    int finished = -1;  // 1 opened, 0 failed
    int unreadable = 0;
};

class ClipPlayerEngineTest : public test::RecordingStoreTest {
  protected:
    void SetUp() override { view.engine = &engine; }

    // A clip of the given number of frames as the recorder lists it, its end moved on.
    ClipRecord Record(int frames) {
        RecordClip(test::EncodeFrames(sim::SimulatedCodec::Mpeg4, frames, {160, 120}));
        ClipRecord clip = Index().back();
        clip.endTime = "10:18";
        return clip;
    }

    // Opens the clip and waits until it plays.
    void Open(const ClipRecord& clip) {
        ASSERT_TRUE(engine.OpenClip(clip));
        ASSERT_TRUE(WaitUntil([&] { return engine.state() == PlayerState::Playing; }));
    }

    BlankView view;
    ClipPlayerEngine engine{view};
};

TEST_F(ClipPlayerEngineTest, OpeningAClipShowsItsTextsAndPlaysIt) {
    Open(Record(24));
    EXPECT_EQ(engine.titleLine(), "0003 Gate");
    EXPECT_EQ(engine.startText(), "Start:2002/12/03[10:16]");
    EXPECT_EQ(engine.endText(), "Ending:2002/12/03[10:18]");
    EXPECT_EQ(view.finished, 1);

    // A clip without frame times, 12 a second declared: times from its start at that rate.
    test::ExpectedMessage ffmpeg(QtWarningMsg, "orvane.media", "",
                                 test::ExpectedMessage::Occurrence::Optional);
    Open({"fc_lavafalls.avi", 0, 3, "Gate", "", "", "", "", "", test::MediaFolder() + "/"});
    EXPECT_NEAR(engine.averageTimePerFrame(), 1.0 / 12, 1e-6);
    EXPECT_NEAR(engine.durationSeconds(), 158.0 / 12, 1e-4);
    engine.SeekToFrame(3);
    EXPECT_NEAR(engine.currentSeconds(), 0.25, 1e-5);
    EXPECT_EQ(engine.currentUtcMicros(), engine.playback()->timeline().TimeOf(0) + 3 * 83'333);
}

// Rates outside the table fall back to x1 and steps stop at its ends; every positioning
// pauses and stays inside the clip; repeated commands do nothing.
TEST_F(ClipPlayerEngineTest, RatesAndPositionsStayInsideTheTableAndTheClip) {
    EXPECT_DOUBLE_EQ(engine.SetRateIndex(-1), 1.0);
    EXPECT_DOUBLE_EQ(engine.SetRateIndex(20), 1.0);
    EXPECT_DOUBLE_EQ(engine.SetRateIndex(0), 0.1);
    EXPECT_DOUBLE_EQ(engine.StepRate(false), 0.1);
    EXPECT_DOUBLE_EQ(engine.SetRateIndex(19), 50.0);
    EXPECT_DOUBLE_EQ(engine.StepRate(true), 50.0);
    engine.SetRateIndex(5);
    Open(Record(20));
    const std::pair<std::function<void()>, std::int64_t> steps[] = {
        {[&] { engine.GoFirstFrame(); }, 0},   {[&] { engine.StepBack(); }, 0},
        {[&] { engine.StepForward(); }, 1},    {[&] { engine.SeekToFrame(15); }, 15},
        {[&] { engine.SeekToFrame(21); }, 15},  // past the end: only paused
        {[&] { engine.SeekToFrame(20); }, 20},  // the end itself, as the slider's right stop
        {[&] { engine.GoFirstFrame(); }, 0},   {[&] { engine.GoLastFrame(); }, 20},
        {[&] { engine.StepForward(); }, 20}};
    for (const auto& [step, frame] : steps) {
        step();
        EXPECT_EQ(engine.state(), PlayerState::Paused);
        EXPECT_EQ(engine.currentFrame(), frame);
    }

    // By time: the last frame seen at or before the moment; before the first, nothing.
    const ClipTimeline& timeline = engine.playback()->timeline();
    for (const auto& [moment, frame] :
         {std::pair{timeline.TimeOf(7), 7}, std::pair{timeline.TimeOf(7) - 1, 6},
          std::pair{timeline.TimeOf(19) + 3'600'000'000, 19}, std::pair{timeline.TimeOf(0), 0}}) {
        EXPECT_TRUE(engine.GoToTime(moment));
        EXPECT_EQ(engine.currentFrame(), frame);
    }
    engine.StepForward();
    EXPECT_FALSE(engine.GoToTime(timeline.TimeOf(0) - 1));
    EXPECT_EQ(engine.currentFrame(), 1);

    engine.GoLastFrame();
    engine.Play();  // from the end: back to the first frame first
    EXPECT_EQ(engine.state(), PlayerState::Playing);
    EXPECT_EQ(engine.currentFrame(), 0);
    engine.Pause();
    engine.Pause();
    EXPECT_EQ(engine.state(), PlayerState::Paused);
    engine.Stop();
    engine.Stop();
    EXPECT_EQ(engine.state(), PlayerState::Stopped);
}

// The end stops the clip; a timer closes the player (as the title-bar close or the browser's
// Delete would) should it ever fire inside the player's own work.
TEST_F(ClipPlayerEngineTest, TheEndStopsTheClipAndNoEventComesInsideThePlayersWork) {
    auto player = std::make_unique<ClipPlayerEngine>(view);
    view.engine = player.get();
    ASSERT_TRUE(player->OpenClip(Record(30)));
    player->ApplyRate(player->SetRateIndex(15));  // x10: a second and a half
    bool closedInside = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (player && QThread::currentThread()->loopLevel() > 0) {
            closedInside = true;
            player.reset();
        }
    });
    closer.start(1);
    WaitUntil([&] { return !player || player->state() == PlayerState::Stopped; }, 10000);
    ASSERT_FALSE(closedInside);
    EXPECT_EQ(player->currentFrame(), player->durationFrames());
}

// A clip cut short while it plays stops at the last frame read, and the window hears of it.
TEST_F(ClipPlayerEngineTest, AClipCutShortWhilePlayingStopsAndIsTold) {
    const ClipRecord clip = Record(200);
    Open(clip);
    engine.Pause();
    QFile file(clip.path + clip.fileName);
    ASSERT_TRUE(file.resize(file.size() / 2));
    test::ExpectedMessage unreadable(QtWarningMsg, "orvane.media", "cannot read frame");
    engine.ApplyRate(engine.SetRateIndex(19));
    engine.Play();
    ASSERT_TRUE(WaitUntil([&] { return view.unreadable > 0; }, 10000));
    EXPECT_EQ(view.unreadable, 1);
    EXPECT_EQ(engine.state(), PlayerState::Stopped);
    EXPECT_LT(engine.currentFrame(), engine.durationFrames());
}

}  // namespace
}  // namespace orvane
