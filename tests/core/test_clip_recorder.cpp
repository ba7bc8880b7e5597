// The recorder: the AVI file it writes, what a clip holds and how it is listed, and what it does
// when the disk stalls, fills or loses the record folder.
#include "media/avi_writer.h"
#include "media/clip_packets.h"
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
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <optional>
#include <thread>

namespace orvane {
namespace {

std::string Bytes(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<std::string> Images(std::span<const LiveFrame> frames) {
    std::vector<std::string> images;
    std::ranges::transform(frames, std::back_inserter(images),
                           [](const LiveFrame& frame) { return Bytes(frame.image()); });
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
    std::error_code ec;  // a target that cannot be read is no file of ours
    return std::ranges::any_of(std::filesystem::directory_iterator("/proc/self/fd"), [&](auto& fd) {
        const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
        return target.find(name.toStdString()) != std::string::npos &&
               target.ends_with(" (deleted)");
    });
}

AviVideoStream CinepakStream() {
    BitmapInfoHeader format;
    format.biWidth = 320;
    format.biHeight = 240;
    format.biBitCount = 24;
    format.biCompression = MakeFourcc('c', 'v', 'i', 'd');  // inter-coded, and no parser reads it
    format.biSizeImage = 150'000;
    return AviVideoStream::For(format, format.Bytes());
}

Block Sample(std::size_t size, std::uint32_t seed) {
    Block sample(size);
    for (std::size_t i = 0; i < size; ++i) {
        sample[i] = static_cast<std::uint8_t>(seed * 31 + i);
    }
    return sample;
}

TEST(AviWriter, SegmentsAfterTheFirstAreReachableThroughTheIndexes) {
    test::TempStore temp;
    const std::string path = temp.File("segments.avi");
    QString error;
    auto writer = AviWriter::Create(QString::fromStdString(path), CinepakStream(), true, error);
    ASSERT_TRUE(writer) << error.toStdString();
    writer->SetSegmentBytesForTesting(64 * 1024);
    std::vector<bool> keys;
    for (std::uint32_t i = 0; i < 300; ++i) {
        keys.push_back(i % 10 == 0);
        // Odd sizes too: chunks are padded to even offsets.
        ASSERT_TRUE(writer->WriteSample(Sample(1000 + i % 7, i), keys.back(), i * 40'000));
        if (i % 25 == 24) {
            ASSERT_TRUE(writer->Commit());
        }
    }
    ASSERT_TRUE(writer->Close());

    const auto riff = test::RiffFile::Load(path);
    ASSERT_TRUE(riff);
    ASSERT_GT(riff->top().size(), 2u);
    EXPECT_EQ(riff->top()[0].listType, "AVI ");
    for (std::size_t i = 1; i < riff->top().size(); ++i) {
        EXPECT_EQ(riff->top()[i].listType, "AVIX") << i;
    }
    EXPECT_EQ(riff->FindAll("idx1").size(), 1u);
    EXPECT_EQ(test::ProbeVideo(path).packetKeys, keys);
    // Each segment's and each commit's times stand before their index chunk.
    const auto times = test::FrameTimesIn(*riff);
    EXPECT_EQ(times.size(), riff->FindAll("ix00").size());
    for (const auto& seen : times) {
        EXPECT_EQ(seen.nextIndexEntries, static_cast<std::int64_t>(seen.times.size()));
    }
    const auto clip = ClipPackets::Open(QString::fromStdString(path), error);
    ASSERT_TRUE(clip);
    ASSERT_EQ(clip->timeline().recordedCount(), 300);
    EXPECT_EQ(clip->timeline().TimeOf(299), 299 * 40'000);
}

// A process killed between commits leaves the file as it was at the last one, plus samples
// the headers do not count yet: a reader gets at least every committed sample. Cut off
// anywhere, the clip keeps the times of frames it keeps, never a time for another frame.
TEST(AviWriter, AFileCutOffAfterACommitPlaysUpToIt) {
    test::TempStore temp;
    const std::string path = temp.File("cut.avi");
    const std::string copy = temp.File("cut-copy.avi");
    QString error;
    auto writer = AviWriter::Create(QString::fromStdString(path), CinepakStream(), true, error);
    ASSERT_TRUE(writer);
    // Small samples, to cut the file at every byte; uneven intervals and a long pause, which
    // only recorded times give.
    std::vector<std::int64_t> times;
    std::int64_t time = 1'700'000'000'000'000;
    for (std::uint32_t i = 0; i < 107; ++i) {
        time += i == 50 ? 3'000'000 : 40'000 + 1'000 * (i % 3);
        times.push_back(time);
        ASSERT_TRUE(writer->WriteSample(Sample(24 + i % 5, i), i < 100 && i % 10 == 0, time));
        if (i == 99) {  // the last commit: seven samples go after it
            ASSERT_TRUE(writer->Commit());
        }
    }
    ASSERT_TRUE(QFile::copy(QString::fromStdString(path), QString::fromStdString(copy)));
    writer.reset();

    const auto probed = test::ProbeVideo(copy);
    ASSERT_GE(probed.packetKeys.size(), 100u);
    EXPECT_TRUE(probed.packetKeys[0]);
    EXPECT_FALSE(probed.packetKeys[1]);
    const auto riff = test::RiffFile::Load(copy);
    EXPECT_EQ(riff->FindAll("idx1").size(), 0u);
    EXPECT_EQ(riff->FindAll("ix00").size(), 1u);

    const std::string bytes = test::ReadFileBytes(copy);
    const std::string cut = temp.File("cut-at.avi");
    const auto movi = riff->Find("movi");
    ASSERT_TRUE(movi);
    std::int64_t withAllTimes = -1;
    for (std::size_t size = movi->offset; size <= bytes.size(); ++size) {
        test::WriteFileBytes(cut, bytes.substr(0, size));
        const auto clip = ClipPackets::Open(QString::fromStdString(cut), error);
        if (!clip) {
            continue;
        }
        const ClipTimeline& timeline = clip->timeline();
        ASSERT_LE(timeline.recordedCount(), timeline.frameCount()) << size;
        for (std::int64_t i = 0; i < timeline.frameCount(); ++i) {
            if (i < timeline.recordedCount()) {
                ASSERT_EQ(timeline.TimeOf(i), times[static_cast<std::size_t>(i)]) << size;
            }
            ASSERT_TRUE(i == 0 || timeline.TimeOf(i) >= timeline.TimeOf(i - 1)) << size;
        }
        if (timeline.recordedCount() == 100 && withAllTimes < 0) {
            withAllTimes = static_cast<std::int64_t>(size);
        }
    }
    // From the end of the commit's times on, every cut keeps them.
    EXPECT_EQ(withAllTimes,
              static_cast<std::int64_t>(riff->Find("JUNK")->offset + 8 + riff->Find("JUNK")->size));
}

// A file already there, or a device that takes no byte (a link to it, so that nothing of the
// machine is at stake): the writer fails with the reason and leaves the name as it was.
TEST(AviWriter, ANameItCannotWriteIsLeftAsItWas) {
    test::TempStore temp;
    const std::string taken = temp.File("taken.avi");
    test::WriteFileBytes(taken, "precious");
    QString error;
    EXPECT_FALSE(AviWriter::Create(QString::fromStdString(taken), CinepakStream(), true, error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(test::ReadFileBytes(taken), "precious");

    const QString full = QString::fromStdString(temp.File("full.avi"));
    ASSERT_TRUE(QFile::link("/dev/full", full));
    // A device cannot be cut back to the last whole chunk; that is said, too.
    test::ExpectedMessage uncut(QtWarningMsg, "orvane.media", "cannot cut",
                                test::ExpectedMessage::Occurrence::Optional);
    EXPECT_FALSE(AviWriter::Create(full, CinepakStream(), false, error));
    EXPECT_TRUE(error.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))))
        << error.toStdString();
    EXPECT_TRUE(QFileInfo(full).isSymLink());
    EXPECT_TRUE(QFileInfo::exists("/dev/full"));
}

// More than a gigabyte of 150 KB samples: past the first RIFF, into OpenDML segments that
// only a 64-bit index reaches.
TEST(AviWriter, FilesPastOneGigabyteStayReadable) {
    test::TempStore temp;
    const std::string path = temp.File("large.avi");
    QString error;
    auto writer = AviWriter::Create(QString::fromStdString(path), CinepakStream(), true, error);
    ASSERT_TRUE(writer);
    const Block sample = Sample(150'000, 7);
    constexpr std::uint32_t kSamples = 7400;  // 1.11 GB
    for (std::uint32_t i = 0; i < kSamples; ++i) {
        ASSERT_TRUE(writer->WriteSample(sample, i % 25 == 0)) << i;
        if (i % 50 == 49) {
            ASSERT_TRUE(writer->Commit());
        }
    }
    ASSERT_TRUE(writer->Close());
    EXPECT_GT(writer->bytesWritten(), 1ull << 30);

    const auto probed = test::ProbeVideo(path);
    ASSERT_EQ(probed.packetKeys.size(), kSamples);
    EXPECT_TRUE(probed.packetKeys[kSamples - 25]);
    EXPECT_FALSE(probed.packetKeys[kSamples - 1]);
}

// Recorders of MPEG-4 frames (a key frame every twelfth) on a disk the test controls, counting
// the failures the operator is told of.
class ClipRecorderTest : public test::RecordingStoreTest {
  protected:
    std::unique_ptr<ClipRecorder> Recorder() {
        auto recorder = MakeRecorder(live_[0].header);
        recorder->SetFailureHandler([this](const QString&) { ++told_; });
        recorder->SetFileOpener(gate_.Opener());
        return recorder;
    }
    std::unique_ptr<ClipRecorder> Start() {
        auto recorder = Recorder();
        QString error;
        EXPECT_TRUE(recorder->StartRecording(folder_, {}, error)) << error.toStdString();
        return recorder;
    }
    static void Write(ClipRecorder& recorder, std::span<const LiveFrame> frames) {
        std::ranges::for_each(frames, [&](const LiveFrame& frame) { recorder.WriteFrame(frame); });
    }
    // The recorder's queue is on disk.
    static bool Written(const ClipRecorder& recorder) {
        return test::WaitUntil([&] { return recorder.queuedBytes() == 0; });
    }
    long Listed(const QString& name) {
        return std::ranges::count(Index(), name, &ClipRecord::fileName);
    }

    const std::vector<Block> packed_ = test::EncodeFrames(sim::SimulatedCodec::Mpeg4, 60);
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
    auto recorder = Start();
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
    Start()->StopRecording();
    const auto empty = test::ProbeVideo(File("200212031018350003.avi"));
    EXPECT_TRUE(empty.opened);
    EXPECT_TRUE(empty.packetKeys.empty());
    EXPECT_FALSE(QFile::exists(folder_ + "200212031018350003.img"));
    EXPECT_EQ(Index().size(), 2u);

    SCOPED_TRACE("started inside a group of pictures: the preview is the next key frame");
    const QString inside = RecordClip({packed_.begin() + 5, packed_.begin() + 20});
    EXPECT_EQ(test::ReadFileBytes(QString(inside).replace(".avi", ".img").toStdString()),
              Bytes(packed_[12]));
    const auto probed = test::ProbeVideo(inside.toStdString());
    ASSERT_EQ(probed.packetKeys.size(), 15u);
    EXPECT_FALSE(probed.packetKeys[0]);
    EXPECT_TRUE(probed.packetKeys[7]);
}

// Uncompressed pictures sent top row first (a negative height) are recorded as AVI readers take
// them: exactly what the same pictures sent bottom up would have made.
TEST_F(ClipRecorderTest, TopDownPicturesAreRecordedBottomUp) {
    const auto bottomUp = test::EncodeFrames(sim::SimulatedCodec::Uncompressed, 3, {32, 24});
    std::vector<Block> topDown;
    std::vector<std::string> pictures;
    for (const Block& frame : bottomUp) {
        topDown.push_back(test::TopDown(frame));
        pictures.push_back(Bytes(std::span(frame).subspan(BitmapInfoHeader::kSize)));
    }
    const std::string avi = RecordClip(topDown).toStdString();
    const auto riff = test::RiffFile::Load(avi);
    ASSERT_TRUE(riff);
    EXPECT_EQ(riff->U32(riff->Find("avih")->offset + 8 + 36), 24u);  // heights, not -24
    EXPECT_EQ(riff->U16(riff->Find("strh")->offset + 8 + 54), 24u);
    EXPECT_EQ(riff->Data(*riff->Find("strf")),
              Bytes(BitmapInfoHeader::Parse(bottomUp[0])->Bytes()));
    EXPECT_EQ(Samples(avi, "00db"), pictures);
}

// A clip full by time or by size goes on in a new one at the next key frame: every frame is in
// one clip, in order, each with a key frame first, its preview and entry, and a suffix.
TEST_F(ClipRecorderTest, ARecordingGoesOnInANewClipAtTheKeyFrameAfterTheLimit) {
    // Passed by the clip's thirteenth frame, so the clip goes on to the key frame after.
    const std::uint64_t thirteenFrames =
        std::transform_reduce(live_.begin(), live_.begin() + 13, 0ull, std::plus{},
                              [](const LiveFrame& frame) { return frame.image().size() + 8; });
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
        auto recorder = Recorder();
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
            EXPECT_EQ(Listed(names[clip]), 1);
        }
    }
}

// The clip's entry follows it minute by minute while it records.
TEST_F(ClipRecorderTest, TheEntryFollowsTheClipMinuteByMinute) {
    auto recorder = Start();
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

// A disk that stops answering holds up the writer's thread only: past the bound the clip loses
// whole groups of pictures, so that it decodes after the gap, and an end the disk does not take
// in time is closed and listed once it does.
TEST_F(ClipRecorderTest, AStalledDiskHoldsNoFrameUpAndTheClipLosesWholeGroupsOfPictures) {
    auto recorder = Start();
    recorder->SetQueueBytesForTesting(
        std::transform_reduce(live_.begin(), live_.begin() + 10, 0ull, std::plus{},
                              [](const LiveFrame& frame) { return frame.packed->size(); }));
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
    EXPECT_FALSE(recorder->recording());  // the operator's Stop does not wait for the disk
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
    auto recorder = Start();
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
        auto recorder = Recorder();
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

// The record folder is removed (after the preview or before it, where the loss shows first) or
// moved away as a volume unmounted lazily is: the dead file is closed (its blocks would fill the
// disk unseen), told once, and nothing more is written. A removed clip's entry goes at once, so
// that nothing lists it even after a crash; a moved one stays, for it comes back with its volume.
// It is found by the frames written next, not only by a commit, which an old clip makes half a
// minute apart.
TEST_F(ClipRecorderTest, AFolderThatNoLongerLeadsToTheClipEndsItAsRemoved) {
    const struct {
        const char* what;
        std::size_t framesBefore;
        bool moved;
        bool commitBetween;
    } cases[] = {{"removed", 2, false, true},
                 {"moved", 1, true, true},
                 {"removed before the preview", 0, false, false},
                 {"removed, no commit due", 2, false, false}};
    const QString moved = folder_.chopped(1) + "-moved";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        told_ = 0;
        now_ = now_.addSecs(60);
        QDir().mkpath(folder_);
        auto recorder = Start();
        const QString name = recorder->aviFileName();
        Write(*recorder, std::span(live_).first(c.framesBefore));
        ASSERT_TRUE(Written(*recorder));
        ASSERT_TRUE(c.moved ? QDir().rename(folder_.chopped(1), moved)
                            : QDir(folder_).removeRecursively());
        if (c.commitBetween) {  // a young clip commits once a second
            std::this_thread::sleep_for(std::chrono::milliseconds(1050));
        }
        {
            test::ExpectedMessage removed(QtWarningMsg, "orvane.media", "has been removed");
            Write(*recorder, std::span(live_).subspan(c.framesBefore, 2));
            ASSERT_TRUE(test::WaitUntil([&] { return told_ == 1; }));
        }
        EXPECT_TRUE(recorder->endedByFailure());
        EXPECT_FALSE(HoldsDeletedFile(name));
        EXPECT_EQ(Listed(name), c.moved ? 1 : 0);

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
        EXPECT_EQ(Listed(name), c.moved ? 1 : 0);
        if (!c.moved) {  // a removed clip holds no frame
            EXPECT_EQ(recorder->framesWritten(), 0u);
        }
        EXPECT_EQ(told_, 1);
    }
}

// What a recording started now writes first: the frames from the latest key frame on, or the
// latest frame alone when key frames are further apart than the bounds.
TEST(FramesSinceKey, KeepsTheGroupOfPicturesARecordingMustStartWith) {
    const auto mpeg4 = test::LiveFrames(test::EncodeFrames(sim::SimulatedCodec::Mpeg4, 16));
    FramesSinceKey since;
    std::ranges::for_each(mpeg4, [&](const LiveFrame& frame) { since.Add(frame); });
    ASSERT_EQ(since.frames().size(), 4u);  // the key frame of every twelfth, and three more
    EXPECT_EQ(since.frames()[0].packed, mpeg4[12].packed);
    for (std::size_t size = since.frames().size(); size <= FramesSinceKey::kMaxFrames; ++size) {
        since.Add(mpeg4[13]);  // the last one past the bound
    }
    since.Add({});  // no frame: ignored
    EXPECT_EQ(since.frames().size(), 1u);
}

}  // namespace
}  // namespace orvane
