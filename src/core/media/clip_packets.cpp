#include "media/clip_packets.h"

#include "media/key_frames.h"

#include "common/log.h"
#include "media/ffmpeg_handles.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

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

    const double seconds = SecondsPerFrame(stream);
    if (std::isfinite(seconds) && seconds > 0 && seconds <= 3600) {
        clip->secondsPerFrame_ = seconds;
    }

    if (clip->LoadIndex()) {
        clip->ScanPastIndex();
    } else if (!clip->ScanSamples()) {
        error = QStringLiteral("%1 holds no video frames").arg(path);
        return nullptr;
    }
    for (std::size_t i = 0; i < clip->samples_.size(); ++i) {
        if (clip->samples_[i].key) {
            clip->keys_.push_back(static_cast<std::int64_t>(i));
        }
    }
    std::int32_t offset = clip->recordedOffset_;
    const auto named = ClipStartFromName(path);
    if (!named) {
        offset = QDateTime::currentDateTime().offsetFromUtc();
    }
    clip->timeline_ = ClipTimeline::Build(clip->frameCount(), clip->recordedTimes_, offset,
                                          clip->secondsPerFrame_, named.value_or(0));
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
    const char stream[2] = {static_cast<char>('0' + streamIndex_ / 10 % 10),
                            static_cast<char>('0' + streamIndex_ % 10)};
    KeyFrameProbe keys(format_);
    std::int64_t at = last->position + kChunkHeaderBytes + last->size + (last->size & 1);
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
        if (sample) {
            bool key = false;
            if (size > 0 && size <= kMaxSampleBytes && keys.knowsCodec()) {
                data.resize(static_cast<std::size_t>(size));
                key = avio_read(io, data.data(), static_cast<int>(size)) == size &&
                      keys.IsKeyFrame(data);
            }
            samples_.push_back({at, static_cast<std::uint32_t>(size), key});
            ++found;
        } else if (id != "JUNK" && id.substr(0, 2) != "ix" && id != "idx1" && id != "indx") {
            break;  // not a clip's chunk: nothing more is believed
        }
        at += kChunkHeaderBytes + size + (size & 1);
    }
    if (found > 0) {
        qCInfo(lcMedia) << found << "frames after the clip's last index";
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
