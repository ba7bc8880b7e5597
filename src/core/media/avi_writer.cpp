#include "media/avi_writer.h"

#include "common/log.h"
#include "media/frame_times.h"
#include "wire/bitmap_info.h"

#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvane {
namespace {

constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAviifKeyframe = 0x10;
constexpr std::uint32_t kDeltaFrameBit = 0x80000000u;
constexpr std::uint8_t kIndexOfIndexes = 0;
constexpr std::uint8_t kIndexOfChunks = 1;
constexpr std::size_t kMainHeaderSize = 56;
constexpr std::size_t kStreamHeaderSize = 56;
constexpr std::size_t kIndexHeaderSize = 24;
constexpr std::size_t kSuperIndexEntrySize = 16;
constexpr std::size_t kStandardIndexEntrySize = 8;
constexpr std::size_t kDmlhSize = 248;

// Little-endian bytes, appended.
class ByteWriter {
  public:
    void U8(std::uint8_t value) { bytes_.push_back(value); }
    void U16(std::uint16_t value) {
        U8(static_cast<std::uint8_t>(value));
        U8(static_cast<std::uint8_t>(value >> 8));
    }
    void U32(std::uint32_t value) {
        U16(static_cast<std::uint16_t>(value));
        U16(static_cast<std::uint16_t>(value >> 16));
    }
    void U64(std::uint64_t value) {
        U32(static_cast<std::uint32_t>(value));
        U32(static_cast<std::uint32_t>(value >> 32));
    }
    void Fourcc(const char (&text)[5]) { U32(MakeFourcc(text[0], text[1], text[2], text[3])); }
    void Zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void Bytes(std::span<const std::uint8_t> bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    std::size_t size() const { return bytes_.size(); }
    const Block& bytes() const { return bytes_; }

  private:
    Block bytes_;
};

std::array<std::uint8_t, 4> LittleEndian(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::uint32_t Chunk32(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
}

}  // namespace

AviVideoStream AviVideoStream::For(const BitmapInfoHeader& header, Block formatBytes) {
    AviVideoStream stream;
    stream.fccHandler = header.biCompression;
    stream.suggestedBufferSize = header.biSizeImage;
    stream.width = header.biWidth;
    stream.height = std::abs(header.biHeight);
    stream.uncompressed = header.biCompression == BitmapInfoHeader::kBiRgb;
    stream.format = std::move(formatBytes);
    return stream;
}

std::unique_ptr<AviWriter> AviWriter::Create(const QString& path, const AviVideoStream& stream,
                                             bool exclusive, QString& error) {
    auto file = OpenMediaFile(path, exclusive, error);
    if (!file) {
        return nullptr;
    }
    return Create(std::move(file), stream, error);
}

std::unique_ptr<AviWriter> AviWriter::Create(std::unique_ptr<MediaFile> file,
                                             const AviVideoStream& stream, QString& error) {
    std::unique_ptr<AviWriter> writer(new AviWriter(std::move(file), stream));
    if (!writer->WriteHeaders() || !writer->StartSegment() || !writer->PatchSizesAndCounts()) {
        error = writer->errorText();
        writer->file_->Discard();
        writer->file_.reset();
        return nullptr;
    }
    return writer;
}

AviWriter::AviWriter(std::unique_ptr<MediaFile> file, const AviVideoStream& stream)
    : file_(std::move(file)),
      stream_(stream),
      chunkId_(stream.uncompressed ? MakeFourcc('0', '0', 'd', 'b')
                                   : MakeFourcc('0', '0', 'd', 'c')) {}

AviWriter::~AviWriter() {
    if (file_) {
        Close();
    }
}

bool AviWriter::Fail(const char* what) {
    error_ = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                          QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

namespace {

// Writes every byte of the parts at pos, resuming after short writes and interruptions.
// false with errno set when the file takes no more.
bool WriteFully(MediaFile& file, std::uint64_t pos, std::span<const iovec> parts) {
    std::size_t total = 0;
    for (const iovec& part : parts) {
        total += part.iov_len;
    }
    std::size_t done = 0;
    while (done < total) {
        // Skip what went out already and hand the rest over in one call.
        std::array<iovec, 3> rest{};
        int count = 0;
        std::size_t skip = done;
        for (const iovec& part : parts) {
            if (skip >= part.iov_len) {
                skip -= part.iov_len;
                continue;
            }
            rest[static_cast<std::size_t>(count++)] = {
                static_cast<std::uint8_t*>(part.iov_base) + skip, part.iov_len - skip};
            skip = 0;
        }
        const ssize_t written =
            file.WriteAt(pos + done, std::span(rest.data(), static_cast<std::size_t>(count)));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool AviWriter::AppendParts(std::span<const iovec> parts, std::uint64_t size) {
    if (!WriteFully(*file_, end_, parts)) {
        const int saved = errno;
        // Cut back what got through, so the file never ends in half a chunk.
        if (!file_->Truncate(end_)) {
            qCWarning(lcMedia) << "cannot cut a partly written chunk off";
        }
        errno = saved;
        return Fail("write");
    }
    end_ += size;
    return true;
}

bool AviWriter::Append(std::span<const std::uint8_t> bytes) {
    const iovec part{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
    return AppendParts(std::span(&part, 1), bytes.size());
}

bool AviWriter::PatchAt(std::uint64_t pos, std::span<const std::uint8_t> bytes) {
    const iovec part{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
    return WriteFully(*file_, pos, std::span(&part, 1)) || Fail("header update");
}

bool AviWriter::PatchU32(std::uint64_t pos, std::uint32_t value) {
    const auto bytes = LittleEndian(value);
    return PatchAt(pos, bytes);
}

bool AviWriter::WriteHeaders() {
    const std::size_t formatPadded = stream_.format.size() + (stream_.format.size() & 1);
    const std::size_t indxSize = kIndexHeaderSize + kSuperIndexEntrySize * kSuperIndexCapacity;
    const std::size_t strlSize = 4 + (8 + kStreamHeaderSize) + (8 + formatPadded) + (8 + indxSize);
    const std::size_t odmlSize = 4 + 8 + kDmlhSize;
    const std::size_t hdrlSize = 4 + (8 + kMainHeaderSize) + (8 + strlSize) + (8 + odmlSize);

    ByteWriter out;
    out.Fourcc("RIFF");
    out.U32(0);  // set by the first commit
    out.Fourcc("AVI ");
    out.Fourcc("LIST");
    out.U32(static_cast<std::uint32_t>(hdrlSize));
    out.Fourcc("hdrl");

    out.Fourcc("avih");
    out.U32(kMainHeaderSize);
    avihPos_ = out.size();
    const std::uint32_t rate = stream_.rate ? stream_.rate : 1;
    out.U32(static_cast<std::uint32_t>(1000000ull * stream_.scale / rate));
    out.U32(
        Chunk32(std::uint64_t{stream_.suggestedBufferSize} * rate / std::max(1u, stream_.scale)));
    out.U32(0);  // padding granularity
    out.U32(kAvifHasIndex);
    out.U32(0);  // total frames of the first segment
    out.U32(0);  // initial frames
    out.U32(1);  // streams
    out.U32(stream_.suggestedBufferSize);
    out.U32(static_cast<std::uint32_t>(stream_.width));
    out.U32(static_cast<std::uint32_t>(stream_.height));
    out.Zeros(16);

    out.Fourcc("LIST");
    out.U32(static_cast<std::uint32_t>(strlSize));
    out.Fourcc("strl");
    out.Fourcc("strh");
    out.U32(kStreamHeaderSize);
    strhPos_ = out.size();
    out.Fourcc("vids");
    out.U32(stream_.fccHandler);
    out.U32(0);  // flags
    out.U16(0);  // priority
    out.U16(0);  // language
    out.U32(0);  // initial frames
    out.U32(stream_.scale);
    out.U32(stream_.rate);
    out.U32(0);  // start
    out.U32(0);  // length, kept up to date
    out.U32(stream_.suggestedBufferSize);
    out.U32(0);  // quality
    out.U32(0);  // sample size: varies
    out.U16(0);
    out.U16(0);
    out.U16(static_cast<std::uint16_t>(stream_.width));
    out.U16(static_cast<std::uint16_t>(stream_.height));

    out.Fourcc("strf");
    out.U32(static_cast<std::uint32_t>(stream_.format.size()));
    strfPos_ = out.size() - 8;
    out.Bytes(stream_.format);
    out.Zeros(formatPadded - stream_.format.size());

    out.Fourcc("indx");
    out.U32(static_cast<std::uint32_t>(indxSize));
    indxPos_ = out.size() - 8;
    out.U16(4);  // longs per entry
    out.U8(0);
    out.U8(kIndexOfIndexes);
    out.U32(0);  // entries in use
    out.U32(chunkId_);
    out.Zeros(12);
    out.Zeros(kSuperIndexEntrySize * kSuperIndexCapacity);

    out.Fourcc("LIST");
    out.U32(static_cast<std::uint32_t>(odmlSize));
    out.Fourcc("odml");
    out.Fourcc("dmlh");
    out.U32(kDmlhSize);
    dmlhPos_ = out.size();
    out.Zeros(kDmlhSize);

    riffPos_ = 0;
    return Append(out.bytes());
}

bool AviWriter::StartSegment() {
    ByteWriter out;
    if (!firstSegment_) {
        riffPos_ = end_;
        out.Fourcc("RIFF");
        out.U32(0);
        out.Fourcc("AVIX");
    }
    const std::uint64_t listPos = end_ + out.size();
    out.Fourcc("LIST");
    out.U32(4);
    out.Fourcc("movi");
    if (!Append(out.bytes())) {
        return false;
    }
    moviPos_ = listPos;
    segmentSamples_ = 0;
    segmentClosed_ = false;
    return true;
}

bool AviWriter::WriteSample(std::span<const std::uint8_t> data, bool keyFrame,
                            std::optional<std::int64_t> utcMicros) {
    if (!file_) {
        return false;
    }
    const std::uint64_t chunkSize = 8 + data.size() + (data.size() & 1);
    if (segmentSamples_ > 0 &&
        (end_ - moviPos_ + chunkSize > segmentBytes_ || segmentSamples_ >= kSegmentSampleLimit)) {
        // Ending the segment writes indexes and headers; a failure there (disk full) keeps
        // the segment open, and the sample goes where it would have gone.
        if (EndSegment()) {
            firstSegment_ = false;
            if (!StartSegment()) {
                return false;
            }
        }
    }
    const std::uint64_t chunkPos = end_;
    const auto header = std::array<std::uint8_t, 8>{
        static_cast<std::uint8_t>(chunkId_),          static_cast<std::uint8_t>(chunkId_ >> 8),
        static_cast<std::uint8_t>(chunkId_ >> 16),    static_cast<std::uint8_t>(chunkId_ >> 24),
        static_cast<std::uint8_t>(data.size()),       static_cast<std::uint8_t>(data.size() >> 8),
        static_cast<std::uint8_t>(data.size() >> 16), static_cast<std::uint8_t>(data.size() >> 24)};
    const std::uint8_t pad = 0;
    const iovec parts[3] = {{const_cast<std::uint8_t*>(header.data()), header.size()},
                            {const_cast<std::uint8_t*>(data.data()), data.size()},
                            {const_cast<std::uint8_t*>(&pad), data.size() & 1}};
    if (!AppendParts(parts, chunkSize)) {
        return false;
    }
    const IndexEntry entry{chunkPos, static_cast<std::uint32_t>(data.size()), keyFrame};
    pending_.push_back(entry);
    if (utcMicros) {
        pendingTimes_.push_back(*utcMicros);
        if (timedSamples_++ == 0) {
            firstTime_ = *utcMicros;
        }
        lastTime_ = std::max(lastTime_, *utcMicros);
    } else {
        pendingUntimed_ = true;
    }
    if (firstSegment_) {
        legacyEntries_.push_back(entry);
        ++firstSegmentSamples_;
    }
    ++segmentSamples_;
    ++totalSamples_;
    largestSample_ = std::max(largestSample_, static_cast<std::uint32_t>(data.size()));
    return true;
}

Block AviWriter::FrameTimesBytes() const {
    if (pendingUntimed_ || pendingTimes_.size() != pending_.size() || pending_.empty()) {
        return {};
    }
    FrameTimesChunk chunk;
    chunk.firstSample = totalSamples_ - static_cast<std::uint32_t>(pending_.size());
    chunk.utcOffsetSeconds = utcOffsetSeconds_;
    chunk.utcMicros = pendingTimes_;
    const Block data = chunk.Encode();
    ByteWriter out;
    out.Fourcc("JUNK");
    out.U32(static_cast<std::uint32_t>(data.size()));  // even: no padding
    out.Bytes(data);
    return out.bytes();
}

bool AviWriter::WriteStandardIndex() {
    if (pending_.empty()) {
        return true;
    }
    const auto clearPending = [this] {
        pending_.clear();
        pendingTimes_.clear();
        pendingUntimed_ = false;
    };
    // The times go just before the index chunk of their samples, in the same write, so a
    // reader that holds the index finds them at a position the index's count tells, and a
    // write cut short takes both back.
    const Block times = FrameTimesBytes();
    if (superEntries_ >= kSuperIndexCapacity) {
        if (!superIndexFullLogged_) {
            qCWarning(lcMedia) << "super index full; later samples are found by scanning";
            superIndexFullLogged_ = true;
        }
        // A scan finds the times as it finds the samples.
        if (!times.empty() && !Append(times)) {
            return false;
        }
        clearPending();
        return true;
    }
    ByteWriter out;
    out.Bytes(times);
    out.Fourcc("ix00");
    out.U32(
        static_cast<std::uint32_t>(kIndexHeaderSize + kStandardIndexEntrySize * pending_.size()));
    out.U16(2);  // longs per entry
    out.U8(0);
    out.U8(kIndexOfChunks);
    out.U32(static_cast<std::uint32_t>(pending_.size()));
    out.U32(chunkId_);
    out.U64(riffPos_);
    out.U32(0);
    for (const IndexEntry& entry : pending_) {
        out.U32(static_cast<std::uint32_t>(entry.chunkPos + 8 - riffPos_));
        out.U32(entry.size | (entry.key ? 0 : kDeltaFrameBit));
    }
    const std::uint64_t indexPos = end_ + times.size();
    if (!Append(out.bytes())) {
        return false;
    }
    ByteWriter superEntry;
    superEntry.U64(indexPos);
    superEntry.U32(static_cast<std::uint32_t>(out.size() - times.size()));
    superEntry.U32(static_cast<std::uint32_t>(pending_.size()));
    const std::uint64_t slot =
        indxPos_ + 8 + kIndexHeaderSize + std::uint64_t{kSuperIndexEntrySize} * superEntries_;
    // The entry first, then the count that makes readers look at it.
    if (!PatchAt(slot, superEntry.bytes()) || !PatchU32(indxPos_ + 8 + 4, superEntries_ + 1)) {
        return false;
    }
    ++superEntries_;
    clearPending();
    return true;
}

bool AviWriter::WriteLegacyIndex() {
    ByteWriter out;
    out.Fourcc("idx1");
    out.U32(static_cast<std::uint32_t>(16 * legacyEntries_.size()));
    const std::uint64_t moviFourcc = moviPos_ + 8;
    for (const IndexEntry& entry : legacyEntries_) {
        out.U32(chunkId_);
        out.U32(entry.key ? kAviifKeyframe : 0);
        out.U32(static_cast<std::uint32_t>(entry.chunkPos - moviFourcc));
        out.U32(entry.size);
    }
    if (!Append(out.bytes())) {
        return false;
    }
    legacyEntries_.clear();
    legacyEntries_.shrink_to_fit();
    return true;
}

bool AviWriter::EndSegment() {
    if (!WriteStandardIndex()) {
        return false;
    }
    moviEnd_ = end_;
    if (firstSegment_ && !WriteLegacyIndex()) {
        return false;
    }
    segmentClosed_ = true;
    return PatchSizesAndCounts();
}

bool AviWriter::PatchSizesAndCounts() {
    const std::uint64_t moviEnd = segmentClosed_ ? moviEnd_ : end_;
    // The mean rate of the samples so far, to the microsecond: a player's length and pace
    // then match the time the clip took. The header's own until two samples have times.
    if (timedSamples_ >= 2) {
        const std::int64_t span = std::max<std::int64_t>(0, lastTime_ - firstTime_);
        const auto interval = static_cast<std::uint32_t>(std::clamp<std::int64_t>(
            (span + (timedSamples_ - 1) / 2) / (timedSamples_ - 1), 1, 0xFFFFFFFF));
        if (!PatchU32(avihPos_, interval) || !PatchU32(strhPos_ + 20, interval) ||
            !PatchU32(strhPos_ + 24, 1000000)) {
            return false;
        }
    }
    return PatchU32(riffPos_ + 4, Chunk32(end_ - riffPos_ - 8)) &&
           PatchU32(moviPos_ + 4, Chunk32(moviEnd - moviPos_ - 8)) &&
           PatchU32(avihPos_ + 16, firstSegmentSamples_) &&
           PatchU32(strhPos_ + 32, totalSamples_) && PatchU32(dmlhPos_, totalSamples_);
}

bool AviWriter::RewriteFormat(std::span<const std::uint8_t> format) {
    if (!file_ || format.size() != stream_.format.size()) {
        return false;
    }
    stream_.format.assign(format.begin(), format.end());
    return PatchAt(strfPos_ + 8, format);
}

bool AviWriter::Commit() {
    if (!file_) {
        return false;
    }
    const bool ok = WriteStandardIndex() && PatchSizesAndCounts();
    // Start write-back now rather than in one burst later.
    file_->StartWriteBack();
    return ok;
}

bool AviWriter::FileRemoved() const {
    return file_ && file_->Removed();
}

bool AviWriter::FileUnreachable() const {
    return file_ && file_->Unreachable();
}

bool AviWriter::Close() {
    if (!file_) {
        return false;
    }
    bool ok = WriteStandardIndex();
    moviEnd_ = end_;
    if (ok && firstSegment_) {
        ok = WriteLegacyIndex();
    }
    segmentClosed_ = true;
    ok = PatchSizesAndCounts() && ok;
    if (!file_->Close()) {
        ok = Fail("close");
    }
    file_.reset();
    return ok;
}

}  // namespace orvane
