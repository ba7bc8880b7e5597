#pragma once

#include "common/block.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace orvane {

// BITMAPINFOHEADER, the 40 bytes in front of every frame a site sends.
struct BitmapInfoHeader {
    static constexpr std::size_t kSize = 40;
    static constexpr std::uint32_t kBiRgb = 0;  // uncompressed

    std::uint32_t biSize = kSize;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;

    // Reads the header fields; nullopt when fewer than 40 bytes are given.
    static std::optional<BitmapInfoHeader> Parse(std::span<const std::uint8_t> bytes);
    void WriteTo(std::span<std::uint8_t> bytes) const;
    Block Bytes() const;
};

// Pictures larger than this on either side are refused before any decoder sees them.
inline constexpr std::int32_t kMaxFrameDimension = 8192;

// A packed frame: BITMAPINFOHEADER, biClrUsed four-byte colour entries, then the image data.
// Views into the payload it was parsed from.
struct PackedFrame {
    BitmapInfoHeader header;
    std::span<const std::uint8_t> colourTable;
    std::span<const std::uint8_t> imageData;

    int width() const { return header.biWidth; }
    // Rows of the picture, whichever order they are stored in.
    int height() const { return header.biHeight < 0 ? -header.biHeight : header.biHeight; }
    // An uncompressed picture whose rows are stored top first (a negative biHeight); others
    // store the bottom row first.
    bool topDown() const { return header.biHeight < 0; }
};

// Parses a frame payload, refusing a biSize other than 40, a size of 0, below 0 (but for the
// negative height of a top-down uncompressed picture) or above kMaxFrameDimension, and
// headers that promise more colour entries or image bytes than the payload holds.
// biSizeImage 0 (allowed for uncompressed frames) means "the rest".
std::optional<PackedFrame> ParsePackedFrame(std::span<const std::uint8_t> payload);

// "IV50" style text of a FOURCC, for messages.
std::string FourccText(std::uint32_t fourcc);
constexpr std::uint32_t MakeFourcc(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

}  // namespace orvane
