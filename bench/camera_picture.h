#pragma once

// The pictures the benchmarks encode: the simulator's gradients and moving block under fixed
// grain, so the encoder and decoder have real detail to work on, as with a real scene.
#include "frame_source.h"

#include <QFont>
#include <QImage>
#include <QPainter>
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

// What scaling spoils first: one-pixel lines across and down, a one-pixel grid, and rows of
// small text like a camera's caption, black on white. Needs a QGuiApplication (fonts).
inline QImage FineDetailPicture(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    const int third = size.width() / 3;
    for (int x = 0; x < third; x += 2) {
        painter.fillRect(x, 0, 1, size.height() / 2, Qt::black);
    }
    for (int y = 0; y < size.height() / 2; y += 2) {
        painter.fillRect(third, y, third, 1, Qt::black);
    }
    for (int x = 2 * third; x < size.width(); x += 6) {
        painter.fillRect(x, 0, 1, size.height() / 2, Qt::black);
    }
    for (int y = 0; y < size.height() / 2; y += 6) {
        painter.fillRect(2 * third, y, size.width() - 2 * third, 1, Qt::black);
    }
    QFont font;
    font.setPixelSize(std::max(10, size.height() / 24));
    painter.setFont(font);
    painter.setPen(Qt::black);
    const int line = font.pixelSize() + 4;
    for (int y = size.height() / 2 + line; y < size.height(); y += line) {
        painter.drawText(4, y, QStringLiteral("0012 Gate north 2026-12-08 03:14:15 ABCDEFGH"));
    }
    return picture;
}

}  // namespace orvane::bench
