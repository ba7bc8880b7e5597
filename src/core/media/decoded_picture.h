#pragma once

#include "common/block.h"
#include "wire/bitmap_info.h"

#include <QImage>

#include <memory>

struct AVFrame;  // FFmpeg's, complete in picture_scaler.h

namespace orvane {

// A decoded picture, ready to draw (QImage::Format_RGB32, top row first), at the size it was
// asked for.
struct DecodedPicture {
    QImage image;
    // The header of the frame it was decoded from, when known (live pictures).
    BitmapInfoHeader source;
    // The decoded frame the picture was made from, at its own size: a full-size picture is
    // made from it when one is needed (FullSizePicture). Null when the picture is all there is.
    std::shared_ptr<const AVFrame> frame;

    bool valid() const { return !image.isNull(); }
};

// The picture as a packed device-independent bitmap: a 40-byte BITMAPINFOHEADER followed by
// 24-bit BGR rows, bottom row first, each padded to four bytes. This is what a snapshot saves.
Block ToPackedDib24(const QImage& image);

}  // namespace orvane
