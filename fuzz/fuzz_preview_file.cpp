// Feeds arbitrary bytes, as a clip's preview file, to the reader of preview files: the
// decode of the packed frame it holds (every decoder a frame header can pick) and, for some
// inputs, the bounded read from disk. Every pixel of a picture is read, so one that
// views freed or foreign memory shows.
#include "file_fuzzing.h"
#include "media/preview_file.h"
#include "wire/bitmap_info.h"

#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

QTemporaryDir* folder = nullptr;
volatile std::uint8_t sink = 0;

void CheckPicture(const QImage& picture) {
    if (picture.isNull()) {
        return;
    }
    if (picture.width() <= 0 || picture.height() <= 0 ||
        picture.width() > orvane::kMaxFrameDimension ||
        picture.height() > orvane::kMaxFrameDimension) {
        __builtin_trap();
    }
    std::uint8_t sum = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const std::uint8_t* line = picture.constScanLine(y);
        const auto bytes = static_cast<std::size_t>(picture.bytesPerLine());
        for (std::size_t x = 0; x < bytes; ++x) {
            sum = static_cast<std::uint8_t>(sum + line[x]);
        }
    }
    sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    folder = &orvane::fuzz::StartFileFuzzing(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane;
    const std::span<const std::uint8_t> bytes(data, size);
    CheckPicture(DecodePreviewFile(bytes));

    // One input in eight also goes through the file, as the clip browser reads it.
    if (size == 0 || data[size - 1] % 8 != 0) {
        return 0;
    }
    const QString path = fuzz::WriteInput(*folder, "input.bmp", data, size);
    if (path.isEmpty()) {
        return 0;
    }
    const auto read = ReadPreviewFile(path);
    if (!read || read->size() != std::min(size, kPreviewFileLimit) ||
        !std::equal(read->begin(), read->end(), data)) {
        __builtin_trap();
    }
    return 0;
}
