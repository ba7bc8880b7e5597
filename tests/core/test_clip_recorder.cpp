// The recorder: what a clip holds and how it is listed, and what it does when the disk stalls,
// fills or loses the record folder.
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
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

namespace orvane {
namespace {

using test::EncodeFrames;

std::string Bytes(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<std::string> Images(std::span<const LiveFrame> frames) {
    std::vector<std::string> images;
    for (const LiveFrame& frame : frames) {
        images.push_back(Bytes(frame.image()));
    }
    return images;
}

// The samples of a clip as a RIFF reader of its own finds them.
std::vector<std::string> Samples(const std::string& avi, const char* id = "00dc") {
    const auto riff = test::RiffFile::Load(avi);
    std::vector<std::string> samples;
    for (const auto* chunk : riff ? riff->FindAll(id) : std::vector<const test::RiffChunk*>{}) {
        samples.push_back(riff->Data(*chunk));
    }
    return samples;
}

// Whether this process still holds a file open whose name has gone.
bool HoldsDeletedFile(const QString& name) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (!ec && target.find(name.toStdString()) != std::string::npos &&
            target.find("(deleted)") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Recorders of MPEG-4 frames (a key frame every twelfth) on a disk the test controls, counting
// the failures the operator is told of.
class ClipRecorderTest : public test::RecordingStoreTest {
  protected:
    std::unique_ptr<ClipRecorder> Recorder(const BitmapInfoHeader& format) {
        auto recorder = MakeRecorder(format);
        recorder->SetFailureHandler([this](const QString&) { ++told_; });
        recorder->SetFileOpener(gate_.Opener());
        return recorder;
    }
    std::unique_ptr<ClipRecorder> Start(const BitmapInfoHeader& format) {
        auto recorder = Recorder(format);
        QString error;
        EXPECT_TRUE(recorder->StartRecording(folder_, {}, error)) << error.toStdString();
        return recorder;
    }
    static void Write(ClipRecorder& recorder, std::span<const LiveFrame> frames) {
        for (const LiveFrame& frame : frames) {
            recorder.WriteFrame(frame);
        }
    }
    // The recorder's queue is on disk.
    static bool Written(const ClipRecorder& recorder) {
        return test::WaitUntil([&] { return recorder.queuedBytes() == 0; });
    }

    const std::vector<Block> packed_ = EncodeFrames(sim::SimulatedCodec::Mpeg4, 60);
    const std::vector<LiveFrame> live_ = test::LiveFrames(packed_);
    test::FileGate gate_;
    int told_ = 0;
};

TEST_F(ClipRecorderTest, AClipHoldsEveryFrameAsReceivedWithTheDesignedHeadersAndEntry) {
    // Arrived every 40 ms, the last 290 µs late: a mean interval of 40,010 µs.
    std::vector<LiveFrame> live(live_.begin(), live_.begin() + 30);
    for (std::size_t i = 0; i < live.size(); ++i) {
        live[i].arrivalSteadyMicros = static_cast<std::int64_t>(i) * 40'000 + (i == 29 ? 290 : 0);
        live[i].arrivalUtcMicros = 1'038'910'530'000'000 + live[i].arrivalSteadyMicros;
    }
    const BitmapInfoHeader format = live[0].header;
    auto recorder = Start(format);
    // Listed from the first moment, so that a killed recording is listed too.
    ASSERT_TRUE(test::WaitUntil([&] { return Index().size() == 1; }));
    Write(*recorder, live);
    now_ = now_.addSecs(125);
    recorder->StopRecording();

    const std::string avi = File("200212031015300003.avi");
    const auto riff = test::RiffFile::Load(avi);
    ASSERT_TRUE(riff);
    const std::uint64_t strh = riff->Find("strh")->offset + 8;
    EXPECT_EQ(riff->U32(strh + 4), format.biCompression);
    // The mean rate of the frames, in microseconds per frame.
    EXPECT_EQ(riff->U32(strh + 20), 40'010u);     // scale
    EXPECT_EQ(riff->U32(strh + 24), 1'000'000u);  // rate
    EXPECT_EQ(riff->U32(riff->Find("avih")->offset + 8), 40'010u);
    EXPECT_EQ(riff->U32(strh + 32), 30u);  // length
    EXPECT_EQ(riff->Data(*riff->Find("strf")), Bytes(format.Bytes()));
    EXPECT_EQ(Samples(avi), Images(live));
    EXPECT_EQ(test::ReadFileBytes(File("200212031015300003.img")), Bytes(packed_[0]));
    EXPECT_EQ(Index(), (std::vector<ClipRecord>{{"200212031015300003.avi", 0, kChannel, "Gate",
                                                 "2002/12/03", "10:15", "2002/12/03", "10:17",
                                                 "200212031015300003.img", folder_}}));

    SCOPED_TRACE("started and stopped without frames: an empty stream, no preview, an entry");
    now_ = now_.addSecs(60);
    Start(format)->StopRecording();
    const auto empty = test::ProbeVideo(File("200212031018350003.avi"));
    EXPECT_TRUE(empty.opened);
    EXPECT_TRUE(empty.packetKeys.empty());
    EXPECT_FALSE(QFile::exists(folder_ + "200212031018350003.img"));
    EXPECT_EQ(Index().size(), 2u);

    SCOPED_TRACE("started inside a group of pictures: the preview is the next key frame");
    now_ = now_.addSecs(60);
    recorder = Start(format);
    Write(*recorder, std::span(live_).subspan(5, 15));
    recorder->StopRecording();
    EXPECT_EQ(test::ReadFileBytes(File("200212031019350003.img")), Bytes(packed_[12]));
    const auto probed = test::ProbeVideo(File("200212031019350003.avi"));
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
    std::vector<std::string> pictures;
    for (const Block& frame : bottomUp) {
        topDown.push_back(test::TopDown(frame));
        pictures.push_back(Bytes(std::span(frame).subspan(BitmapInfoHeader::kSize)));
    }
    const auto live = test::LiveFrames(topDown);
    auto recorder = Start(live[0].header);
    Write(*recorder, live);
    recorder->StopRecording();

    const auto riff = test::RiffFile::Load(File("200212031015300003.avi"));
    ASSERT_TRUE(riff);
    EXPECT_EQ(riff->U32(riff->Find("avih")->offset + 8 + 36), 24u);  // heights, not -24
    EXPECT_EQ(riff->U16(riff->Find("strh")->offset + 8 + 54), 24u);
    EXPECT_EQ(riff->Data(*riff->Find("strf")),
              Bytes(BitmapInfoHeader::Parse(bottomUp[0])->Bytes()));
    EXPECT_EQ(Samples(File("200212031015300003.avi"), "00db"), pictures);
}

// A recording goes on in a new clip at the first key frame once the clip is full, by time
// or by size: every frame received is in one of the clips, in order, each clip starts with
// a key frame and its own preview and entry, and clips of one second get suffixes.
TEST_F(ClipRecorderTest, ARecordingGoesOnInANewClipAtTheKeyFrameAfterTheLimit) {
    // Passed by the clip's thirteenth frame, so the clip goes on to the key frame after.
    std::uint64_t thirteenFrames = 0;
    for (std::size_t i = 0; i < 13; ++i) {
        thirteenFrames += live_[i].image().size() + 8;
    }
    struct Row {
        ClipWriter::ClipLimits limits;
        std::vector<std::size_t> clipFrames;
    };
    for (const Row& row : {Row{{0, 1ull << 40}, {12, 12, 12, 12, 12}},
                           Row{{1ll << 40, thirteenFrames}, {24, 24, 12}}}) {
        SCOPED_TRACE(row.limits.ms);
        now_ = now_.addSecs(60);
        QStringList names;
        const QString base = now_.toString("yyyyMMddhhmmss") + "0003";
        for (std::size_t clip = 0; clip < row.clipFrames.size(); ++clip) {
            names << base + (clip == 0 ? QString(".avi") : QString("-%1.avi").arg(clip));
        }
        auto recorder = Recorder(live_[0].header);
        recorder->SetClipLimits(row.limits);
        QStringList told;
        recorder->SetNextClipHandler([&](const QString& path) { told << path; });
        QString error;
        ASSERT_TRUE(recorder->StartRecording(folder_, {}, error)) << error.toStdString();
        Write(*recorder, live_);
        ASSERT_TRUE(test::WaitUntil([&] { return told.size() == names.size() - 1; }));
        EXPECT_EQ(told.last(), folder_ + names.last());
        recorder->StopRecording();

        std::size_t next = 0;
        for (int clip = 0; clip < names.size(); ++clip) {
            const std::size_t frames = row.clipFrames[clip];
            EXPECT_EQ(Samples(File(names[clip])), Images(std::span(live_).subspan(next, frames)));
            EXPECT_EQ(test::ReadFileBytes(File(QString(names[clip]).replace(".avi", ".img"))),
                      Bytes(packed_[next]));
            next += frames;
            const auto probed = test::ProbeVideo(File(names[clip]));
            ASSERT_EQ(probed.packetKeys.size(), frames);
            EXPECT_TRUE(probed.packetKeys[0]);
            EXPECT_EQ(std::ranges::count(Index(), names[clip], &ClipRecord::fileName), 1);
        }
    }
}

// The clip's entry follows it minute by minute while it records: a commit a second looks at
// the clock.
TEST_F(ClipRecorderTest, TheEntryFollowsTheClipMinuteByMinute) {
    auto recorder = Start(live_[0].header);
    recorder->WriteFrame(live_[0]);
    // Watched while it records: the rewritten entry keeps it marked as read.
    ASSERT_TRUE(test::WaitUntil([&] { return Index().size() == 1; }));
    ClipIndex(store_, {}).SetClipOpened(recorder->aviFileName(), true);
    // Kept back while the writer holds the file, the mark lands a moment later.
    ASSERT_TRUE(test::WaitUntil([&] { return Index().at(0).open == 1; }));
    now_ = now_.addSecs(180);
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    recorder->WriteFrame(live_[1]);
    EXPECT_TRUE(test::WaitUntil([&] { return Index().at(0).endTime == "10:18"; }));
    recorder->StopRecording();
    EXPECT_EQ(Index().size(), 1u);  // rewritten, never added again
    EXPECT_EQ(Index().at(0).open, 1);
}

// A disk that stops answering holds up the writer's thread only: every frame is taken at
// once, and past the bound the clip loses whole groups of pictures, so that it decodes
// after the gap. A clip whose end the disk does not take in time is closed and listed once
// it does.
TEST_F(ClipRecorderTest, AStalledDiskHoldsNoFrameUpAndTheClipLosesWholeGroupsOfPictures) {
    auto recorder = Start(live_[0].header);
    std::size_t tenFrames = 0;
    for (std::size_t i = 0; i < 10; ++i) {
        tenFrames += live_[i].packed->size();
    }
    recorder->SetQueueBytesForTesting(tenFrames);
    const std::string avi = recorder->aviFilePath().toStdString();
    gate_.Shut();
    {
        test::ExpectedMessage behind(QtWarningMsg, "orvane.media", "does not keep up");
        Write(*recorder, std::span(live_).first(16));  // 10 to 15 do not fit
        // Every frame was taken while the disk still held the writer.
        EXPECT_TRUE(test::WaitUntil([&] { return gate_.held() == 1; }));
        EXPECT_EQ(gate_.heldTooLong(), 0);
        gate_.Open();
        ASSERT_TRUE(Written(*recorder));
        recorder->SetQueueBytesForTesting(ClipRecorder::kQueueBytes);
        Write(*recorder, std::span(live_).subspan(16, 23));  // the gap goes on to key frame 24
        EXPECT_EQ(behind.seen(), 1);
    }

    gate_.Shut();
    recorder->WriteFrame(live_[39]);
    now_ = now_.addSecs(120);
    {
        test::ExpectedMessage late(QtWarningMsg, "orvane.media", "has not taken the end");
        recorder->StopRecording();
    }
    EXPECT_FALSE(recorder->recording());
    gate_.Open();
    ASSERT_TRUE(test::WaitUntil([&] { return Index().at(0).endTime == "10:17"; }));

    std::vector<std::string> kept = Images(std::span(live_).first(10));
    std::ranges::copy(Images(std::span(live_).subspan(24, 16)), std::back_inserter(kept));
    EXPECT_EQ(Samples(avi), kept);
    const auto probed = test::ProbeVideo(avi);
    ASSERT_EQ(probed.packetKeys.size(), 26u);
    EXPECT_TRUE(probed.packetKeys[10]);
}

// A disk that fills is told once, and once again when frames are written after it: the
// operator's notice of the outage ends there.
TEST_F(ClipRecorderTest, AFullDiskIsToldOnceAndAgainWhenWritingWorks) {
    auto recorder = Start(live_[0].header);
    int writingAgain = 0;
    recorder->SetWritingAgainHandler([&] { ++writingAgain; });
    recorder->WriteFrame(live_[0]);
    ASSERT_TRUE(Written(*recorder));
    gate_.SetCapacity(static_cast<std::uint64_t>(QFileInfo(recorder->aviFilePath()).size()));
    {
        test::ExpectedMessage full(QtWarningMsg, "orvane.media", "Recording cannot write");
        Write(*recorder, std::span(live_).subspan(1, 11));
        ASSERT_TRUE(test::WaitUntil([&] { return told_ == 1 && recorder->queuedBytes() == 0; }));
    }
    EXPECT_EQ(writingAgain, 0);
    gate_.SetCapacity(test::FileGate::kUnlimited);
    recorder->WriteFrame(live_[0]);  // a key frame
    EXPECT_TRUE(test::WaitUntil([&] { return writingAgain == 1; }));
    recorder->StopRecording();
    EXPECT_EQ(told_, 1);
    EXPECT_EQ(writingAgain, 1);
}

// A folder that cannot take the clip, a disk full from the first byte, or a system with no
// thread left for the writer: the clip does not start, the reason is told, nothing is left.
TEST_F(ClipRecorderTest, AClipThatCannotStartIsToldAndLeavesNothing) {
    const QString name = "200212031015300003.avi";
    const struct {
        const char* what;
        QString folder;
        bool threadless;
        std::uint64_t capacity;
        QString reason;
    } cases[] = {
        {"folder gone", folder_ + "gone/", false, test::FileGate::kUnlimited, name},
        {"no thread", folder_, true, test::FileGate::kUnlimited, name},
        {"disk full", folder_, false, 100, QString::fromLocal8Bit(std::strerror(ENOSPC))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        gate_.SetCapacity(c.capacity);
        auto recorder = Recorder(live_[0].header);
        if (c.threadless) {
            recorder->SetThreadStarter([](std::function<void()>, std::thread&) { return false; });
        }
        test::ExpectedMessage refused(QtWarningMsg, "orvane.media", "cannot start recording");
        QString error;
        EXPECT_FALSE(recorder->StartRecording(c.folder, {}, error));
        EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
        recorder->WriteFrame(live_[0]);
        recorder->StopRecording();
        EXPECT_TRUE(Index().empty());
        EXPECT_TRUE(QDir(folder_).isEmpty());
    }
}

// The record folder goes while a clip records into it: removed after the preview or before it
// (where the loss shows first, so it is told there, not a commit later), or moved away as a
// volume unmounted lazily is. Once noticed, the dead file is closed (its blocks would otherwise
// fill the disk unseen), the operator is told once, and nothing more is written. A removed clip's
// entry goes at once, so that nothing lists a clip not on disk, not even after a crash; a moved
// one keeps it, for it is there again with its volume.
TEST_F(ClipRecorderTest, AFolderThatNoLongerLeadsToTheClipEndsItAsRemoved) {
    const struct {
        const char* what;
        std::size_t framesBefore;
        bool moved;
    } cases[] = {
        {"removed", 2, false}, {"moved", 1, true}, {"removed before the preview", 0, false}};
    const QString moved = folder_.chopped(1) + "-moved";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        told_ = 0;
        now_ = now_.addSecs(60);
        QDir().mkpath(folder_);
        auto recorder = Start(live_[0].header);
        const QString name = recorder->aviFileName();
        Write(*recorder, std::span(live_).first(c.framesBefore));
        ASSERT_TRUE(Written(*recorder));
        ASSERT_TRUE(c.moved ? QDir().rename(folder_.chopped(1), moved)
                            : QDir(folder_).removeRecursively());
        if (c.framesBefore > 0) {  // the folder is looked at once a second
            std::this_thread::sleep_for(std::chrono::milliseconds(1050));
        }
        {
            test::ExpectedMessage removed(QtWarningMsg, "orvane.media", "has been removed");
            Write(*recorder, std::span(live_).subspan(c.framesBefore, 2));
            ASSERT_TRUE(test::WaitUntil([&] { return told_ == 1; }));
        }
        EXPECT_TRUE(recorder->endedByFailure());
        EXPECT_FALSE(HoldsDeletedFile(name));
        const auto listed = [&] {
            return std::ranges::count(Index(), name, &ClipRecord::fileName);
        };
        EXPECT_EQ(listed(), c.moved ? 1 : 0);

        // Frames and minutes go by: nothing more is written, told or listed.
        const int writes = gate_.writes();
        now_ = now_.addSecs(180);
        std::this_thread::sleep_for(std::chrono::milliseconds(1050));
        Write(*recorder, std::span(live_).subspan(3, 9));
        EXPECT_EQ(gate_.writes(), writes);
        std::optional<test::ExpectedMessage> gone;
        if (!c.moved) {
            gone.emplace(QtWarningMsg, "orvane.media", "removed while recording");
        }
        recorder->StopRecording();
        gone.reset();
        EXPECT_EQ(listed(), c.moved ? 1 : 0);
        EXPECT_EQ(told_, 1);
    }
}

// What a recording started now writes first: the frames from the latest key frame on, or the
// latest frame alone when key frames are further apart than the bounds.
TEST(FramesSinceKey, KeepsTheGroupOfPicturesARecordingMustStartWith) {
    const auto kept = [](std::span<const LiveFrame> frames) {
        FramesSinceKey since;
        for (const LiveFrame& frame : frames) {
            since.Add(frame);
        }
        return since.frames();
    };
    const auto mpeg4 = test::LiveFrames(EncodeFrames(sim::SimulatedCodec::Mpeg4, 16));
    const auto inter = kept(mpeg4);
    ASSERT_EQ(inter.size(), 4u);  // the key frame of every twelfth, and three more
    EXPECT_EQ(inter[0].packed, mpeg4[12].packed);
    std::vector<LiveFrame> far{mpeg4[0]};
    for (std::size_t i = 0; i < FramesSinceKey::kMaxFrames; ++i) {
        far.push_back(mpeg4[1 + i % 11]);
    }
    far.emplace_back();  // no frame: ignored
    EXPECT_EQ(kept(far).size(), 1u);
}

// A commit a second at first, thinning out so that eleven days of them fit the header's index.
TEST(ClipRecorderTiming, ElevenDaysOfCommitsFitTheHeadersIndex) {
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
