#pragma once

// The pictures the benchmarks encode: the simulator's gradients and moving block under fixed
// grain, so the encoder and decoder have real detail to work on, as with a real scene.
#include "frame_source.h"

#include <QImage>
#include <QSize>

#include <algorithm>
#include <cstdint>

namespace orvane::bench {

// grainBits: the grain spans 2^grainBits levels around each pixel (5 is strong, 4 mild).
inline QImage CameraLikePicture(int index, QSize size, int grainBits) {
    QImage picture = sim::TestPattern(0, index, size);
    std::uint32_t noise = 12345;
    const int half = 1 << (grainBits - 1);
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = static_cast<int>(noise >> (32 - grainBits)) - half;
            const QRgb p = line[x];
            line[x] =
                qRgb(std::clamp(qRed(p) + grain, 0, 255), std::clamp(qGreen(p) + grain, 0, 255),
                     std::clamp(qBlue(p) + grain, 0, 255));
        }
    }
    return picture;
}

}  // namespace orvane::bench
