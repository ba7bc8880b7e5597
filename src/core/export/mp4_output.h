#pragma once

#include "media/ffmpeg_handles.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <span>

namespace orvane {

// One video stream written to an MP4 file with libavformat: the index at the front (fast
// start), the title and creation time in the file's metadata. Timestamps are in
// kTimeBase ticks; the caller keeps them strictly increasing. Any one thread.
class Mp4Output {
  public:
    // 90 kHz, the MPEG clock: an MP4 stores each sample's duration in 32 bits, and at this rate
    // a pause of 13 hours between two frames still fits.
    static constexpr AVRational kTimeBase{1, 90000};

    struct Stream {
        AVCodecID codec = AV_CODEC_ID_NONE;
        int width = 0;
        int height = 0;
        std::span<const std::uint8_t> config;  // the decoder configuration (extradata)
    };

    // Creates path (an existing file is truncated; the caller names a file of its own) and
    // writes the header. nullptr with the reason in error.
    static std::unique_ptr<Mp4Output> Create(const QString& path, const Stream& stream,
                                             const QString& title, std::int64_t creationUtcMicros,
                                             QString& error);
    ~Mp4Output();
    Mp4Output(const Mp4Output&) = delete;
    Mp4Output& operator=(const Mp4Output&) = delete;

    // One frame's bytes at pts for duration ticks.
    bool Write(std::span<const std::uint8_t> data, std::int64_t pts, std::int64_t duration,
               bool key, QString& error);
    // The same for a packet an encoder made, its times in kTimeBase already.
    bool Write(AVPacket& packet, QString& error);
    // Writes the index, moves it to the front and closes the file.
    bool Finish(QString& error);

  private:
    Mp4Output() = default;

    OutputFormatPtr context_;
    PacketPtr packet_;
    bool ioOpen_ = false;
};

}  // namespace orvane
