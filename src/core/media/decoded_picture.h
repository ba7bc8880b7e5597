#pragma once

#include "common/block.h"
#include "wire/bitmap_info.h"

#include <QImage>

namespace orvane {

// A decoded picture, ready to draw (QImage::Format_RGB32, top row first).
struct DecodedPicture {
    QImage image;
    // The header of the frame it was decoded from, when known (live pictures).
    BitmapInfoHeader source;

    bool valid() const { return !image.isNull(); }
};

// The picture as a packed device-independent bitmap: a 40-byte BITMAPINFOHEADER followed by
// 24-bit BGR rows, bottom row first, each padded to four bytes. This is what a snapshot saves.
Block ToPackedDib24(const QImage& image);

}  // namespace orvane
