#include "media/avi_writer.h"
#include "media/clip_packets.h"
#include "support/independent_readers.h"
#include "support/message_guard.h"
#include "support/temp_store.h"
#include "wire/bitmap_info.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace orvane {
namespace {

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
    for (std::uint32_t i = 0; i < 300; ++i) {
        // Odd sizes too: chunks are padded to even offsets.
        ASSERT_TRUE(writer->WriteSample(Sample(1000 + i % 7, i), i % 10 == 0, i * 40'000));
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
    EXPECT_EQ(riff->FindAll("00dc").size(), 300u);
    const auto probed = test::ProbeVideo(path);
    ASSERT_TRUE(probed.opened);
    ASSERT_EQ(probed.packetKeys.size(), 300u);
    for (std::size_t i = 0; i < 300; ++i) {
        EXPECT_EQ(probed.packetKeys[i], i % 10 == 0) << i;
    }
    // Each segment's and each commit's times stand before their index chunk, in every
    // segment.
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
    }
    for (std::uint32_t i = 0; i < 100; ++i) {
        ASSERT_TRUE(writer->WriteSample(Sample(24 + i % 5, i), i % 10 == 0, times[i]));
    }
    ASSERT_TRUE(writer->Commit());
    for (std::uint32_t i = 0; i < 7; ++i) {
        ASSERT_TRUE(writer->WriteSample(Sample(24 + i % 5, i), false, times[100 + i]));
    }
    ASSERT_TRUE(QFile::copy(QString::fromStdString(path), QString::fromStdString(copy)));
    writer.reset();

    const auto probed = test::ProbeVideo(copy);
    ASSERT_TRUE(probed.opened);
    EXPECT_GE(probed.packetKeys.size(), 100u);
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
    ASSERT_TRUE(probed.opened);
    ASSERT_EQ(probed.packetKeys.size(), kSamples);
    EXPECT_TRUE(probed.packetKeys[kSamples - 25]);
    EXPECT_FALSE(probed.packetKeys[kSamples - 1]);
    QFile::remove(QString::fromStdString(path));
}

}  // namespace
}  // namespace orvane
