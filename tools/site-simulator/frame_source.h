#pragma once

#include "media/ffmpeg_handles.h"
#include "wire/bitmap_info.h"
#include "wire/message_builder.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::sim {

// The codecs a simulated site can stream, with the FOURCC its frames carry.
enum class SimulatedCodec { Mpeg4, Mjpeg, MsMpeg4v3, Cinepak, MsVideo1, Uncompressed, H264 };

std::optional<SimulatedCodec> ParseCodec(const QString& name);
QString CodecName(SimulatedCodec codec);
std::uint32_t CodecFourcc(SimulatedCodec codec);
std::vector<SimulatedCodec> AllCodecs();
// Frames from one key frame to the next in the codec's streams.
int GroupOfPictures(SimulatedCodec codec);

// The picture a simulated channel shows in a given frame: smooth gradients that depend on
// the channel and a bright block that moves with the frame index, so tests can compare what
// they decode with what was sent.
QImage TestPattern(int channelIndex, int frameIndex, QSize size);

// Encodes one channel's pictures live into packed frames (BITMAPINFOHEADER + data). Each
// stream has its own encoder, so inter-frame codecs stay consistent per channel. A
// groupOfPictures other than 0 replaces the codec's own (longer groups make seeks in a clip
// decode further).
class LiveEncoder {
  public:
    static std::unique_ptr<LiveEncoder> Create(SimulatedCodec codec, QSize size,
                                               int groupOfPictures = 0);
    ~LiveEncoder();

    // The packed frame of this picture; nullopt when the encoder produced nothing.
    std::optional<Block> Encode(const QImage& picture);
    QSize size() const { return size_; }

  private:
    LiveEncoder() = default;
    std::optional<Block> EncodeUncompressed(const QImage& picture) const;

    SimulatedCodec codec_ = SimulatedCodec::Mpeg4;
    QSize size_;
    CodecContextPtr context_;
    FramePtr frame_;
    PacketPtr packet_;
    SwsContextPtr sws_;
    std::int64_t pts_ = 0;
};

// The video packets of an AVI file, each packed with the stream's BITMAPINFOHEADER, to be
// sent as frames in a loop.
class AviPacketSource {
  public:
    // nullopt with error set when the file has no usable video stream.
    static std::shared_ptr<AviPacketSource> Load(const QString& path, QString& error);

    const std::vector<Block>& frames() const { return frames_; }
    const BitmapInfoHeader& format() const { return format_; }
    double framesPerSecond() const { return framesPerSecond_; }

  private:
    std::vector<Block> frames_;
    BitmapInfoHeader format_;
    double framesPerSecond_ = 10;
};

// BITMAPINFOHEADER + data in one block.
Block PackFrame(const BitmapInfoHeader& format, std::span<const std::uint8_t> data);

}  // namespace orvane::sim
