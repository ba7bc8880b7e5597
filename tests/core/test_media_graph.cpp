#include "frame_source.h"
#include "media/avi_writer.h"
#include "media/clip_packets.h"
#include "media/clip_playback.h"
#include "media/decoder_registry.h"
#include "media/media_graph.h"
#include "media/playback_clock.h"
#include "media/video_decoder.h"
#include "support/event_loop.h"
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/sample_clips.h"
#include "support/scoped_env.h"
#include "support/temp_store.h"

#include <QFile>

#include <gtest/gtest.h>

#include <limits>
#include <optional>

namespace orvane {
namespace {

// MPEG-4 with a key frame every 50 frames (more than a site sends): seeks decode from far.
std::vector<Block> EncodeLongGop(int count, int gop = 50) {
    return test::EncodeFrames(sim::SimulatedCodec::Mpeg4, count, {160, 120}, gop, 2);
}

// Each frame's picture as a plain sequential reader shows it, through the program's decoder.
std::vector<QImage> DecodeSequentially(const QString& path) {
    QString error;
    const auto source = sim::AviPacketSource::Load(path, error);
    EXPECT_TRUE(source) << error.toStdString();
    return source ? test::DecodeInOrder(source->frames()) : std::vector<QImage>{};
}

struct RecordingSurface final : VideoSurface {
    void Present(const QImage& picture) override {
        ++presented;
        last = picture;
    }
    int presented = 0;
    QImage last;
};

class MediaGraphTest : public test::RecordingStoreTest {
  protected:
    std::unique_ptr<MediaGraph> Render(const QString& path) {
        QString error;
        auto graph = MediaGraph::RenderFile(path, error);
        EXPECT_TRUE(graph) << error.toStdString();
        return graph;
    }

    // Every picture the graph shows for these frames is exactly the sequential one.
    static void ExpectFrames(MediaGraph& graph, const std::vector<QImage>& reference,
                             std::initializer_list<std::int64_t> frames) {
        for (const std::int64_t frame : frames) {
            ASSERT_TRUE(graph.SetPositions(frame)) << frame;
            EXPECT_EQ(graph.CurrentPosition(), frame);
            const auto shown = std::min<std::size_t>(std::size_t(frame), reference.size() - 1);
            EXPECT_EQ(test::MeanDifference(graph.currentPicture(), reference[shown]), 0.0)
                << "frame " << frame;
        }
    }
};

TEST_F(MediaGraphTest, FilesThatCannotBePlayedAreRefusedWithAReason) {
    test::ExpectedMessage refused(QtWarningMsg, "orvane.media", "",
                                  test::ExpectedMessage::Occurrence::Optional);
    QString error;
    const QString empty = folder_ + "empty.avi";  // headers complete, no frame anywhere
    const BitmapInfoHeader format = *BitmapInfoHeader::Parse(EncodeLongGop(1).front());
    auto writer =
        AviWriter::Create(empty, AviVideoStream::For(format, format.Bytes()), true, error);
    ASSERT_TRUE(writer && writer->Close());
    const std::string clip = test::ReadFileBytes(RecordClip(EncodeLongGop(10)).toStdString());
    test::WriteFileBytes(File("notes.avi"), std::string(4000, 'x'));
    test::WriteFileBytes(File("cut.avi"), clip.substr(0, 200));  // before the stream list ends
    for (const auto& [path, why] :
         {std::pair{folder_ + "missing.avi", "does not exist"},
          std::pair{folder_ + "notes.avi", "not an AVI"}, std::pair{folder_ + "cut.avi", ""},
          std::pair{empty, "no video frames"}}) {
        error.clear();
        EXPECT_FALSE(MediaGraph::RenderFile(path, error)) << path.toStdString();
        EXPECT_TRUE(!error.isEmpty() && error.contains(why)) << error.toStdString();
    }
}

TEST_F(MediaGraphTest, SeeksAndStepsShowExactlyTheSequentialPictureAcrossKeyFrames) {
    const QString path = RecordClip(EncodeLongGop(130));
    const auto reference = DecodeSequentially(path);
    ASSERT_EQ(reference.size(), 130u);
    auto graph = Render(path);
    ASSERT_TRUE(graph);
    ASSERT_EQ(graph->Duration(), 130);
    EXPECT_EQ(test::MeanDifference(graph->currentPicture(), reference[0]), 0.0);
    EXPECT_EQ(graph->GetCurrentImage(), ToPackedDib24(graph->currentPicture()));  // snapshots
    // Key frames at 0, 50 and 100: both sides of each, forwards and backwards, and the end;
    // one past the last frame shows the last frame.
    ExpectFrames(*graph, reference, {49, 50, 51, 99, 100, 101, 129, 75, 3, 0, 120, 60, 61, 130});

    // One frame at a time back into the group before, and forwards again across the key frame.
    for (std::int64_t frame = 111; frame >= 35; --frame) {
        ExpectFrames(*graph, reference, {frame});
    }
    for (std::int64_t frame = 36; frame <= 60; ++frame) {
        ExpectFrames(*graph, reference, {frame});
    }

    EXPECT_FALSE(graph->SetPositions(-1) || graph->SetPositions(131));
    EXPECT_EQ(graph->CurrentPosition(), 60);
}

TEST_F(MediaGraphTest, SeeksOnSamplesOfOtherCodecsMatchTheSequentialPictures) {
    test::ExpectedMessage ffmpeg(QtWarningMsg, "orvane.media", "",
                                 test::ExpectedMessage::Occurrence::Optional);
    for (const auto& [name, frames] :
         {std::pair{"iv50_320x240_x10.avi", 10}, std::pair{"fc_lavafalls.avi", 158},
          std::pair{"fc_bear_mpeg4asp_mp3.avi", 30}}) {
        SCOPED_TRACE(name);
        auto graph = Render(test::MediaSample(name));
        ASSERT_TRUE(graph);
        EXPECT_EQ(graph->Duration(), frames);
        const auto reference = DecodeSequentially(test::MediaSample(name));
        ASSERT_EQ(int(reference.size()), frames);
        ExpectFrames(*graph, reference, {frames - 1, frames / 2, frames / 2 - 1, 0, 1, frames - 1});
    }
    // A header without the picture size (5 x 3 here): the size comes from the frames.
    auto mjpeg = Render(test::MediaSample("fc_mjpeg.avi"));
    ASSERT_TRUE(mjpeg);
    EXPECT_EQ(mjpeg->videoSize(), QSize(5, 3));
    ASSERT_TRUE(mjpeg->SetPositions(2));
    EXPECT_EQ(mjpeg->currentPicture().size(), QSize(5, 3));
}

// Killed after a commit, a recording has no final index: every complete frame is still shown.
TEST_F(MediaGraphTest, AClipCutOffWithoutItsFinalIndexKeepsEveryCompleteFrame) {
    const auto frames = EncodeLongGop(40, 12);
    const QString path = folder_ + "growing.avi";
    const QString copy = folder_ + "cut.avi";
    const QString early = folder_ + "early.avi";  // killed before its first index
    const BitmapInfoHeader format = *BitmapInfoHeader::Parse(frames.front());  // as recorded
    QString error;
    auto writer = AviWriter::Create(path, AviVideoStream::For(format, format.Bytes()), true, error);
    ASSERT_TRUE(writer) << error.toStdString();
    for (int i = 0; i < 40; ++i) {
        const auto packed = ParsePackedFrame(frames[std::size_t(i)]);
        ASSERT_TRUE(writer->WriteSample(packed->imageData, i % 12 == 0));
        if (i == 17 || i == 33) {
            ASSERT_TRUE(writer->Commit());
        }
        if (i == 14) {
            ASSERT_TRUE(QFile::copy(path, early));
        }
    }
    ASSERT_TRUE(QFile::copy(path, copy));
    writer.reset();

    auto graph = Render(copy);
    ASSERT_TRUE(graph);
    EXPECT_EQ(graph->Duration(), 40);
    const auto reference = DecodeSequentially(RecordClip(frames));
    ExpectFrames(*graph, reference, {39, 36, 35, 33, 25, 24, 40});
    auto unindexed = Render(early);
    ASSERT_TRUE(unindexed);
    EXPECT_EQ(unindexed->Duration(), 15);
    ExpectFrames(*unindexed, reference, {0, 14, 13, 12, 5});

    // Cut inside the last sample: that one is left out, the others stay.
    const std::string bytes = test::ReadFileBytes(copy.toStdString());
    test::WriteFileBytes(File("shorter.avi"), bytes.substr(0, bytes.size() - 3));
    auto cut = Render(folder_ + "shorter.avi");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->Duration(), 39);
}

// A clip without frame times starts when its name says, in local time, at its declared rate.
TEST_F(MediaGraphTest, AClipWithoutFrameTimesStartsAtItsNameInLocalTime) {
    std::optional<test::ScopedEnv> zone(std::in_place, "TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    QString error;
    const auto clip = ClipPackets::Open(test::WriteSampleClip(folder_, {.frames = 5}), error);
    ASSERT_TRUE(clip) << error.toStdString();
    const ClipTimeline& timeline = clip->timeline();
    EXPECT_EQ(timeline.recordedCount(), 0);
    EXPECT_EQ(timeline.utcOffsetSeconds(), 3600);
    for (const auto& [frame, text] :
         {std::pair{0, "2026-03-14 09:26:53.000"}, {4, "2026-03-14 09:26:53.160"}}) {
        EXPECT_EQ(FrameTimeText(timeline.TimeOf(frame), 3600).toStdString(), text);
    }
    zone.reset();
    tzset();
}

// Playing: the worker decodes, the thread that plays hears of it from its event loop.
class ClipPlaybackTest : public MediaGraphTest {
  protected:
    std::unique_ptr<ClipPlayback> Open(const QString& path) {
        auto playback = std::make_unique<ClipPlayback>(path);
        EXPECT_FALSE(playback->Run());  // nothing to run before it is open
        EXPECT_TRUE(test::WaitUntil([&] { return playback->isOpen(); }));
        return playback;
    }
};

TEST_F(ClipPlaybackTest, PositionsChangeWithinTheCallAndPicturesFollowExactly) {
    const QString path = RecordClip(EncodeLongGop(60));
    const auto reference = DecodeSequentially(path);
    auto playback = Open(path);
    RecordingSurface surface;
    playback->SetSurface(&surface);
    EXPECT_EQ(surface.presented, 1);
    EXPECT_EQ(test::MeanDifference(surface.last, reference[0]), 0.0);
    EXPECT_EQ(playback->Duration(), 60);
    const auto shownExactly = [&] {
        const auto at = std::min<std::size_t>(std::size_t(playback->CurrentPosition()), 59);
        return test::MeanDifference(playback->currentPicture(), reference[at]) == 0.0;
    };
    // Seeks stand at their frame at once; the picture that follows is the sequential one.
    for (const std::int64_t frame : {30, 10, 59, 60, 49}) {
        ASSERT_TRUE(playback->SetPositions(frame));
        EXPECT_EQ(playback->CurrentPosition(), frame);
        EXPECT_TRUE(test::WaitUntil(shownExactly)) << frame;
    }
    ASSERT_TRUE(playback->SetPositions(10) && playback->SetRate(10));
    playback->Run();
    ASSERT_TRUE(test::WaitUntil([&] { return playback->CurrentPosition() >= 14; }));
    playback->Pause();
    EXPECT_TRUE(test::WaitUntil(shownExactly)) << playback->CurrentPosition();
    EXPECT_EQ(surface.last, playback->currentPicture());

    EXPECT_FALSE(playback->SetPositions(-1) || playback->SetPositions(61));
    for (const double rate : {0.0, 0.099, 50.01, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_FALSE(playback->SetRate(rate)) << rate;
    }
    EXPECT_TRUE(playback->SetRate(0.1) && playback->SetRate(50));  // the table's ends
}

// A clip whose frames become unreadable part-way stops playing, or seeking, with a failure.
TEST_F(ClipPlaybackTest, AnUnreadableFrameWhilePlayingStopsItWithAFailure) {
    const QString path = RecordClip(EncodeLongGop(30));
    // The chunk of frame 20 no longer where the index says.
    std::string bytes = test::ReadFileBytes(path.toStdString());
    std::size_t at = bytes.find("movi");
    for (int i = 0; i <= 20; ++i) {
        at = bytes.find("00dc", at + 1);
        ASSERT_NE(at, std::string::npos);
    }
    bytes.replace(at, 4, "JUNK");
    test::WriteFileBytes(path.toStdString(), bytes);

    auto playback = Open(path);
    test::ExpectedMessage unreadable(QtWarningMsg, "orvane.media", "frame 20");
    int failures = 0;
    QObject::connect(playback.get(), &ClipPlayback::failed, [&] { ++failures; });
    ASSERT_TRUE(playback->SetRate(50));
    playback->Run();
    ASSERT_TRUE(test::WaitUntil([&] { return failures == 1; }));
    EXPECT_EQ(playback->CurrentPosition(), 19);
    // A seek past it goes nowhere: the position is the frame still on show.
    ASSERT_TRUE(playback->SetPositions(25));
    ASSERT_TRUE(test::WaitUntil([&] { return failures == 2; }));
    EXPECT_EQ(playback->CurrentPosition(), 19);
}

// x1 keeps the pace the frames arrived at: 7 frames 40 ms apart, nothing for 3 s, then 25 a
// second, with a burst of 4 that came together; the clock is driven by hand.
TEST(PlaybackClockTest, X1PlaysAtThePaceTheFramesArrived) {
    constexpr std::int64_t kMs = 1000;
    std::vector<std::optional<std::int64_t>> seen;
    for (const std::int64_t ms : {0, 40, 80, 120, 160, 200, 240, 3240, 3280, 3320, 3360, 3400, 3500,
                                  3500, 3500, 3500, 3520, 3560}) {
        seen.emplace_back(1'700'000'000'000 * kMs + ms * kMs);
    }
    const auto timeline = ClipTimeline::Build(std::int64_t(seen.size()), seen, 0, 0.5, 0);
    const PlaybackSchedule schedule(timeline, 0.5);
    std::int64_t now = 0;
    PlaybackClock clock(schedule, [&] { return now; });
    // Rate, the frame started from, the time since, the frame due then.
    const std::tuple<double, std::int64_t, std::int64_t, std::int64_t> dues[] = {
        {1, 0, 0, 0},     {1, 0, 239, 5},   {1, 0, 240, 6},
        {1, 0, 3239, 6},  {1, 0, 3240, 7},  {1, 0, 3280, 8},   // the 3 s gap is kept
        {1, 0, 3499, 11}, {1, 0, 3500, 12}, {1, 0, 3534, 12},  // the burst spreads over one
        {1, 0, 3535, 15}, {1, 0, 3554, 15}, {1, 0, 3555, 16},  // interval (35 ms, the mean of
        {1, 0, 3589, 16}, {1, 0, 3590, 17}, {1, 0, 3624, 17},  // the non-gaps) and no further;
        {1, 0, 3625, 18}, {2, 0, 1620, 7},  {0.5, 7, 79, 7},   // the end one interval after
        {0.5, 7, 80, 8},  {10, 6, 300, 7},                     // the last; 3 s of gap in 0.3 s
    };
    for (const auto& [rate, from, atMs, frame] : dues) {
        now = 0;
        clock.Start(from, rate);
        now = atMs * kMs;
        EXPECT_EQ(clock.DuePosition(), frame) << rate << " x from " << from << " at " << atMs;
    }
    // A worker waits exactly until the next frame is due.
    now = 0;
    clock.Start(6, 1);
    EXPECT_EQ(clock.MicrosUntil(7), 3000 * kMs);
    now = 2000 * kMs;
    EXPECT_EQ(clock.MicrosUntil(7), 1000 * kMs);
}

}  // namespace
}  // namespace orvane
