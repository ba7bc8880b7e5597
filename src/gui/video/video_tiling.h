#pragma once

#include <QRect>
#include <QSize>

#include <optional>

namespace orvane {

// How ArrangeVideoWindows tiles n windows over the video area: cols = ceil(sqrt(n)),
// rows = ceil(n / cols), 4:3 cells as wide as fit, shrunk to the height when too tall, the
// block centred. Nothing for 0 or more than 64 windows.
struct VideoTiling {
    static constexpr int kMaxWindows = 64;

    int cols = 0;
    int rows = 0;
    int cellWidth = 0;
    int cellHeight = 0;
    int x0 = 0;
    int y0 = 0;

    static std::optional<VideoTiling> For(int windows, QSize area);
    // The cell of the index-th window, row by row.
    QRect Cell(int index) const;
};

}  // namespace orvane
