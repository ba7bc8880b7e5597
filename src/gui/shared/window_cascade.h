#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace orvane {

// Where a new window of a kind (snapshots, players) goes over the window that opened it:
// centred on it, each further one of its kind a step down and right of the one before, so that
// none opens over the menus or hides another. A window placed by the program is placed there by
// the window manager too; one left to it may be put elsewhere after the program has already
// centred a message box on where it thought the window was.
inline QPoint CascadedTopLeft(const QRect& ownerArea, const QSize& size, int othersShown) {
    constexpr int kStep = 24;
    constexpr int kSteps = 8;
    const int shift = kStep * (othersShown % kSteps);
    return ownerArea.center() - QPoint(size.width() / 2, size.height() / 2) + QPoint(shift, shift);
}

}  // namespace orvane
