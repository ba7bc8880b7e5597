#include "frame_source.h"

#include "wire/message_layout.h"

#include <QPainter>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <cstring>

namespace orvane::sim {
namespace {

constexpr int kGroupOfPictures = 12;
// H.264 as cameras send it: Main profile, one reference frame, no B-frames, a key frame
// every two seconds at 25 per second, about 4 Mbit/s at 1920 x 1080 and in proportion to the
// pixels at other sizes. The rate buffer keeps a key frame within what a site may send in one
// message.
constexpr int kH264GroupOfPictures = 50;
constexpr double kH264BitsPerPixelSecond = 4'000'000.0 / (1920.0 * 1080.0);
constexpr double kLargestFrameShare = 0.8;  // of the largest message

struct CodecTraits {
    SimulatedCodec codec;
    const char* name;
    const char* encoder;
    std::uint32_t fourcc;
    AVPixelFormat pixelFormat;
    std::uint16_t bitCount;
};

const CodecTraits kTraits[] = {
    {SimulatedCodec::Mpeg4, "mpeg4", "mpeg4", MakeFourcc('F', 'M', 'P', '4'), AV_PIX_FMT_YUV420P,
     24},
    {SimulatedCodec::Mjpeg, "mjpeg", "mjpeg", MakeFourcc('M', 'J', 'P', 'G'), AV_PIX_FMT_YUVJ420P,
     24},
    {SimulatedCodec::MsMpeg4v3, "msmpeg4v3", "msmpeg4", MakeFourcc('M', 'P', '4', '3'),
     AV_PIX_FMT_YUV420P, 24},
    {SimulatedCodec::Cinepak, "cinepak", "cinepak", MakeFourcc('c', 'v', 'i', 'd'),
     AV_PIX_FMT_RGB24, 24},
    {SimulatedCodec::MsVideo1, "msvideo1", "msvideo1", MakeFourcc('C', 'R', 'A', 'M'),
     AV_PIX_FMT_RGB555LE, 16},
    {SimulatedCodec::Uncompressed, "rgb", nullptr, BitmapInfoHeader::kBiRgb, AV_PIX_FMT_BGR24, 24},
    {SimulatedCodec::H264, "h264", "libx264", MakeFourcc('H', '2', '6', '4'), AV_PIX_FMT_YUV420P,
     24},
};

const CodecTraits& TraitsOf(SimulatedCodec codec) {
    for (const auto& traits : kTraits) {
        if (traits.codec == codec) {
            return traits;
        }
    }
    return kTraits[0];
}

}  // namespace

int GroupOfPictures(SimulatedCodec codec) {
    return codec == SimulatedCodec::H264 ? kH264GroupOfPictures : kGroupOfPictures;
}

std::optional<SimulatedCodec> ParseCodec(const QString& name) {
    for (const auto& traits : kTraits) {
        if (name.compare(QLatin1String(traits.name), Qt::CaseInsensitive) == 0) {
            return traits.codec;
        }
    }
    return std::nullopt;
}

QString CodecName(SimulatedCodec codec) {
    return QString::fromLatin1(TraitsOf(codec).name);
}
std::uint32_t CodecFourcc(SimulatedCodec codec) {
    return TraitsOf(codec).fourcc;
}

std::vector<SimulatedCodec> AllCodecs() {
    std::vector<SimulatedCodec> codecs;
    for (const auto& traits : kTraits) {
        codecs.push_back(traits.codec);
    }
    return codecs;
}

QImage TestPattern(int channelIndex, int frameIndex, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width();
    const int h = size.height();
    const int blue = (channelIndex * 70 + 40) % 256;
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            line[x] = qRgb(x * 255 / std::max(1, w - 1), y * 255 / std::max(1, h - 1), blue);
        }
    }
    // A block that moves a little every frame and wraps around.
    const int block = std::max(8, h / 6);
    const int x0 = (frameIndex * 6) % std::max(1, w - block);
    QPainter painter(&image);
    painter.fillRect(x0, (h - block) / 2, block, block, QColor(250, 250, 250));
    return image;
}

Block PackFrame(const BitmapInfoHeader& format, std::span<const std::uint8_t> data) {
    Block frame(BitmapInfoHeader::kSize + data.size());
    BitmapInfoHeader header = format;
    header.biSizeImage = static_cast<std::uint32_t>(data.size());
    header.WriteTo(frame);
    if (!data.empty()) {
        std::memcpy(frame.data() + BitmapInfoHeader::kSize, data.data(), data.size());
    }
    return frame;
}

LiveEncoder::~LiveEncoder() = default;

std::unique_ptr<LiveEncoder> LiveEncoder::Create(SimulatedCodec codec, QSize size,
                                                 int groupOfPictures) {
    std::unique_ptr<LiveEncoder> encoder(new LiveEncoder);
    encoder->codec_ = codec;
    encoder->size_ = size;
    const CodecTraits& traits = TraitsOf(codec);
    if (!traits.encoder) {
        return encoder;  // uncompressed frames need no FFmpeg encoder
    }
    const AVCodec* avCodec = avcodec_find_encoder_by_name(traits.encoder);
    if (!avCodec) {
        return nullptr;
    }
    encoder->context_.reset(avcodec_alloc_context3(avCodec));
    encoder->frame_.reset(av_frame_alloc());
    encoder->packet_.reset(av_packet_alloc());
    AVCodecContext* context = encoder->context_.get();
    context->width = size.width();
    context->height = size.height();
    context->pix_fmt = traits.pixelFormat;
    context->time_base = AVRational{1, 25};
    context->gop_size = groupOfPictures > 0 ? groupOfPictures : GroupOfPictures(codec);
    context->max_b_frames = 0;
    context->thread_count = 1;
    context->codec_tag = traits.fourcc;
    context->bit_rate = 400000;
    if (codec == SimulatedCodec::H264) {
        context->bit_rate =
            static_cast<std::int64_t>(kH264BitsPerPixelSecond * size.width() * size.height());
        context->refs = 1;
        context->rc_max_rate = context->bit_rate;
        context->rc_buffer_size = static_cast<int>(kLargestFrameShare * 8 * kSiteAssemblyCapacity);
    }
    if (codec == SimulatedCodec::Mjpeg) {
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = FF_QP2LAMBDA * 3;
    }
    AVDictionary* options = nullptr;
    if (codec == SimulatedCodec::H264) {
        av_dict_set(&options, "preset", "veryfast", 0);
        av_dict_set(&options, "tune", "zerolatency", 0);
        av_dict_set(&options, "profile", "main", 0);
        av_dict_set(&options, "x264-params", "scenecut=0", 0);
    }
    const int opened = avcodec_open2(context, avCodec, &options);
    av_dict_free(&options);
    if (opened < 0) {
        return nullptr;
    }
    AVFrame* frame = encoder->frame_.get();
    frame->format = traits.pixelFormat;
    frame->width = size.width();
    frame->height = size.height();
    if (av_frame_get_buffer(frame, 0) < 0) {
        return nullptr;
    }
    encoder->sws_.reset(sws_getContext(size.width(), size.height(), AV_PIX_FMT_RGB32, size.width(),
                                       size.height(), traits.pixelFormat, SWS_BICUBIC, nullptr,
                                       nullptr, nullptr));
    return encoder->sws_ ? std::move(encoder) : nullptr;
}

std::optional<Block> LiveEncoder::EncodeUncompressed(const QImage& picture) const {
    BitmapInfoHeader header;
    header.biWidth = size_.width();
    header.biHeight = size_.height();
    header.biBitCount = 24;
    header.biCompression = BitmapInfoHeader::kBiRgb;
    const QImage bgr = picture.convertToFormat(QImage::Format_BGR888);
    const std::size_t stride = (static_cast<std::size_t>(size_.width()) * 3 + 3) & ~std::size_t{3};
    Block rows(stride * static_cast<std::size_t>(size_.height()), 0);
    for (int y = 0; y < size_.height(); ++y) {
        std::memcpy(rows.data() + static_cast<std::size_t>(size_.height() - 1 - y) * stride,
                    bgr.constScanLine(y), static_cast<std::size_t>(size_.width()) * 3);
    }
    return PackFrame(header, rows);
}

std::optional<Block> LiveEncoder::Encode(const QImage& source) {
    const QImage picture = source.convertToFormat(QImage::Format_RGB32).scaled(size_);
    if (!context_) {
        return EncodeUncompressed(picture);
    }
    if (av_frame_make_writable(frame_.get()) < 0) {
        return std::nullopt;
    }
    const std::uint8_t* planes[4] = {picture.constBits(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(picture.bytesPerLine()), 0, 0, 0};
    sws_scale(sws_.get(), planes, strides, 0, size_.height(), frame_->data, frame_->linesize);
    frame_->pts = pts_++;
    if (avcodec_send_frame(context_.get(), frame_.get()) < 0) {
        return std::nullopt;
    }
    std::optional<Block> packed;
    while (avcodec_receive_packet(context_.get(), packet_.get()) == 0) {
        BitmapInfoHeader header;
        header.biWidth = size_.width();
        header.biHeight = size_.height();
        header.biBitCount = TraitsOf(codec_).bitCount;
        header.biCompression = TraitsOf(codec_).fourcc;
        packed =
            PackFrame(header, std::span(packet_->data, static_cast<std::size_t>(packet_->size)));
        av_packet_unref(packet_.get());
    }
    return packed;
}

std::shared_ptr<AviPacketSource> AviPacketSource::Load(const QString& path, QString& error) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.toUtf8().constData(), nullptr, nullptr) < 0) {
        error = QStringLiteral("cannot open %1").arg(path);
        return nullptr;
    }
    InputFormatPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        error = QStringLiteral("cannot read the streams of %1").arg(path);
        return nullptr;
    }
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        error = QStringLiteral("%1 has no video stream").arg(path);
        return nullptr;
    }
    const AVStream* stream = input->streams[index];
    const AVCodecParameters* parameters = stream->codecpar;
    auto source = std::make_shared<AviPacketSource>();
    source->format_.biWidth = parameters->width;
    source->format_.biHeight = parameters->height;
    source->format_.biBitCount = static_cast<std::uint16_t>(
        parameters->bits_per_coded_sample ? parameters->bits_per_coded_sample : 24);
    source->format_.biCompression = parameters->codec_tag;
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
        source->framesPerSecond_ = av_q2d(stream->avg_frame_rate);
    }
    PacketPtr packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == index && packet->size > 0) {
            source->frames_.push_back(PackFrame(
                source->format_, std::span(packet->data, static_cast<std::size_t>(packet->size))));
        }
        av_packet_unref(packet.get());
    }
    if (source->frames_.empty()) {
        error = QStringLiteral("%1 has no video packets").arg(path);
        return nullptr;
    }
    return source;
}

}  // namespace orvane::sim
