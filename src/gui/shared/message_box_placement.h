#pragma once

#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>
#include <QWidget>

#include <algorithm>

namespace orvane {

// Where a box's frame goes to be centred on a window's frame.
inline QPoint CentredTopLeft(const QRect& windowFrame, const QSize& boxSize) {
    return {windowFrame.x() + (windowFrame.width() - boxSize.width()) / 2,
            windowFrame.y() + (windowFrame.height() - boxSize.height()) / 2};
}

// A message box's frame centred on a window's frame, then pulled back inside the screen's free
// area so that none of the box, its buttons above all, lies off the screen.
inline QPoint MessageBoxTopLeft(const QRect& windowFrame, const QSize& boxSize,
                                const QRect& screenArea) {
    const QPoint centred = CentredTopLeft(windowFrame, boxSize);
    // A box larger than the screen keeps its top-left corner, where the title bar is, on it.
    const int right =
        std::max(screenArea.x(), screenArea.x() + screenArea.width() - boxSize.width());
    const int bottom =
        std::max(screenArea.y(), screenArea.y() + screenArea.height() - boxSize.height());
    return {std::clamp(centred.x(), screenArea.x(), right),
            std::clamp(centred.y(), screenArea.y(), bottom)};
}

// The widget that asks for a box may be a video window inside the main window: the box
// centres on the top-level window around it, where the operator is looking.
inline QPoint MessageBoxTopLeft(const QWidget& parent, const QSize& boxSize) {
    const QWidget* window = parent.window();
    const QScreen* screen = window->screen();
    if (!screen) {
        return CentredTopLeft(window->frameGeometry(), boxSize);
    }
    return MessageBoxTopLeft(window->frameGeometry(), boxSize, screen->availableGeometry());
}

}  // namespace orvane
