#include "video/video_tiling.h"

#include <cmath>

namespace orvane {

std::optional<VideoTiling> VideoTiling::For(int windows, QSize area) {
    if (windows <= 0 || windows > kMaxWindows) {
        return std::nullopt;
    }
    VideoTiling t;
    t.cols = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(windows))));
    t.rows = (windows + t.cols - 1) / t.cols;
    const int w = area.width();
    const int h = area.height();
    t.cellWidth = w / t.cols;
    t.cellHeight = t.cellWidth * 3 / 4;
    if (t.rows * t.cellHeight > h) {
        t.cellHeight = h / t.rows;
        t.cellWidth = t.cellHeight * 4 / 3;
    }
    t.x0 = w > t.cols * t.cellWidth ? (w - t.cols * t.cellWidth) / 2 : 0;
    t.y0 = h > t.rows * t.cellHeight ? (h - t.rows * t.cellHeight) / 2 : 0;
    return t;
}

QRect VideoTiling::Cell(int index) const {
    const int row = index / cols;
    const int col = index % cols;
    return QRect(x0 + col * cellWidth, y0 + row * cellHeight, cellWidth, cellHeight);
}

}  // namespace orvane
