#pragma once

#include "common/block.h"
#include "media/ffmpeg_handles.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace orvane {

// Encodes pictures for an export that cannot copy its clips' frames: H.264 (libx264,
// YUV 4:2:0) where the installed FFmpeg has it, else MPEG-4 part 2, at a fixed size with
// even sides. Pictures of another size are scaled to it. Any one thread.
class ExportEncoder {
  public:
    // Receives each packet made, its times in Mp4Output::kTimeBase; false stops the encoding.
    using PacketSink = std::function<bool(AVPacket& packet)>;

    // size: the first clip's picture size, rounded down to even sides. preferH264 false
    // picks MPEG-4 part 2 even when H.264 is there. framesPerSecond: the pictures' mean rate,
    // which the stream declares (H.264 picks its level from it). nullptr with the reason in
    // error.
    static std::unique_ptr<ExportEncoder> Create(int width, int height, AVRational framesPerSecond,
                                                 bool preferH264, QString& error);
    ~ExportEncoder();
    ExportEncoder(const ExportEncoder&) = delete;
    ExportEncoder& operator=(const ExportEncoder&) = delete;

    AVCodecID codec() const { return context_->codec_id; }
    int width() const { return context_->width; }
    int height() const { return context_->height; }
    // The decoder configuration the encoder made (global headers).
    std::span<const std::uint8_t> config() const;

    // One picture shown at pts for duration ticks (Mp4Output::kTimeBase).
    bool Encode(const QImage& picture, std::int64_t pts, std::int64_t duration,
                const PacketSink& sink, QString& error);
    // The pictures the encoder still holds.
    bool Finish(const PacketSink& sink, QString& error);

  private:
    ExportEncoder() = default;
    bool Drain(const PacketSink& sink, QString& error);

    CodecContextPtr context_;
    FramePtr frame_;
    PacketPtr packet_;
    SwsContextPtr sws_;
    // Each picture's pts and duration in order: the encoder makes no B-frames, so packets come
    // out in the order pictures went in, and each takes its picture's times back.
    std::deque<std::pair<std::int64_t, std::int64_t>> pending_;
    std::optional<std::int64_t> lastEncoderPts_;
};

}  // namespace orvane
