#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <algorithm>

namespace orvane {

// Windows of a kind (snapshots, players) open a step down and right of each other, so that
// none hides another. Placed by the program, a window is where the program thinks it is: one
// left to the window manager may be put elsewhere after a message box was already centred on
// where it was going to be.
inline constexpr int kCascadeStep = 24;
inline constexpr int kCascadeSteps = 8;

inline int CascadeShift(int othersShown) {
    return kCascadeStep * (othersShown % kCascadeSteps);
}

// Centred on the window that opened it (a snapshot over the main window, clear of the menus).
inline QPoint CascadedTopLeft(const QRect& ownerArea, const QSize& size, int othersShown) {
    const int shift = CascadeShift(othersShown);
    return ownerArea.center() - QPoint(size.width() / 2, size.height() / 2) + QPoint(shift, shift);
}

// Beside the window that opened it (a player beside the list its clip was picked from, which
// stays in view): to its right, top edges level, or to its left when only that side has room;
// then pulled back inside the screen's free area.
inline QPoint BesideTopLeft(const QRect& ownerFrame, const QSize& size, int othersShown,
                            const QRect& screenArea) {
    const int shift = CascadeShift(othersShown);
    int x = ownerFrame.x() + ownerFrame.width() + shift;
    const int leftSide = ownerFrame.x() - size.width() - shift;
    if (x + size.width() > screenArea.x() + screenArea.width() && leftSide >= screenArea.x()) {
        x = leftSide;
    }
    const int y = ownerFrame.y() + shift;
    const int right = std::max(screenArea.x(), screenArea.x() + screenArea.width() - size.width());
    const int bottom =
        std::max(screenArea.y(), screenArea.y() + screenArea.height() - size.height());
    return {std::clamp(x, screenArea.x(), right), std::clamp(y, screenArea.y(), bottom)};
}

}  // namespace orvane
