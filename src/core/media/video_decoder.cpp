#include "media/video_decoder.h"

#include "common/log.h"
#include "media/decoder_registry.h"
#include "media/ffmpeg_handles.h"
#include "media/picture_scaler.h"

#include <climits>
#include <cstring>

namespace orvane {
namespace {

// After this many frames in a row that fail, the decoder is flushed and waits for a frame
// it can start from, instead of carrying broken state forever.
constexpr int kFailuresBeforeReset = 25;

class FfmpegVideoDecoder final : public VideoDecoder {
  public:
    static std::unique_ptr<VideoDecoder> Open(const DecoderChoice& choice,
                                              const BitmapInfoHeader& format) {
        const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(choice.codecId));
        if (!codec) {
            return nullptr;
        }
        CodecContextPtr context(avcodec_alloc_context3(codec));
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!context || !packet || !frame) {
            return nullptr;
        }
        // Indeo needs the size before it opens; the others take it from the stream.
        context->width = format.biWidth;
        context->height = format.biHeight;
        context->codec_tag = format.biCompression;
        context->bits_per_coded_sample = format.biBitCount;
        context->thread_count = 1;
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        if (const AvError error(avcodec_open2(context.get(), codec, nullptr)); error.failed()) {
            qCWarning(lcMedia) << "cannot open decoder" << codec->name << error.text().c_str();
            return nullptr;
        }
        return std::unique_ptr<VideoDecoder>(
            new FfmpegVideoDecoder(std::move(context), std::move(packet), std::move(frame)));
    }

    std::optional<DecodedPicture> Decode(const PackedFrame& input, QSize pictureSize) override {
        return DecodeFrame(input, pictureSize, true);
    }

    bool DecodeWithoutPicture(const PackedFrame& input) override {
        return DecodeFrame(input, {}, false).has_value();
    }

    void Restart() override {
        avcodec_flush_buffers(context_.get());
        failures_ = 0;
    }

  private:
    // convert: a picture is wanted; without it a decoded frame gives an empty picture.
    std::optional<DecodedPicture> DecodeFrame(const PackedFrame& input, QSize pictureSize,
                                              bool convert) {
        if (!FillPacket(input.imageData)) {
            return std::nullopt;
        }
        if (!input.colourTable.empty()) {
            AttachPalette(input.colourTable);
        }
        const AvError sent(avcodec_send_packet(context_.get(), packet_.get()));
        if (sent.failed() && sent.code() != AVERROR(EAGAIN)) {
            return Failed();
        }
        std::optional<DecodedPicture> picture;
        while (true) {
            const int received = avcodec_receive_frame(context_.get(), frame_.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
                break;
            }
            if (received < 0) {
                return Failed();
            }
            picture = convert ? Convert(pictureSize) : DecodedPicture{};
            av_frame_unref(frame_.get());
        }
        if (picture) {
            failures_ = 0;
        }
        return picture;
    }

    FfmpegVideoDecoder(CodecContextPtr context, PacketPtr packet, FramePtr frame)
        : context_(std::move(context)), packet_(std::move(packet)), frame_(std::move(frame)) {}

    // Puts the image bytes into the packet. Its buffer is used again when the decoder no
    // longer holds it and it is large enough: one allocation less for every frame.
    bool FillPacket(std::span<const std::uint8_t> imageData) {
        const auto size = imageData.size();
        if (size > static_cast<std::size_t>(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) {
            return false;
        }
        AVBufferRef* buffer = packet_->buf;
        const bool reusable = buffer && av_buffer_is_writable(buffer) &&
                              buffer->size >= size + AV_INPUT_BUFFER_PADDING_SIZE;
        if (reusable) {
            av_packet_free_side_data(packet_.get());
            packet_->data = buffer->data;
            packet_->size = static_cast<int>(size);
            std::memset(packet_->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        } else {
            av_packet_unref(packet_.get());
            if (av_new_packet(packet_.get(), static_cast<int>(size)) < 0) {
                return false;
            }
        }
        std::memcpy(packet_->data, imageData.data(), size);
        return true;
    }

    std::optional<DecodedPicture> Failed() {
        if (++failures_ >= kFailuresBeforeReset) {
            qCWarning(lcMedia) << "decoder kept failing; flushing it";
            avcodec_flush_buffers(context_.get());
            failures_ = 0;
        }
        return std::nullopt;
    }

    void AttachPalette(std::span<const std::uint8_t> colourTable) {
        std::uint8_t* palette =
            av_packet_new_side_data(packet_.get(), AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        if (!palette) {
            return;
        }
        std::memset(palette, 0, AVPALETTE_SIZE);
        const std::size_t entries = std::min<std::size_t>(colourTable.size() / 4, 256);
        for (std::size_t i = 0; i < entries; ++i) {
            // RGBQUAD is B, G, R, reserved; FFmpeg's palette is native-endian 0xAARRGGBB.
            const std::uint32_t argb = 0xFF000000u | std::uint32_t{colourTable[i * 4 + 2]} << 16 |
                                       std::uint32_t{colourTable[i * 4 + 1]} << 8 |
                                       colourTable[i * 4];
            std::memcpy(palette + i * 4, &argb, 4);
        }
    }

    // Only the picture that is shown is converted, straight to the size it is shown at; the
    // frame goes with it for a full-size picture when one is wanted.
    std::optional<DecodedPicture> Convert(QSize pictureSize) {
        QImage image = scaler_.Convert(*frame_, pictureSize);
        if (image.isNull()) {
            return std::nullopt;
        }
        return DecodedPicture{std::move(image), {}, TakeFrame(*frame_)};
    }

    CodecContextPtr context_;
    PacketPtr packet_;
    FramePtr frame_;
    PictureScaler scaler_;
    int failures_ = 0;
};

// Uncompressed frames (BI_RGB): rows bottom first (top first with a negative height), each
// padded to four bytes.
//
// The frame is turned into a full-size picture as it is (a copy, no colour conversion), and
// that picture is scaled to the window's size by the same scaler as the decoded frames: the
// window draws every channel 1:1 whatever its codec, and the full-size picture is kept as
// the frame for snapshots.
class UncompressedDecoder final : public VideoDecoder {
  public:
    std::optional<DecodedPicture> Decode(const PackedFrame& input, QSize pictureSize) override {
        const int width = input.width();
        const int height = input.height();
        const int bits = input.header.biBitCount;
        const std::size_t stride =
            ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 31) / 32) * 4;
        if (input.imageData.size() < stride * static_cast<std::size_t>(height)) {
            return std::nullopt;
        }
        QImage::Format format = QImage::Format_Invalid;
        switch (bits) {
            case 8:
                format = QImage::Format_Indexed8;
                break;
            case 16:
                format = QImage::Format_RGB555;
                break;
            case 24:
                format = QImage::Format_BGR888;
                break;
            case 32:
                format = QImage::Format_RGB32;
                break;
            default:
                return std::nullopt;
        }
        const QImage view(input.imageData.data(), width, height, static_cast<qsizetype>(stride),
                          format);
        // Copied either way: the view lives no longer than the frame.
        QImage picture = input.topDown() ? view.copy() : view.mirrored(false, true);
        if (bits == 8) {
            QList<QRgb> colours(256, qRgb(0, 0, 0));
            const std::size_t entries = std::min<std::size_t>(input.colourTable.size() / 4, 256);
            for (std::size_t i = 0; i < entries; ++i) {
                colours[static_cast<qsizetype>(i)] =
                    qRgb(input.colourTable[i * 4 + 2], input.colourTable[i * 4 + 1],
                         input.colourTable[i * 4]);
            }
            picture.setColorTable(colours);
        }
        QImage full = picture.convertToFormat(QImage::Format_RGB32);
        SharedFrame frame = FrameOfPicture(full);
        if (!frame) {
            return std::nullopt;
        }
        if (pictureSize.isEmpty() || pictureSize == full.size()) {
            return DecodedPicture{std::move(full), {}, std::move(frame)};
        }
        QImage scaled = scaler_.Convert(*frame, pictureSize);
        if (scaled.isNull()) {
            return std::nullopt;
        }
        return DecodedPicture{std::move(scaled), {}, std::move(frame)};
    }

  private:
    PictureScaler scaler_;
};

}  // namespace

std::unique_ptr<VideoDecoder> VideoDecoder::Create(const DecoderChoice& choice,
                                                   const BitmapInfoHeader& format) {
    RouteFfmpegLogging();
    if (choice.uncompressed()) {
        return std::make_unique<UncompressedDecoder>();
    }
    return FfmpegVideoDecoder::Open(choice, format);
}

QImage DecodeSingleFrame(std::span<const std::uint8_t> packedFrame, QString* why) {
    auto fail = [why](const QString& reason) {
        if (why) {
            *why = reason;
        }
        return QImage();
    };
    const auto frame = ParsePackedFrame(packedFrame);
    if (!frame) {
        return fail(QStringLiteral("not a packed frame"));
    }
    const auto choice = FindDecoder(frame->header);
    if (!choice) {
        return fail(QStringLiteral("no decoder for %1")
                        .arg(QString::fromStdString(FourccText(frame->header.biCompression))));
    }
    auto decoder = VideoDecoder::Create(*choice, frame->header);
    if (!decoder) {
        return fail(QStringLiteral("the decoder does not open"));
    }
    const auto picture = decoder->Decode(*frame);
    return picture ? picture->image : fail(QStringLiteral("no picture"));
}

}  // namespace orvane
