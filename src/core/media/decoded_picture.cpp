#include "media/decoded_picture.h"

#include "wire/bitmap_info.h"

#include <cstring>

namespace orvane {

Block ToPackedDib24(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_BGR888);
    const int width = image.width();
    const int height = image.height();
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};

    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = 24;
    header.biCompression = BitmapInfoHeader::kBiRgb;
    header.biSizeImage = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height));

    Block dib(BitmapInfoHeader::kSize + header.biSizeImage, 0);
    header.WriteTo(dib);
    for (int y = 0; y < height; ++y) {
        std::memcpy(dib.data() + BitmapInfoHeader::kSize +
                        static_cast<std::size_t>(height - 1 - y) * stride,
                    image.constScanLine(y), static_cast<std::size_t>(width) * 3);
    }
    return dib;
}

}  // namespace orvane
