#include "media/picture_scaler.h"

#include "wire/bitmap_info.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <limits>

namespace orvane {
namespace {

// QImage::Format_RGB32 in memory: B, G, R, then a byte the scaler sets to 255, on the
// little-endian machines we run on (FFmpeg names it by the byte order it has there).
constexpr AVPixelFormat kPictureFormat = AV_PIX_FMT_0RGB32;

// The scaler's vector code writes rows in whole blocks of pixels and runs past the end of
// a row (and of the last row) unless rows are aligned. The picture gets rows aligned to 64
// bytes and some slack behind the last one, in memory of its own that it frees itself.
QImage ScalerTarget(QSize size) {
    constexpr std::size_t kRowAlignment = 64;
    constexpr std::size_t kSlack = 64;
    const std::size_t stride =
        (static_cast<std::size_t>(size.width()) * 4 + kRowAlignment - 1) & ~(kRowAlignment - 1);
    void* memory = av_malloc(stride * static_cast<std::size_t>(size.height()) + kSlack);
    if (!memory) {
        return {};
    }
    return QImage(
        static_cast<uchar*>(memory), size.width(), size.height(), static_cast<qsizetype>(stride),
        QImage::Format_RGB32, [](void* bytes) { av_free(bytes); }, memory);
}

bool Fits(QSize size) {
    return size.width() > 0 && size.height() > 0 && size.width() <= kMaxFrameDimension &&
           size.height() <= kMaxFrameDimension;
}

void FreeFrame(const AVFrame* frame) {
    auto* owned = const_cast<AVFrame*>(frame);
    av_frame_free(&owned);
}

}  // namespace

PictureScaler::Context* PictureScaler::ContextFor(const AVFrame& frame, QSize size) {
    // JPEG's full-range formats are the plain ones with a flag; naming them so keeps the
    // scaler on its fast path (and quiet about deprecated formats).
    auto format = static_cast<AVPixelFormat>(frame.format);
    bool fullRange = frame.color_range == AVCOL_RANGE_JPEG;
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            format = AV_PIX_FMT_YUV420P;
            fullRange = true;
            break;
        case AV_PIX_FMT_YUVJ422P:
            format = AV_PIX_FMT_YUV422P;
            fullRange = true;
            break;
        case AV_PIX_FMT_YUVJ444P:
            format = AV_PIX_FMT_YUV444P;
            fullRange = true;
            break;
        default:
            break;
    }
    ++uses_;
    Context* oldest = &contexts_[0];
    for (Context& context : contexts_) {
        if (context.sws && context.sourceWidth == frame.width &&
            context.sourceHeight == frame.height && context.sourceFormat == format &&
            context.fullRange == fullRange && context.size == size) {
            context.lastUse = uses_;
            return &context;
        }
        if (context.lastUse < oldest->lastUse) {
            oldest = &context;
        }
    }
    Context& context = *oldest;
    context = Context{};
    context.sws.reset(sws_getContext(frame.width, frame.height, format, size.width(), size.height(),
                                     kPictureFormat, flags_, nullptr, nullptr, nullptr));
    if (!context.sws) {
        return nullptr;
    }
    const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(context.sws.get(), coefficients, fullRange ? 1 : 0, coefficients, 1, 0,
                             1 << 16, 1 << 16);
    context.sourceWidth = frame.width;
    context.sourceHeight = frame.height;
    context.sourceFormat = format;
    context.fullRange = fullRange;
    context.size = size;
    context.lastUse = uses_;
    return &context;
}

QImage PictureScaler::Convert(const AVFrame& frame, QSize size) {
    // The frame header was held to the size limit, but the stream states a size of its own,
    // and that is the one the decoder went by.
    if (!Fits(QSize(frame.width, frame.height))) {
        return {};
    }
    if (size.isEmpty()) {
        size = QSize(frame.width, frame.height);
    }
    if (!Fits(size)) {
        return {};
    }
    Context* context = ContextFor(frame, size);
    if (!context) {
        return {};
    }
    // A picture's memory is used again once no one holds it any more: a window keeps the one
    // it shows while the next is made, so a few take turns instead of a fresh allocation (and
    // its page faults) for every frame.
    QImage* target = nullptr;
    for (QImage& image : context->images) {
        if (!image.isNull() && image.isDetached()) {
            target = &image;
            break;
        }
    }
    if (!target) {
        QImage& oldest = context->images[context->nextImage];
        context->nextImage = (context->nextImage + 1) % context->images.size();
        oldest = ScalerTarget(size);
        if (oldest.isNull()) {
            return {};
        }
        target = &oldest;
    }
    std::uint8_t* planes[4] = {target->bits(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(target->bytesPerLine()), 0, 0, 0};
    sws_scale(context->sws.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    return *target;
}

SharedFrame TakeFrame(AVFrame& frame) {
    AVFrame* kept = av_frame_alloc();
    if (!kept) {
        return nullptr;
    }
    av_frame_move_ref(kept, &frame);
    return SharedFrame(kept, &FreeFrame);
}

SharedFrame FrameOfPicture(const QImage& picture) {
    if (picture.format() != QImage::Format_RGB32 || picture.isNull() ||
        picture.sizeInBytes() > std::numeric_limits<int>::max()) {
        return nullptr;
    }
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        return nullptr;
    }
    // The buffer holds a copy of the picture (sharing its pixels) until the frame goes.
    auto held = std::make_unique<QImage>(picture);
    AVBufferRef* buffer = av_buffer_create(
        const_cast<std::uint8_t*>(held->constBits()), static_cast<std::size_t>(held->sizeInBytes()),
        [](void* image, std::uint8_t*) { std::unique_ptr<QImage>(static_cast<QImage*>(image)); },
        held.get(), AV_BUFFER_FLAG_READONLY);
    if (!buffer) {
        return nullptr;
    }
    const QImage& image = *held.release();
    frame->buf[0] = buffer;
    frame->data[0] = buffer->data;
    frame->linesize[0] = static_cast<int>(image.bytesPerLine());
    frame->format = kPictureFormat;
    frame->width = image.width();
    frame->height = image.height();
    return SharedFrame(frame.release(), &FreeFrame);
}

QImage FullSizePicture(const DecodedPicture& picture) {
    if (!picture.frame ||
        picture.image.size() == QSize(picture.frame->width, picture.frame->height)) {
        return picture.image;
    }
    PictureScaler scaler;
    return scaler.Convert(*picture.frame, {});
}

}  // namespace orvane
