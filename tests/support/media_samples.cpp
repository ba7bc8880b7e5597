#include "support/media_samples.h"

#include "media/decoder_registry.h"
#include "media/key_frames.h"
#include "media/video_decoder.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>

namespace orvane::test {

QString MediaFolder() {
    const QString configured = qEnvironmentVariable("ORVANE_SHARED_MEDIA_DIR");
    return configured.isEmpty() ? QString::fromUtf8(ORVANE_SHARED_MEDIA_DIR) : configured;
}

QString MediaSample(const QString& name) {
    const QString path = QDir(MediaFolder()).filePath(name);
    if (!QFile::exists(path)) {
        ADD_FAILURE() << "the sample " << name.toStdString()
                      << " is missing from the shared media folder "
                      << QDir(MediaFolder()).absolutePath().toStdString();
        return {};
    }
    return path;
}

double MeanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) {
        return 255;
    }
    double total = 0;
    for (int row = 0; row < a.height(); ++row) {
        for (int col = 0; col < a.width(); ++col) {
            const QRgb p = a.pixel(col, row);
            const QRgb q = b.pixel(col, row);
            total += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                     std::abs(qBlue(p) - qBlue(q));
        }
    }
    return total / (3.0 * a.width() * a.height());
}

std::vector<QImage> DecodeInOrder(const std::vector<Block>& packed) {
    const BitmapInfoHeader format = *BitmapInfoHeader::Parse(packed.at(0));
    const auto decoder = VideoDecoder::Create(*FindDecoder(format), format);
    std::vector<QImage> pictures;
    QImage last;
    for (const Block& bytes : packed) {
        if (auto picture = decoder->Decode(*ParsePackedFrame(bytes))) {
            last = picture->image.copy();
        }
        pictures.push_back(last);
    }
    return pictures;
}

std::vector<LiveFrame> LiveFrames(const std::vector<Block>& packed) {
    std::vector<LiveFrame> frames;
    std::unique_ptr<KeyFrameProbe> probe;
    for (const Block& bytes : packed) {
        const auto header = BitmapInfoHeader::Parse(bytes);
        if (!header) {
            continue;
        }
        if (!probe) {
            probe = std::make_unique<KeyFrameProbe>(*header);
        }
        if (auto frame = ReadLiveFrame(std::make_shared<const Block>(bytes), *probe)) {
            if (!frames.empty()) {
                frame->arrivalUtcMicros = frames.back().arrivalUtcMicros + 500'000;
                frame->arrivalSteadyMicros = frames.back().arrivalSteadyMicros + 500'000;
            }
            frames.push_back(std::move(*frame));
        }
    }
    return frames;
}

Block TopDown(const Block& bottomUp) {
    BitmapInfoHeader header = *BitmapInfoHeader::Parse(bottomUp);
    const std::size_t rows = static_cast<std::size_t>(header.biHeight);
    const std::size_t stride = (bottomUp.size() - BitmapInfoHeader::kSize) / rows;
    Block flipped(bottomUp.begin(), bottomUp.begin() + BitmapInfoHeader::kSize);
    for (std::size_t row = rows; row-- > 0;) {
        const auto line =
            bottomUp.begin() + static_cast<std::ptrdiff_t>(BitmapInfoHeader::kSize + row * stride);
        flipped.insert(flipped.end(), line, line + static_cast<std::ptrdiff_t>(stride));
    }
    header.biHeight = -header.biHeight;
    header.WriteTo(flipped);
    return flipped;
}

}  // namespace orvane::test
