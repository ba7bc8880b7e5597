#pragma once

#include "common/block.h"
#include "media/media_file.h"
#include "wire/bitmap_info.h"

#include <QString>

#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace orvane {

// What the one video stream of a clip declares in its headers.
struct AviVideoStream {
    std::uint32_t fccHandler = 0;  // the codec's FOURCC
    std::uint32_t scale = 1;       // samples per second = rate / scale
    std::uint32_t rate = 2;
    std::uint32_t suggestedBufferSize = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool uncompressed = false;  // samples are '00db' instead of '00dc'
    Block format;               // the stream format: BITMAPINFOHEADER and colour table

    // Frames of the given format, whose header and colour table as stored are formatBytes:
    // its codec, size and largest sample. Pictures sent top row first are stored bottom
    // first, under the positive height every AVI reader takes.
    static AviVideoStream For(const BitmapInfoHeader& header, Block formatBytes);
};

// Writes an AVI file with one video stream, sample by sample, in the OpenDML layout: the
// first RIFF 'AVI ' with the headers, its 'movi' list and a legacy 'idx1', then RIFF 'AVIX'
// segments as the file grows, every sample reachable through standard index chunks that a
// super index in the stream header lists.
//
// The file stays readable while it grows: Commit() writes an index chunk for the samples
// since the last one and brings the header's sizes and counts up to date, so a recording
// cut off by a crash plays up to its last commit. Between commits nothing is rewritten.
//
// A sample that cannot be written completely is cut off again, so a full disk leaves a
// valid file of the samples before it; the writer goes on accepting samples.
//
// Samples given with the time they were seen carry it into the file: each standard index
// chunk has, just before it, a 'JUNK' chunk of the times of the samples it indexes
// (FrameTimesChunk), and the headers declare the mean rate of the samples so far, so that
// every player shows the clip's real length.
class AviWriter {
  public:
    // Creates the file (it must not exist yet when exclusive is set). nullptr with error.
    static std::unique_ptr<AviWriter> Create(const QString& path, const AviVideoStream& stream,
                                             bool exclusive, QString& error);
    // The same on a file opened by the caller; a file that cannot take the headers is
    // discarded.
    static std::unique_ptr<AviWriter> Create(std::unique_ptr<MediaFile> file,
                                             const AviVideoStream& stream, QString& error);
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Appends one sample, seen at utcMicros (microseconds since 1970 UTC; never earlier than
    // the sample before). false when it could not be written (errorText() says why). Times
    // are written only for index chunks whose every sample has one.
    bool WriteSample(std::span<const std::uint8_t> data, bool keyFrame,
                     std::optional<std::int64_t> utcMicros = std::nullopt);
    // The offset from UTC, in seconds east, of the local time the clip's times are shown in.
    void SetUtcOffsetSeconds(std::int32_t seconds) { utcOffsetSeconds_ = seconds; }
    // Replaces the stream format by one of the same length (a colour table known only
    // from the first frame).
    bool RewriteFormat(std::span<const std::uint8_t> format);
    // Makes every sample written so far reachable after a crash.
    bool Commit();
    // Final index and headers; the file is closed afterwards whatever happens.
    bool Close();

    // True once the file has no name any more (deleted, or its folder removed): what is
    // written from then on goes nowhere.
    bool FileRemoved() const;
    // Its path leads elsewhere or nowhere (a volume unmounted under it).
    bool FileUnreachable() const;

    std::uint32_t samples() const { return totalSamples_; }
    std::uint64_t bytesWritten() const { return end_; }
    const QString& errorText() const { return error_; }

    // Super index entries reserved in the header: each commit and each segment takes one.
    static constexpr std::uint32_t kSuperIndexCapacity = 4096;
    // A segment ends when its 'movi' list passes this size or holds this many samples.
    static constexpr std::uint64_t kDefaultSegmentBytes = 1ull << 30;
    static constexpr std::uint32_t kSegmentSampleLimit = 1u << 18;
    // Tests make segments small to cover the segmented layout without writing a gigabyte.
    void SetSegmentBytesForTesting(std::uint64_t bytes) { segmentBytes_ = bytes; }

  private:
    struct IndexEntry {
        std::uint64_t chunkPos;  // absolute position of the chunk's header
        std::uint32_t size;      // data size
        bool key;
    };

    AviWriter(std::unique_ptr<MediaFile> file, const AviVideoStream& stream);
    bool WriteHeaders();
    bool StartSegment();
    bool EndSegment();
    bool WriteStandardIndex();
    // The 'JUNK' chunk of the pending samples' times; empty when they have none.
    Block FrameTimesBytes() const;
    bool WriteLegacyIndex();
    bool PatchSizesAndCounts();
    bool Append(std::span<const std::uint8_t> bytes);
    bool AppendParts(std::span<const iovec> parts, std::uint64_t size);
    bool PatchAt(std::uint64_t pos, std::span<const std::uint8_t> bytes);
    bool PatchU32(std::uint64_t pos, std::uint32_t value);
    bool Fail(const char* what);

    std::unique_ptr<MediaFile> file_;  // null once closed
    AviVideoStream stream_;
    std::uint32_t chunkId_ = 0;
    std::uint64_t end_ = 0;  // where the next chunk goes

    // Fixed positions in the header, known once it is written.
    std::uint64_t avihPos_ = 0;
    std::uint64_t strhPos_ = 0;
    std::uint64_t strfPos_ = 0;
    std::uint64_t indxPos_ = 0;
    std::uint64_t dmlhPos_ = 0;

    // The segment being written.
    std::uint64_t riffPos_ = 0;
    std::uint64_t moviPos_ = 0;
    std::uint64_t moviEnd_ = 0;  // the end of the segment's 'movi' list once it is closed
    bool firstSegment_ = true;
    bool segmentClosed_ = false;
    bool superIndexFullLogged_ = false;
    std::uint32_t segmentSamples_ = 0;
    std::uint64_t segmentBytes_ = kDefaultSegmentBytes;

    std::vector<IndexEntry> pending_;         // samples since the last standard index chunk
    std::vector<std::int64_t> pendingTimes_;  // their times, while every one has a time
    bool pendingUntimed_ = false;             // one of them came without a time
    std::int32_t utcOffsetSeconds_ = 0;
    // The samples with times, and the first and last time: the mean rate the headers declare.
    std::uint32_t timedSamples_ = 0;
    std::int64_t firstTime_ = 0;
    std::int64_t lastTime_ = 0;
    std::vector<IndexEntry> legacyEntries_;  // the first segment's samples, for 'idx1'
    std::uint32_t superEntries_ = 0;
    std::uint32_t firstSegmentSamples_ = 0;
    std::uint32_t totalSamples_ = 0;
    std::uint32_t largestSample_ = 0;
    QString error_;
};

}  // namespace orvane
