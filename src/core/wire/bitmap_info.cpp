#include "wire/bitmap_info.h"

#include "wire/byte_order.h"

#include <cctype>
#include <string>

namespace orvane {
namespace {

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

void WriteLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

std::optional<BitmapInfoHeader> BitmapInfoHeader::Parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kSize) {
        return std::nullopt;
    }
    BitmapInfoHeader h;
    h.biSize = ReadLe32(bytes, 0);
    h.biWidth = static_cast<std::int32_t>(ReadLe32(bytes, 4));
    h.biHeight = static_cast<std::int32_t>(ReadLe32(bytes, 8));
    h.biPlanes = ReadLe16(bytes, 12);
    h.biBitCount = ReadLe16(bytes, 14);
    h.biCompression = ReadLe32(bytes, 16);
    h.biSizeImage = ReadLe32(bytes, 20);
    h.biXPelsPerMeter = static_cast<std::int32_t>(ReadLe32(bytes, 24));
    h.biYPelsPerMeter = static_cast<std::int32_t>(ReadLe32(bytes, 28));
    h.biClrUsed = ReadLe32(bytes, 32);
    h.biClrImportant = ReadLe32(bytes, 36);
    return h;
}

void BitmapInfoHeader::WriteTo(std::span<std::uint8_t> bytes) const {
    WriteLe32(bytes, 0, biSize);
    WriteLe32(bytes, 4, static_cast<std::uint32_t>(biWidth));
    WriteLe32(bytes, 8, static_cast<std::uint32_t>(biHeight));
    WriteLe16(bytes, 12, biPlanes);
    WriteLe16(bytes, 14, biBitCount);
    WriteLe32(bytes, 16, biCompression);
    WriteLe32(bytes, 20, biSizeImage);
    WriteLe32(bytes, 24, static_cast<std::uint32_t>(biXPelsPerMeter));
    WriteLe32(bytes, 28, static_cast<std::uint32_t>(biYPelsPerMeter));
    WriteLe32(bytes, 32, biClrUsed);
    WriteLe32(bytes, 36, biClrImportant);
}

Block BitmapInfoHeader::Bytes() const {
    Block bytes(kSize, 0);
    WriteTo(bytes);
    return bytes;
}

std::optional<PackedFrame> ParsePackedFrame(std::span<const std::uint8_t> payload) {
    auto header = BitmapInfoHeader::Parse(payload);
    if (!header || header->biSize != BitmapInfoHeader::kSize) {
        return std::nullopt;
    }
    // Only an uncompressed picture may be stored top down; INT_MIN has no magnitude.
    const bool topDown = header->biHeight < 0 &&
                         header->biCompression == BitmapInfoHeader::kBiRgb &&
                         header->biHeight >= -kMaxFrameDimension;
    const std::int32_t rows = topDown ? -header->biHeight : header->biHeight;
    if (header->biWidth <= 0 || rows <= 0 || header->biWidth > kMaxFrameDimension ||
        rows > kMaxFrameDimension) {
        return std::nullopt;
    }
    const std::uint64_t available = payload.size() - BitmapInfoHeader::kSize;
    const std::uint64_t colourBytes = std::uint64_t{header->biClrUsed} * 4;
    if (colourBytes > available) {
        return std::nullopt;
    }
    const std::uint64_t imageAvailable = available - colourBytes;
    const std::uint64_t imageBytes =
        header->biSizeImage == 0 ? imageAvailable : std::uint64_t{header->biSizeImage};
    if (imageBytes > imageAvailable) {
        return std::nullopt;
    }
    PackedFrame frame;
    frame.header = *header;
    frame.colourTable = payload.subspan(BitmapInfoHeader::kSize, colourBytes);
    frame.imageData = payload.subspan(BitmapInfoHeader::kSize + colourBytes, imageBytes);
    return frame;
}

std::string FourccText(std::uint32_t fourcc) {
    if (fourcc == BitmapInfoHeader::kBiRgb) {
        return "BI_RGB";
    }
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        text.push_back(std::isprint(static_cast<unsigned char>(c)) ? c : '?');
    }
    return text;
}

}  // namespace orvane
