#include "export/export_encoder.h"

#include "common/log.h"
#include "export/mp4_output.h"

namespace orvane {
namespace {

// The MPEG-4 part 2 encoder counts time in at most 16 bits per second: its clock is
// milliseconds, and packets are rescaled to the file's.
constexpr AVRational kMpeg4EncoderTimeBase{1, 1000};
// Quality rather than size: this is evidence. CRF 20 is visually lossless for surveillance
// pictures; "veryfast" keeps an export of an hour well below its real time.
constexpr const char* kH264Crf = "20";
constexpr const char* kH264Preset = "veryfast";
constexpr int kMpeg4Quantiser = 3;
constexpr int kGroupOfPictures = 250;

QString AvText(const char* what, int code) {
    return QStringLiteral("%1 (%2)").arg(QLatin1String(what),
                                         QString::fromStdString(AvError(code).text()));
}

}  // namespace

ExportEncoder::~ExportEncoder() = default;

std::unique_ptr<ExportEncoder> ExportEncoder::Create(int width, int height,
                                                     AVRational framesPerSecond, bool preferH264,
                                                     QString& error) {
    RouteFfmpegLogging();
    width &= ~1;
    height &= ~1;
    if (width < 2 || height < 2) {
        error =
            QStringLiteral("the pictures are too small to encode (%1 x %2)").arg(width).arg(height);
        return nullptr;
    }
    const AVCodec* codec = preferH264 ? avcodec_find_encoder_by_name("libx264") : nullptr;
    if (!codec) {
        codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    }
    if (!codec) {
        error = QStringLiteral("this FFmpeg has neither an H.264 nor an MPEG-4 encoder");
        return nullptr;
    }
    std::unique_ptr<ExportEncoder> encoder(new ExportEncoder);
    encoder->context_.reset(avcodec_alloc_context3(codec));
    encoder->frame_.reset(av_frame_alloc());
    encoder->packet_.reset(av_packet_alloc());
    AVCodecContext* context = encoder->context_.get();
    if (!context || !encoder->frame_ || !encoder->packet_) {
        error = QStringLiteral("out of memory");
        return nullptr;
    }
    const bool h264 = codec->id == AV_CODEC_ID_H264;
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = h264 ? Mp4Output::kTimeBase : kMpeg4EncoderTimeBase;
    // Without the rate libx264 takes one frame per time-base tick (90,000 a second) and
    // declares the highest level, which many players and devices refuse to open.
    if (framesPerSecond.num > 0 && framesPerSecond.den > 0) {
        context->framerate = framesPerSecond;
    }
    context->max_b_frames = 0;
    context->gop_size = kGroupOfPictures;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (h264) {
        av_dict_set(&options, "preset", kH264Preset, 0);
        av_dict_set(&options, "crf", kH264Crf, 0);
    } else {
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = FF_QP2LAMBDA * kMpeg4Quantiser;
    }
    const int opened = avcodec_open2(context, codec, &options);
    av_dict_free(&options);
    if (opened < 0) {
        error = AvText("cannot open the encoder", opened);
        return nullptr;
    }
    AVFrame* frame = encoder->frame_.get();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (const int code = av_frame_get_buffer(frame, 0); code < 0) {
        error = AvText("out of memory", code);
        return nullptr;
    }
    qCInfo(lcExport) << "encoding" << width << "x" << height << "with" << codec->name;
    return encoder;
}

std::span<const std::uint8_t> ExportEncoder::config() const {
    return {context_->extradata,
            context_->extradata ? static_cast<std::size_t>(context_->extradata_size) : 0};
}

bool ExportEncoder::Encode(const QImage& source, std::int64_t pts, std::int64_t duration,
                           const PacketSink& sink, QString& error) {
    const QImage picture = source.format() == QImage::Format_RGB32
                               ? source
                               : source.convertToFormat(QImage::Format_RGB32);
    SwsContext* previous = sws_.release();
    sws_.reset(sws_getCachedContext(previous, picture.width(), picture.height(), AV_PIX_FMT_RGB32,
                                    context_->width, context_->height, AV_PIX_FMT_YUV420P,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!sws_) {
        error = QStringLiteral("cannot convert a %1 x %2 picture")
                    .arg(picture.width())
                    .arg(picture.height());
        return false;
    }
    AVFrame* frame = frame_.get();
    if (const int code = av_frame_make_writable(frame); code < 0) {
        error = AvText("out of memory", code);
        return false;
    }
    const std::uint8_t* planes[4] = {picture.constBits(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(picture.bytesPerLine()), 0, 0, 0};
    sws_scale(sws_.get(), planes, strides, 0, picture.height(), frame->data, frame->linesize);
    // The encoder's clock may be coarser than the file's; it refuses a time twice.
    std::int64_t encoderPts = av_rescale_q(pts, Mp4Output::kTimeBase, context_->time_base);
    if (lastEncoderPts_ && encoderPts <= *lastEncoderPts_) {
        encoderPts = *lastEncoderPts_ + 1;
    }
    lastEncoderPts_ = encoderPts;
    frame->pts = encoderPts;
    pending_.emplace_back(pts, duration);
    if (const int code = avcodec_send_frame(context_.get(), frame); code < 0) {
        error = AvText("cannot encode a picture", code);
        return false;
    }
    return Drain(sink, error);
}

bool ExportEncoder::Finish(const PacketSink& sink, QString& error) {
    if (const int code = avcodec_send_frame(context_.get(), nullptr); code < 0) {
        error = AvText("cannot finish encoding", code);
        return false;
    }
    return Drain(sink, error);
}

bool ExportEncoder::Drain(const PacketSink& sink, QString& error) {
    AVPacket* packet = packet_.get();
    while (true) {
        const int code = avcodec_receive_packet(context_.get(), packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) {
            return true;
        }
        if (code < 0) {
            error = AvText("cannot encode a picture", code);
            return false;
        }
        if (pending_.empty()) {
            av_packet_unref(packet);
            error = QStringLiteral("the encoder gave more pictures than it was given");
            return false;
        }
        // Times in the file's clock, exactly as planned: rescaling through the encoder's
        // coarser clock could make two frames equal.
        packet->pts = packet->dts = pending_.front().first;
        packet->duration = pending_.front().second;
        pending_.pop_front();
        const bool taken = sink(*packet);
        av_packet_unref(packet);
        if (!taken) {
            return false;
        }
    }
}

}  // namespace orvane
