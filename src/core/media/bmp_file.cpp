#include "media/bmp_file.h"

#include "wire/bitmap_info.h"
#include "wire/byte_order.h"

#include <QSaveFile>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

namespace orvane {
namespace {

void WriteLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Rows of uncompressed pixels are padded to whole 32-bit words.
std::optional<std::uint64_t> UncompressedImageSize(const BitmapInfoHeader& header) {
    if (header.biCompression != BitmapInfoHeader::kBiRgb || header.biWidth <= 0 ||
        header.biHeight == 0 || header.biBitCount == 0) {
        return std::nullopt;
    }
    const std::uint64_t width = static_cast<std::uint64_t>(header.biWidth);
    // A negative height is a top-down picture of that many rows.
    const std::uint64_t rows = static_cast<std::uint64_t>(std::llabs(header.biHeight));
    const std::uint64_t stride = (width * header.biBitCount + 31) / 32 * 4;
    return stride * rows;
}

}  // namespace

Block BmpFileBytes(std::span<const std::uint8_t> packedDib) {
    auto header = BitmapInfoHeader::Parse(packedDib);
    if (!header || header->biSize < BitmapInfoHeader::kSize) {
        return {};
    }
    std::uint64_t imageSize = header->biSizeImage;
    if (imageSize == 0) {
        const auto computed = UncompressedImageSize(*header);
        if (!computed || *computed == 0) {
            return {};
        }
        imageSize = *computed;
    }
    const std::uint64_t headerSize = header->biSize;
    const std::uint64_t colourBytes = std::uint64_t{header->biClrUsed} * 4;
    const std::uint64_t dibSize = headerSize + colourBytes + imageSize;
    if (dibSize > packedDib.size() ||
        kBmpFileHeaderSize + dibSize > std::numeric_limits<std::uint32_t>::max()) {
        return {};
    }

    Block file(kBmpFileHeaderSize + dibSize, 0);
    WriteLe16(file, 0, kBmpFileType);
    WriteLe32(file, 2, static_cast<std::uint32_t>(kBmpFileHeaderSize + dibSize));
    // bfReserved1 and bfReserved2 stay 0.
    WriteLe32(file, 10, static_cast<std::uint32_t>(kBmpFileHeaderSize + headerSize + colourBytes));
    std::memcpy(file.data() + kBmpFileHeaderSize, packedDib.data(), dibSize);
    header->biSizeImage = static_cast<std::uint32_t>(imageSize);
    header->WriteTo(std::span<std::uint8_t>(file).subspan(kBmpFileHeaderSize));
    return file;
}

bool WriteBmpFile(const QString& path, std::span<const std::uint8_t> packedDib, QString& error) {
    const Block bytes = BmpFileBytes(packedDib);
    if (bytes.empty()) {
        error = QStringLiteral("The picture is not a complete bitmap.");
        return false;
    }
    // QSaveFile writes beside the target and renames over it on commit.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(reinterpret_cast<const char*>(bytes.data()), size) != size) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace orvane
