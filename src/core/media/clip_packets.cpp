#include "media/clip_packets.h"

#include "media/key_frames.h"

#include "common/log.h"
#include "media/ffmpeg_handles.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane {
namespace {

// An index claiming far more frames than it has entries is not believed: the frame numbers
// are taken from the order of the entries instead.
constexpr std::int64_t kMaxFramesPerEntry = 4;
constexpr std::int64_t kMaxFrames = std::int64_t{1} << 27;
// Frames larger than this are not a recorder's: refused rather than read into memory.
constexpr std::uint32_t kMaxSampleBytes = 64u << 20;
constexpr std::size_t kMaxColourEntries = 256;
constexpr std::int64_t kChunkHeaderBytes = 8;

double SecondsPerFrame(const AVStream* stream) {
    for (const AVRational rate : {stream->avg_frame_rate, stream->r_frame_rate}) {
        if (rate.num > 0 && rate.den > 0) {
            return av_q2d(av_inv_q(rate));
        }
    }
    return av_q2d(stream->time_base);
}

// Little-endian numbers in bytes known to hold them.
std::uint32_t U32At(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

std::uint64_t U64At(const std::uint8_t* bytes) {
    return std::uint64_t{U32At(bytes)} | std::uint64_t{U32At(bytes + 4)} << 32;
}

bool IdIs(const std::uint8_t* bytes, const char (&id)[5]) {
    return std::equal(bytes, bytes + 4, id);
}

// count bytes at position, all of them or false.
bool ReadAt(AVIOContext* io, std::int64_t position, std::uint8_t* bytes, std::int64_t count) {
    return count >= 0 && count <= std::numeric_limits<int>::max() &&
           avio_seek(io, position, SEEK_SET) >= 0 &&
           avio_read(io, bytes, static_cast<int>(count)) == count;
}

// A stream's header lists are small; anything claiming more is not read.
constexpr std::int64_t kMaxHeaderListBytes = 4 << 20;
// Top-level chunks looked at before the header list or the first 'movi' list.
constexpr int kMaxTopLevelChunks = 256;

bool IsDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// A sample chunk's header ("NNdc" or "NNdb") stands at position.
bool ChunkHeaderAt(AVIOContext* io, std::int64_t position) {
    std::uint8_t id[4];
    return avio_seek(io, position, SEEK_SET) >= 0 && avio_read(io, id, 4) == 4 && IsDigit(id[0]) &&
           IsDigit(id[1]) && id[2] == 'd' && (id[3] == 'c' || id[3] == 'b');
}

}  // namespace

struct ClipPackets::Input {
    InputFormatPtr context;
};

ClipPackets::ClipPackets() : input_(std::make_unique<Input>()) {}
ClipPackets::~ClipPackets() = default;

std::unique_ptr<ClipPackets> ClipPackets::Open(const QString& path, QString& error) {
    RouteFfmpegLogging();
    const QFileInfo info(path);
    if (!info.exists()) {
        error = QStringLiteral("%1 does not exist").arg(path);
        return nullptr;
    }
    if (!info.isFile()) {
        error = QStringLiteral("%1 is not a file").arg(path);
        return nullptr;
    }
    std::unique_ptr<ClipPackets> clip(new ClipPackets);
    clip->fileSize_ = info.size();
    // Only the AVI reader is asked: a clip is an AVI file, and guessing other formats from
    // arbitrary bytes would only find ways to misread it.
    const AVInputFormat* avi = av_find_input_format("avi");
    AVFormatContext* raw = nullptr;
    if (const AvError opened(avformat_open_input(&raw, path.toUtf8().constData(), avi, nullptr));
        opened.failed()) {
        error = QStringLiteral("%1 is not an AVI file (%2)")
                    .arg(path, QString::fromStdString(opened.text()));
        return nullptr;
    }
    clip->input_->context.reset(raw);
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        error = QStringLiteral("%1 has no video stream").arg(path);
        return nullptr;
    }
    clip->streamIndex_ = index;
    const AVStream* stream = raw->streams[index];
    // Some writers leave the picture size out of the stream format; only decoding the first
    // frames tells it then. Done only for those: it reads and decodes, which a long clip
    // with a complete header need not wait for.
    if (stream->codecpar->width <= 0 || stream->codecpar->height <= 0) {
        avformat_find_stream_info(raw, nullptr);
    }
    const AVCodecParameters* parameters = stream->codecpar;

    BitmapInfoHeader& format = clip->format_;
    format.biWidth = parameters->width;
    format.biHeight = parameters->height;
    format.biBitCount =
        static_cast<std::uint16_t>(std::clamp(parameters->bits_per_coded_sample, 0, 0xFFFF));
    format.biCompression = parameters->codec_tag;
    if (format.biWidth <= 0 || format.biHeight <= 0 || format.biWidth > kMaxFrameDimension ||
        format.biHeight > kMaxFrameDimension) {
        error = QStringLiteral("%1 has a video stream of an impossible size (%2 x %3)")
                    .arg(path)
                    .arg(format.biWidth)
                    .arg(format.biHeight);
        return nullptr;
    }
    // The reader hands over the stream format's bytes behind its 40-byte header: the colour
    // table of a palettised format, the sequence headers of an MPEG-4 one.
    const std::span<const std::uint8_t> extra(
        parameters->extradata, parameters->extradata ? std::size_t(parameters->extradata_size) : 0);
    if (format.biBitCount <= 8 && !extra.empty()) {
        const std::size_t entries = std::min(extra.size() / 4, kMaxColourEntries);
        clip->colourTable_.assign(extra.begin(), extra.begin() + std::ptrdiff_t(entries * 4));
        format.biClrUsed = static_cast<std::uint32_t>(entries);
    } else if (parameters->codec_id == AV_CODEC_ID_MPEG4) {
        clip->streamHeaders_.assign(extra.begin(), extra.end());
    }

    clip->listedFrames_ = std::clamp<std::int64_t>(stream->nb_frames, 0, kMaxFrames);
    const double seconds = SecondsPerFrame(stream);
    if (std::isfinite(seconds) && seconds > 0 && seconds <= 3600) {
        clip->secondsPerFrame_ = seconds;
    }

    if (clip->LoadIndex()) {
        clip->ReadIndexedTimes();
        clip->ScanPastIndex();
    } else if (!clip->ScanSamples()) {
        error = QStringLiteral("%1 holds no video frames").arg(path);
        return nullptr;
    } else if (const std::int64_t movi = clip->FirstMoviChunks(); movi >= 0) {
        clip->WalkChunks(movi, false);
    }
    for (std::size_t i = 0; i < clip->samples_.size(); ++i) {
        if (clip->samples_[i].key) {
            clip->keys_.push_back(static_cast<std::int64_t>(i));
        }
    }
    // A clip without recorded times starts when its name says, in local time; one named
    // otherwise ended when the file was last written.
    std::int32_t offset = clip->recordedOffset_;
    std::int64_t start = 0;
    if (const auto named = ClipStartFromName(path)) {
        start = *named;
    } else {
        const double length = clip->secondsPerFrame_ * static_cast<double>(clip->frameCount());
        start = QFileInfo(path).lastModified().toMSecsSinceEpoch() * 1000 -
                static_cast<std::int64_t>(length * 1e6);
    }
    const bool anyRecorded = std::any_of(clip->recordedTimes_.begin(), clip->recordedTimes_.end(),
                                         [](const auto& time) { return time.has_value(); });
    if (!anyRecorded) {
        offset = QDateTime::fromMSecsSinceEpoch(start / 1000).offsetFromUtc();
    }
    clip->timeline_ = ClipTimeline::Build(clip->frameCount(), clip->recordedTimes_, offset,
                                          clip->secondsPerFrame_, start);
    qCInfo(lcMedia) << "clip" << path << "has" << clip->frameCount() << "frames,"
                    << clip->keys_.size() << "key frames," << clip->secondsPerFrame_
                    << "s per frame" << (clip->scanned_ ? "(no index: samples scanned)" : "");
    return clip;
}

// The reader has read the file's own index (the OpenDML index chunks, else 'idx1') when it
// opened it. Entries count frames in the stream's time base, one per frame; frames without
// data have no entry but still take their place.
bool ClipPackets::LoadIndex() {
    AVStream* stream = input_->context->streams[streamIndex_];
    const int entries = avformat_index_get_entries_count(stream);
    if (entries <= 0) {
        return false;
    }
    std::int64_t last = -1;
    bool ordered = true;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (!entry || entry->timestamp <= last) {
            ordered = false;
            break;
        }
        last = entry->timestamp;
    }
    const bool byTimestamp =
        ordered && last < std::min(kMaxFrames, std::int64_t{entries} * kMaxFramesPerEntry + 16);
    samples_.clear();
    samples_.reserve(static_cast<std::size_t>(byTimestamp ? last + 1 : entries));
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (byTimestamp) {
            samples_.resize(static_cast<std::size_t>(entry->timestamp));
        }
        samples_.push_back({entry->pos, static_cast<std::uint32_t>(entry->size),
                            (entry->flags & AVINDEX_KEYFRAME) != 0});
    }
    return !samples_.empty();
}

// A clip cut off before it wrote any index: every sample's header is read once, in order.
bool ClipPackets::ScanSamples() {
    AVFormatContext* context = input_->context.get();
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        return false;
    }
    samples_.clear();
    scanned_ = true;
    while (av_read_frame(context, packet.get()) >= 0 &&
           static_cast<std::int64_t>(samples_.size()) < kMaxFrames) {
        if (packet->stream_index == streamIndex_) {
            samples_.push_back({packet->pos, static_cast<std::uint32_t>(packet->size),
                                (packet->flags & AV_PKT_FLAG_KEY) != 0});
        }
        av_packet_unref(packet.get());
    }
    // The demuxer tells where a packet's data starts; a sample is found by its chunk header,
    // as the index has it, which stands just before.
    AVIOContext* io = context->pb;
    for (Sample& entry : samples_) {
        if (io && entry.position >= kChunkHeaderBytes && !ChunkHeaderAt(io, entry.position) &&
            ChunkHeaderAt(io, entry.position - kChunkHeaderBytes)) {
            entry.position -= kChunkHeaderBytes;
        }
    }
    return !samples_.empty();
}

// A recording cut off by a crash or a kill has samples after the last index it wrote: they
// are found by walking the chunks that follow the last indexed sample, over index chunks,
// padding and list headers, as long as each chunk fits in the file.
void ClipPackets::ScanPastIndex() {
    AVIOContext* io = input_->context->pb;
    auto last = std::find_if(samples_.rbegin(), samples_.rend(),
                             [](const Sample& sample) { return sample.position >= 0; });
    if (!io || last == samples_.rend()) {
        return;
    }
    WalkChunks(last->position + kChunkHeaderBytes + last->size + (last->size & 1), true);
}

void ClipPackets::WalkChunks(std::int64_t at, bool addSamples) {
    AVIOContext* io = input_->context->pb;
    if (!io) {
        return;
    }
    const char stream[2] = {static_cast<char>('0' + streamIndex_ / 10 % 10),
                            static_cast<char>('0' + streamIndex_ % 10)};
    KeyFrameProbe keys(format_);
    std::size_t found = 0;
    Block data;
    while (at <= fileSize_ - kChunkHeaderBytes && frameCount() < kMaxFrames) {
        std::uint8_t header[kChunkHeaderBytes];
        if (avio_seek(io, at, SEEK_SET) < 0 ||
            avio_read(io, header, sizeof header) != int{sizeof header}) {
            break;
        }
        const std::string_view id(reinterpret_cast<const char*>(header), 4);
        const std::int64_t size = std::int64_t{header[4]} | std::int64_t{header[5]} << 8 |
                                  std::int64_t{header[6]} << 16 | std::int64_t{header[7]} << 24;
        if (id == "RIFF" || id == "LIST") {
            at += kChunkHeaderBytes + 4;  // into the list: its chunks follow its type
            continue;
        }
        if (size > fileSize_ - at - kChunkHeaderBytes) {
            break;  // cut off inside this chunk
        }
        const bool sample = id[0] == stream[0] && id[1] == stream[1] &&
                            (id.substr(2) == "dc" || id.substr(2) == "db");
        if (sample && addSamples) {
            bool key = false;
            if (size > 0 && size <= kMaxSampleBytes && keys.knowsCodec()) {
                data.resize(static_cast<std::size_t>(size));
                key = avio_read(io, data.data(), static_cast<int>(size)) == size &&
                      keys.IsKeyFrame(data);
            }
            samples_.push_back({at, static_cast<std::uint32_t>(size), key});
            ++found;
        } else if (id == "JUNK") {
            ReadTimesChunk(at, size);
        } else if (!sample && id.substr(0, 2) != "ix" && id != "idx1" && id != "indx") {
            break;  // not a clip's chunk: nothing more is believed
        }
        at += kChunkHeaderBytes + size + (size & 1);
    }
    if (found > 0) {
        qCInfo(lcMedia) << found << "frames after the clip's last index";
    }
}

bool ClipPackets::ReadTimesChunk(std::int64_t position, std::int64_t size) {
    AVIOContext* io = input_->context->pb;
    if (size < static_cast<std::int64_t>(FrameTimesChunk::kHeaderBytes) ||
        size > static_cast<std::int64_t>(FrameTimesChunk::DataBytes(FrameTimesChunk::kMaxCount)) ||
        size > fileSize_ - position - kChunkHeaderBytes) {
        return false;
    }
    // The tag first: padding of another writer is not read whole.
    std::uint8_t tag[4];
    if (!ReadAt(io, position + kChunkHeaderBytes, tag, 4) || !IdIs(tag, "OVTM")) {
        return false;
    }
    Block bytes(static_cast<std::size_t>(size));
    if (!ReadAt(io, position + kChunkHeaderBytes, bytes.data(), size)) {
        return false;
    }
    const auto chunk = FrameTimesChunk::Decode(bytes);
    if (!chunk) {
        return false;
    }
    // Only frames the clip has: a time never makes a frame.
    const std::size_t frames = samples_.size();
    if (recordedTimes_.size() < frames) {
        recordedTimes_.resize(frames);
    }
    for (std::size_t i = 0; i < chunk->utcMicros.size(); ++i) {
        const std::uint64_t frame = std::uint64_t{chunk->firstSample} + i;
        if (frame >= frames) {
            break;
        }
        recordedTimes_[static_cast<std::size_t>(frame)] = chunk->utcMicros[i];
    }
    recordedOffset_ = chunk->utcOffsetSeconds;
    return true;
}

std::int64_t ClipPackets::FirstMoviChunks() {
    AVIOContext* io = input_->context->pb;
    std::int64_t at = 12;  // past "RIFF", its size and "AVI "
    for (int i = 0; i < kMaxTopLevelChunks && io && at <= fileSize_ - 12; ++i) {
        std::uint8_t header[12];
        if (!ReadAt(io, at, header, sizeof header)) {
            return -1;
        }
        if (IdIs(header, "LIST") && IdIs(header + 8, "movi")) {
            return at + 12;
        }
        const std::int64_t size = U32At(header + 4);
        at += kChunkHeaderBytes + size + (size & 1);
    }
    return -1;
}

// A recording writes each commit's times just before the commit's standard index chunk, so
// the super index in the stream's header leads to them: the index chunk tells how many
// samples it holds, and with that where the times begin. Only what fits in the file and
// matches the index chunk's count is taken.
void ClipPackets::ReadIndexedTimes() {
    AVIOContext* io = input_->context->pb;
    if (!io) {
        return;
    }
    // The header list: top-level chunks up to 'LIST hdrl'.
    Block header;
    std::int64_t at = 12;
    for (int i = 0; i < kMaxTopLevelChunks && at <= fileSize_ - 12; ++i) {
        std::uint8_t chunk[12];
        if (!ReadAt(io, at, chunk, sizeof chunk)) {
            return;
        }
        const std::int64_t size = U32At(chunk + 4);
        if (IdIs(chunk, "LIST") && IdIs(chunk + 8, "hdrl")) {
            if (size < 4 || size > kMaxHeaderListBytes || size > fileSize_ - at - 8) {
                return;
            }
            header.resize(static_cast<std::size_t>(size - 4));
            if (!ReadAt(io, at + 12, header.data(), size - 4)) {
                return;
            }
            break;
        }
        at += kChunkHeaderBytes + size + (size & 1);
    }
    // The stream's list, then its 'indx'.
    const auto findChunk = [](std::span<const std::uint8_t> list, const char(&id)[5],
                              const char* listType,
                              int skip) -> std::optional<std::span<const std::uint8_t>> {
        std::size_t pos = 0;
        while (pos + 8 <= list.size()) {
            const std::uint32_t size = U32At(list.data() + pos + 4);
            if (size > list.size() - pos - 8) {
                return std::nullopt;
            }
            const auto data = list.subspan(pos + 8, size);
            const bool listMatches =
                listType == nullptr ||
                (size >= 4 && std::equal(data.begin(), data.begin() + 4, listType));
            if (IdIs(list.data() + pos, id) && listMatches && skip-- == 0) {
                return listType ? data.subspan(4) : data;
            }
            pos += 8 + size + (size & 1);
        }
        return std::nullopt;
    };
    const auto strl = findChunk(header, "LIST", "strl", streamIndex_);
    const auto indx = strl ? findChunk(*strl, "indx", nullptr, 0) : std::nullopt;
    constexpr std::size_t kIndexHeader = 24;
    constexpr std::size_t kEntry = 16;
    if (!indx || indx->size() < kIndexHeader || (*indx)[3] != 0 /* an index of indexes */) {
        return;
    }
    const std::size_t entries =
        std::min<std::size_t>(U32At(indx->data() + 4), (indx->size() - kIndexHeader) / kEntry);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint8_t* entry = indx->data() + kIndexHeader + kEntry * i;
        const std::uint64_t indexPos = U64At(entry);
        std::uint8_t index[8 + kIndexHeader];
        if (indexPos > static_cast<std::uint64_t>(fileSize_) ||
            !ReadAt(io, static_cast<std::int64_t>(indexPos), index, sizeof index) ||
            index[0] != 'i' || index[1] != 'x') {
            continue;
        }
        const std::uint32_t count = U32At(index + 8 + 4);
        if (count == 0 || count > FrameTimesChunk::kMaxCount) {
            continue;
        }
        const auto dataBytes = static_cast<std::int64_t>(FrameTimesChunk::DataBytes(count));
        const std::int64_t timesPos =
            static_cast<std::int64_t>(indexPos) - kChunkHeaderBytes - dataBytes;
        std::uint8_t timesHeader[kChunkHeaderBytes];
        if (timesPos < 0 || !ReadAt(io, timesPos, timesHeader, sizeof timesHeader) ||
            !IdIs(timesHeader, "JUNK") || U32At(timesHeader + 4) != dataBytes) {
            continue;
        }
        ReadTimesChunk(timesPos, dataBytes);
    }
}

std::int64_t ClipPackets::KeyAtOrBefore(std::int64_t frame) const {
    const auto after = std::upper_bound(keys_.begin(), keys_.end(), frame);
    return after == keys_.begin() ? 0 : *std::prev(after);
}

bool ClipPackets::Read(std::int64_t frame, Block& bytes) {
    bytes.clear();
    if (frame < 0 || frame >= frameCount()) {
        return false;
    }
    const Sample& entry = sample(frame);
    if (entry.position < 0 || entry.size == 0) {
        return true;
    }
    if (entry.size > kMaxSampleBytes || entry.position > fileSize_ - kChunkHeaderBytes ||
        std::int64_t{entry.size} > fileSize_ - kChunkHeaderBytes - entry.position) {
        qCWarning(lcMedia) << "frame" << frame << "lies past the end of the clip";
        return false;
    }
    AVIOContext* io = input_->context->pb;
    if (!io || avio_seek(io, entry.position, SEEK_SET) < 0) {
        return false;
    }
    std::uint8_t header[kChunkHeaderBytes];
    if (avio_read(io, header, sizeof header) != int{sizeof header}) {
        return false;
    }
    // "NNdc" (or "NNdb") of this stream with room for the sample behind it.
    const std::uint32_t chunkSize = std::uint32_t{header[4]} | std::uint32_t{header[5]} << 8 |
                                    std::uint32_t{header[6]} << 16 | std::uint32_t{header[7]} << 24;
    if (!IsDigit(header[0]) || !IsDigit(header[1]) || chunkSize < entry.size) {
        qCWarning(lcMedia) << "frame" << frame << "has no sample chunk where the index says";
        return false;
    }
    bytes.resize(entry.size);
    return avio_read(io, bytes.data(), static_cast<int>(entry.size)) ==
           static_cast<int>(entry.size);
}

}  // namespace orvane

namespace orvane {

std::optional<std::int64_t> ClipStartFromName(const QString& path) {
    const QString name = QFileInfo(path).fileName().left(14);
    const QDateTime start = QDateTime::fromString(name, QStringLiteral("yyyyMMddHHmmss"));
    if (name.size() != 14 || !start.isValid()) {
        return std::nullopt;
    }
    return start.toMSecsSinceEpoch() * 1000;
}

}  // namespace orvane
