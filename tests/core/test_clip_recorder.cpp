#include "frame_source.h"
#include "media/clip_recorder.h"
#include "support/event_loop.h"
#include "support/file_gate.h"
#include "support/independent_readers.h"
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/sample_clips.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace orvane {
namespace {

using test::EncodeFrames;

BitmapInfoHeader FormatOf(const Block& frame) {
    return *BitmapInfoHeader::Parse(frame);
}

std::string Bytes(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class ClipRecorderTest : public test::RecordingStoreTest {};

TEST_F(ClipRecorderTest, ClipHoldsEveryFrameAsReceivedWithTheDesignedStreamHeader) {
    const auto frames = EncodeFrames(sim::SimulatedCodec::Mpeg4, 30);
    auto live = test::LiveFrames(frames);
    // Arrived every 40 ms, the last 290 µs late: a mean interval of 40,010 µs.
    for (std::size_t i = 0; i < live.size(); ++i) {
        live[i].arrivalSteadyMicros = static_cast<std::int64_t>(i) * 40'000 + (i == 29 ? 290 : 0);
        live[i].arrivalUtcMicros = 1'038'910'530'000'000 + live[i].arrivalSteadyMicros;
    }
    ASSERT_EQ(frames.size(), 30u);
    const BitmapInfoHeader format = FormatOf(frames[0]);
    auto recorder = MakeRecorder(format);
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error)) << error.toStdString();
    EXPECT_EQ(recorder->aviFileName(), "200212031015300003.avi");
    EXPECT_EQ(recorder->imageFileName(), "200212031015300003.img");

    // Listed from the first moment, ending where it started.
    auto listed = Index();
    ASSERT_TRUE(test::WaitUntil([&] {
        listed = Index();
        return listed.size() == 1 && listed[0].path == folder_;  // the entry's last value
    }));
    EXPECT_EQ(listed[0].endTime, "10:15");
    EXPECT_EQ(listed[0].location, "Gate");

    for (const LiveFrame& frame : live) {
        recorder->WriteFrame(frame);
    }
    now_ = now_.addSecs(125);
    recorder->StopRecording();
    EXPECT_FALSE(recorder->recording());

    const std::string avi = File("200212031015300003.avi");
    const auto riff = test::RiffFile::Load(avi);
    ASSERT_TRUE(riff);
    const test::RiffChunk* strh = riff->Find("strh");
    ASSERT_TRUE(strh);
    const std::uint64_t h = strh->offset + 8;
    EXPECT_EQ(riff->bytes().substr(h, 4), "vids");
    EXPECT_EQ(riff->U32(h + 4), format.biCompression);
    // The mean rate of the frames, in microseconds per frame.
    EXPECT_EQ(riff->U32(h + 20), 40'010u);     // scale
    EXPECT_EQ(riff->U32(h + 24), 1'000'000u);  // rate
    EXPECT_EQ(riff->U32(riff->Find("avih")->offset + 8), 40'010u);
    EXPECT_EQ(riff->U32(h + 32), 30u);  // length
    EXPECT_EQ(riff->U32(h + 36), format.biSizeImage);
    EXPECT_EQ(riff->U16(h + 52), format.biWidth);
    EXPECT_EQ(riff->U16(h + 54), format.biHeight);
    const test::RiffChunk* strf = riff->Find("strf");
    ASSERT_TRUE(strf);
    EXPECT_EQ(riff->Data(*strf), Bytes(format.Bytes()));

    // Each sample is exactly the frame's compressed bytes.
    const auto samples = riff->FindAll("00dc");
    ASSERT_EQ(samples.size(), 30u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(riff->Data(*samples[i]),
                  Bytes(std::span(frames[i]).subspan(BitmapInfoHeader::kSize)))
            << i;
    }
    EXPECT_EQ(test::ReadFileBytes(File("200212031015300003.img")), Bytes(frames[0]));

    // An independent reader names the codec; which samples it takes as key frames: below.
    EXPECT_EQ(test::ProbeVideo(avi).codecTag, FourccText(format.biCompression));

    listed = Index();
    ASSERT_EQ(listed.size(), 1u);
    const ClipRecord expected{"200212031015300003.avi",
                              0,
                              kChannel,
                              "Gate",
                              "2002/12/03",
                              "10:15",
                              "2002/12/03",
                              "10:17",
                              "200212031015300003.img",
                              folder_};
    EXPECT_EQ(listed[0], expected);
}

TEST_F(ClipRecorderTest, KeyFramesAreMarkedOnlyWhereAPlayerCanStart) {
    for (const auto codec :
         {sim::SimulatedCodec::Mpeg4, sim::SimulatedCodec::H264, sim::SimulatedCodec::MsMpeg4v3,
          sim::SimulatedCodec::Cinepak, sim::SimulatedCodec::Mjpeg}) {
        SCOPED_TRACE(sim::CodecName(codec).toStdString());
        const auto frames = test::LiveFrames(EncodeFrames(codec, 26));
        ASSERT_FALSE(frames.empty());
        auto recorder = MakeRecorder(frames[0].header);
        QString error;
        ASSERT_TRUE(recorder->StartRecording(folder_, {}, error));
        for (const LiveFrame& frame : frames) {
            recorder->WriteFrame(frame);
        }
        const std::string avi = recorder->aviFilePath().toStdString();
        recorder->StopRecording();
        const auto probed = test::ProbeVideo(avi, true);
        ASSERT_TRUE(probed.opened);
        ASSERT_EQ(probed.packetKeys.size(), frames.size());
        ASSERT_EQ(probed.frameTypes.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            // Cinepak's decoder names no picture types; the simulator starts a new group of
            // pictures every twelve frames.
            const bool intra =
                codec == sim::SimulatedCodec::Cinepak ? i % 12 == 0 : probed.frameTypes[i] == "I";
            EXPECT_EQ(probed.packetKeys[i], intra) << i;
        }
        EXPECT_TRUE(probed.packetKeys[0]);
        now_ = now_.addSecs(1);
    }
}

// Record pressed in the middle of a group of pictures: the clip starts with pictures that
// need earlier ones; the preview is the first picture that stands on its own.
TEST_F(ClipRecorderTest, APreviewIsAPictureThatDecodesOnItsOwn) {
    const auto frames = EncodeFrames(sim::SimulatedCodec::Mpeg4, 20);
    const auto live = test::LiveFrames(frames);
    auto recorder = MakeRecorder(FormatOf(frames[0]));
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error));
    for (std::size_t i = 5; i < live.size(); ++i) {
        recorder->WriteFrame(live[i]);
    }
    recorder->StopRecording();
    EXPECT_EQ(test::ReadFileBytes(File("200212031015300003.img")), Bytes(frames[12]));
    const auto probed = test::ProbeVideo(File("200212031015300003.avi"));
    ASSERT_EQ(probed.packetKeys.size(), 15u);
    EXPECT_FALSE(probed.packetKeys[0]);
    EXPECT_TRUE(probed.packetKeys[7]);
}

// A site may send uncompressed pictures top row first (a negative height). AVI readers take
// uncompressed samples bottom row first with a positive height: the clip holds exactly what
// the same pictures sent bottom up would have made.
TEST_F(ClipRecorderTest, TopDownPicturesAreRecordedBottomUp) {
    const auto bottomUp = EncodeFrames(sim::SimulatedCodec::Uncompressed, 3, {32, 24});
    std::vector<Block> topDown;
    for (const Block& frame : bottomUp) {
        topDown.push_back(test::TopDown(frame));
    }
    auto recorder = MakeRecorder(FormatOf(topDown[0]));
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error));
    for (const LiveFrame& frame : test::LiveFrames(topDown)) {
        recorder->WriteFrame(frame);
    }
    recorder->StopRecording();

    const auto riff = test::RiffFile::Load(File("200212031015300003.avi"));
    ASSERT_TRUE(riff);
    EXPECT_EQ(riff->U32(riff->Find("avih")->offset + 8 + 36), 24u);
    EXPECT_EQ(riff->U16(riff->Find("strh")->offset + 8 + 54), 24u);
    EXPECT_EQ(riff->Data(*riff->Find("strf")), Bytes(FormatOf(bottomUp[0]).Bytes()));
    const auto samples = riff->FindAll("00db");
    ASSERT_EQ(samples.size(), 3u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(riff->Data(*samples[i]),
                  Bytes(std::span(bottomUp[i]).subspan(BitmapInfoHeader::kSize)))
            << i;
    }
    // ffmpeg shows the pictures the right way up.
    QByteArray pictures;
    for (int i = 0; i < 3; ++i) {
        pictures += test::Rgb24Rows(sim::TestPattern(1, i, {32, 24}));
    }
    EXPECT_EQ(test::ReadBackWithFfmpeg(folder_ + "200212031015300003.avi"), pictures);
}

TEST_F(ClipRecorderTest, StartAndStopWithoutFramesGivesAnEmptyStreamAndAnEntry) {
    const auto frames = EncodeFrames(sim::SimulatedCodec::Mpeg4, 1);
    auto recorder = MakeRecorder(FormatOf(frames[0]));
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error));
    recorder->StopRecording();
    const auto probed = test::ProbeVideo(File("200212031015300003.avi"));
    EXPECT_TRUE(probed.opened);
    EXPECT_TRUE(probed.packetKeys.empty());
    EXPECT_EQ(probed.width, 320);
    EXPECT_FALSE(QFile::exists(folder_ + "200212031015300003.img"));
    EXPECT_EQ(Index().size(), 1u);
}

// A recording goes on in a new clip at the first key frame once the clip is full, by time
// or by size: every frame received is in one of the clips, in order, each clip starts with
// a key frame and its own preview and entry, and clips of one second get suffixes.
TEST_F(ClipRecorderTest, ARecordingGoesOnInANewClipAtTheKeyFrameAfterTheLimit) {
    const auto frames = EncodeFrames(sim::SimulatedCodec::Mpeg4, 60);
    const auto live = test::LiveFrames(frames);
    ASSERT_TRUE(live[0].keyFrame && live[12].keyFrame && !live[13].keyFrame);
    // Passed by the clip's thirteenth frame, so the clip goes on to the key frame after.
    std::uint64_t thirteenFrames = 0;
    for (std::size_t i = 0; i < 13; ++i) {
        thirteenFrames += live[i].image().size() + 8;
    }
    struct Row {
        ClipWriter::ClipLimits limits;
        std::vector<std::size_t> clipFrames;
    };
    for (const Row& row : {Row{{0, 1ull << 40}, {12, 12, 12, 12, 12}},
                           Row{{1ll << 40, thirteenFrames}, {24, 24, 12}}}) {
        SCOPED_TRACE(row.limits.ms);
        QDir(folder_).removeRecursively();
        QDir().mkpath(folder_);
        for (const ClipRecord& entry : Index()) {
            ClipIndex(store_, {}).DeleteClipRecord(entry.fileName);
        }
        QStringList names;
        for (std::size_t clip = 0; clip < row.clipFrames.size(); ++clip) {
            names << (clip == 0 ? QString("200212031015300003.avi")
                                : QString("200212031015300003-%1.avi").arg(clip));
        }
        auto recorder = MakeRecorder(live[0].header);
        recorder->SetClipLimits(row.limits);
        QStringList told;
        recorder->SetNextClipHandler([&](const QString& path) { told << path; });
        QString error;
        ASSERT_TRUE(recorder->StartRecording(folder_, {}, error)) << error.toStdString();
        for (const LiveFrame& frame : live) {
            recorder->WriteFrame(frame);
        }
        ASSERT_TRUE(test::WaitUntil([&] { return told.size() == names.size() - 1; }));
        EXPECT_TRUE(recorder->recording());
        EXPECT_EQ(told.last(), folder_ + names.last());
        EXPECT_EQ(recorder->aviFileName(), names.last());
        recorder->StopRecording();
        EXPECT_EQ(recorder->framesWritten(), 60u);

        // Every frame received is in one of the clips, in order, each from a key frame.
        std::size_t next = 0;
        for (int clip = 0; clip < names.size(); ++clip) {
            const std::string avi = File(names[clip]);
            const auto riff = test::RiffFile::Load(avi);
            ASSERT_TRUE(riff);
            const auto samples = riff->FindAll("00dc");
            ASSERT_EQ(samples.size(), row.clipFrames[clip]) << clip;
            QString image = names[clip];
            image.replace(".avi", ".img");
            EXPECT_EQ(test::ReadFileBytes(File(image)), Bytes(frames[next]));
            for (const auto* sample : samples) {
                EXPECT_EQ(riff->Data(*sample), Bytes(live[next].image()));
                ++next;
            }
            const auto probed = test::ProbeVideo(avi);
            ASSERT_EQ(probed.packetKeys.size(), samples.size());
            EXPECT_TRUE(probed.packetKeys[0]);
        }
        const auto entries = Index();
        ASSERT_EQ(entries.size(), static_cast<std::size_t>(names.size()));
        for (const ClipRecord& entry : entries) {
            EXPECT_TRUE(names.contains(entry.fileName)) << entry.fileName.toStdString();
        }
    }
}

// The clip's entry follows it minute by minute while it records: a commit a second looks at
// the clock.
TEST_F(ClipRecorderTest, TheEntryFollowsTheClipMinuteByMinute) {
    const auto frames = test::LiveFrames(EncodeFrames(sim::SimulatedCodec::Mpeg4, 2));
    auto recorder = MakeRecorder(frames[0].header);
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error));
    recorder->WriteFrame(frames[0]);
    // Watched while it records: the rewritten entry keeps it marked as read.
    ASSERT_TRUE(test::WaitUntil([&] { return Index().size() == 1; }));
    ClipIndex(store_, {}).SetClipOpened(recorder->aviFileName(), true);
    // Kept back while the writer holds the file, the mark lands a moment later.
    ASSERT_TRUE(test::WaitUntil([&] { return Index().at(0).open == 1; }));
    now_ = now_.addSecs(180);
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    recorder->WriteFrame(frames[1]);
    EXPECT_TRUE(test::WaitUntil([&] {
        const auto listed = Index();
        return listed.size() == 1 && listed[0].endTime == "10:18";
    }));
    recorder->StopRecording();
    EXPECT_EQ(Index().at(0).open, 1);
}

// A disk that stops answering holds up the writer's thread only: every frame is taken at
// once, and past the bound the clip loses whole groups of pictures, so that it decodes
// after the gap. A clip whose end the disk does not take in time is closed and listed once
// it does.
TEST_F(ClipRecorderTest, AStalledDiskHoldsNoFrameUpAndTheClipLosesWholeGroupsOfPictures) {
    const auto frames = test::LiveFrames(EncodeFrames(sim::SimulatedCodec::Mpeg4, 40));
    ASSERT_TRUE(frames[0].keyFrame && !frames[10].keyFrame && frames[24].keyFrame);
    auto recorder = MakeRecorder(frames[0].header);
    test::FileGate gate;
    recorder->SetFileOpener(gate.Opener());
    std::size_t tenFrames = 0;
    for (std::size_t i = 0; i < 10; ++i) {
        tenFrames += frames[i].packed->size();
    }
    recorder->SetQueueBytesForTesting(tenFrames);
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error));
    const std::string avi = recorder->aviFilePath().toStdString();
    gate.Shut();
    {
        test::ExpectedMessage behind(QtWarningMsg, "orvane.media", "does not keep up");
        for (std::size_t i = 0; i < 16; ++i) {  // 10 to 15 do not fit
            recorder->WriteFrame(frames[i]);
        }
        // Every frame was taken while the disk still held the writer.
        EXPECT_TRUE(test::WaitUntil([&] { return gate.held() == 1; }));
        EXPECT_EQ(gate.heldTooLong(), 0);
        gate.Open();
        ASSERT_TRUE(test::WaitUntil([&] { return recorder->queuedBytes() == 0; }));
        recorder->SetQueueBytesForTesting(ClipRecorder::kQueueBytes);
        for (std::size_t i = 16; i < 39; ++i) {  // up to the key frame 24 the gap goes on
            recorder->WriteFrame(frames[i]);
        }
        EXPECT_EQ(behind.seen(), 1);
    }
    EXPECT_EQ(recorder->frameIndex(), 25u);

    gate.Shut();
    recorder->WriteFrame(frames[39]);
    now_ = now_.addSecs(120);
    {
        test::ExpectedMessage late(QtWarningMsg, "orvane.media", "has not taken the end");
        recorder->StopRecording();
    }
    EXPECT_FALSE(recorder->recording());
    gate.Open();
    ASSERT_TRUE(test::WaitUntil([&] {
        const auto listed = Index();
        return listed.size() == 1 && listed[0].endTime == "10:17";
    }));

    const auto riff = test::RiffFile::Load(avi);
    ASSERT_TRUE(riff);
    const auto samples = riff->FindAll("00dc");
    ASSERT_EQ(samples.size(), 26u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const LiveFrame& sent = frames[i < 10 ? i : i + 14];
        EXPECT_EQ(riff->Data(*samples[i]), Bytes(sent.image())) << i;
    }
    const auto probed = test::ProbeVideo(avi, true);
    EXPECT_EQ(probed.frameTypes.size(), 26u);
    ASSERT_EQ(probed.packetKeys.size(), 26u);
    EXPECT_TRUE(probed.packetKeys[10]);
}

TEST(FramesSinceKey, KeepsTheGroupOfPicturesARecordingMustStartWith) {
    const auto mpeg4 = test::LiveFrames(EncodeFrames(sim::SimulatedCodec::Mpeg4, 16));
    FramesSinceKey inter;
    for (const LiveFrame& frame : mpeg4) {
        inter.Add(frame);
    }
    ASSERT_EQ(inter.frames().size(), 4u);  // the key frame of every twelfth, and three more
    EXPECT_EQ(inter.frames()[0].packed, mpeg4[12].packed);
    EXPECT_EQ(inter.frames()[3].packed, mpeg4[15].packed);

    const auto mjpeg = test::LiveFrames(EncodeFrames(sim::SimulatedCodec::Mjpeg, 3));
    FramesSinceKey intra;
    for (const LiveFrame& frame : mjpeg) {
        intra.Add(frame);
    }
    ASSERT_EQ(intra.frames().size(), 1u);
    EXPECT_EQ(intra.frames()[0].packed, mjpeg[2].packed);

    // Key frames further apart than the bounds: the latest frame alone is kept.
    FramesSinceKey far;
    far.Add(mpeg4[0]);
    for (std::size_t i = 0; i < FramesSinceKey::kMaxFrames; ++i) {
        far.Add(mpeg4[1 + i % 11]);
    }
    EXPECT_EQ(far.frames().size(), 1u);
    far.Add(LiveFrame{});  // no frame: ignored
    EXPECT_EQ(far.frames().size(), 1u);
}

TEST(ClipRecorderTiming, CommitsComeEverySecondAndThinOutOnLongClips) {
    EXPECT_EQ(ClipRecorder::CommitIntervalMs(0), 1000);
    EXPECT_EQ(ClipRecorder::CommitIntervalMs(60'000), 1000);
    EXPECT_EQ(ClipRecorder::CommitIntervalMs(3'600'000), 28'125);
    EXPECT_EQ(ClipRecorder::CommitIntervalMs(86'400'000), 300'000);
    // Eleven days of commits fit the header's index.
    std::int64_t elapsed = 0;
    std::uint32_t commits = 0;
    while (elapsed < 11ll * 86'400'000) {
        elapsed += ClipRecorder::CommitIntervalMs(elapsed);
        ++commits;
    }
    EXPECT_LT(commits, AviWriter::kSuperIndexCapacity);
}

}  // namespace
}  // namespace orvane
