#include "media/preview_file.h"

#include "common/log.h"
#include "media/video_decoder.h"

#include <QFile>

namespace orvane {

std::optional<std::vector<std::uint8_t>> ReadPreviewFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(kPreviewFileLimit);
    const qint64 got =
        file.read(reinterpret_cast<char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

QImage DecodePreviewFile(std::span<const std::uint8_t> bytes) {
    QString why;
    QImage picture = DecodeSingleFrame(bytes, &why);
    if (picture.isNull()) {
        qCInfo(lcMedia) << "clip preview:" << why;
    }
    return picture;
}

}  // namespace orvane
