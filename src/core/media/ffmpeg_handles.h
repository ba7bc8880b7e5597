#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace orvane {

// Owners of FFmpeg objects; each is released by FFmpeg's own free function.
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SwsDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct InputFormatDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct OutputFormatDeleter {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;

// An FFmpeg return code with its text, for logs.
class AvError {
  public:
    explicit AvError(int code) : code_(code) {}
    int code() const { return code_; }
    bool failed() const { return code_ < 0; }
    std::string text() const {
        char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(code_, buffer, sizeof buffer);
        return buffer;
    }

  private:
    int code_;
};

// Sends FFmpeg's own log lines to the media logging category (warnings and worse). Once per
// process; later calls do nothing.
void RouteFfmpegLogging();

}  // namespace orvane
