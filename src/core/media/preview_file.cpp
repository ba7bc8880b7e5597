#include "media/preview_file.h"

#include "common/log.h"
#include "media/video_decoder.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace orvane {

std::optional<std::vector<std::uint8_t>> ReadPreviewFile(const QString& path) {
    // Regular files only, opened without waiting: a name in the index may be a FIFO or a
    // device, whose open or read would never return.
    struct Descriptor {
        int fd = -1;
        ~Descriptor() {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    };
    const QByteArray native = QFile::encodeName(path);
    const Descriptor file{
        native.isEmpty() ? -1 : ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    const int raw = file.fd;
    if (raw < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(raw, &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(kPreviewFileLimit);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(raw, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
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
