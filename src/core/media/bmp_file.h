#pragma once

#include "common/block.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvane {

// The BITMAPFILEHEADER in front of a .bmp file's packed DIB.
inline constexpr std::size_t kBmpFileHeaderSize = 14;
inline constexpr std::uint16_t kBmpFileType = 0x4D42;  // "BM"

// A packed DIB (BITMAPINFOHEADER, biClrUsed four-byte colour entries, pixel bits) as the bytes
// of a .bmp file. A biSizeImage of 0 is worked out from the picture's size and depth, and the
// file carries the worked-out value. Empty when the DIB is shorter than its header says, or
// its size cannot be known.
Block BmpFileBytes(std::span<const std::uint8_t> packedDib);

// Writes the DIB as a .bmp file at path, replacing what was there only once the whole file is
// on disk: a failed save leaves any old file as it was and no partial one. On failure error
// says why.
bool WriteBmpFile(const QString& path, std::span<const std::uint8_t> packedDib, QString& error);

}  // namespace orvane
