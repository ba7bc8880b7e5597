#include "video/sizing_frame.h"

#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace orvane {

namespace {

// Near a corner, a side's border grabs the corner as well, as a window's frame does.
constexpr int kCornerReach = 16;
// The smallest picture the border lets the operator size a window down to.
constexpr int kSmallestInside = 16;

Qt::CursorShape CursorFor(Qt::Edges edges) {
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    if (horizontal && vertical) {
        const bool falling =
            edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
        return falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
    }
    if (horizontal) {
        return Qt::SizeHorCursor;
    }
    return vertical ? Qt::SizeVerCursor : Qt::ArrowCursor;
}

}  // namespace

SizingFrame::SizingFrame(QWidget* parent) : QWidget(parent) {}

void SizingFrame::SetBorder(int width) {
    border_ = std::max(0, width);
    setMouseTracking(border_ > 0);
    if (layout()) {
        layout()->setContentsMargins(border_, border_, border_, border_);
    }
    if (border_ == 0) {
        unsetCursor();
    }
    update();
}

Qt::Edges SizingFrame::EdgesAt(QPoint point) const {
    Qt::Edges edges;
    if (border_ <= 0 || !rect().contains(point)) {
        return edges;
    }
    const int reach = std::max(border_, kCornerReach);
    const bool onBorder = point.x() < border_ || point.y() < border_ ||
                          point.x() >= width() - border_ || point.y() >= height() - border_;
    if (!onBorder) {
        return edges;
    }
    if (point.x() < reach) {
        edges |= Qt::LeftEdge;
    } else if (point.x() >= width() - reach) {
        edges |= Qt::RightEdge;
    }
    if (point.y() < reach) {
        edges |= Qt::TopEdge;
    } else if (point.y() >= height() - reach) {
        edges |= Qt::BottomEdge;
    }
    return edges;
}

void SizingFrame::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (border_ <= 0) {
        return;
    }
    QPainter painter(this);
    const QRegion inside(rect().adjusted(border_, border_, -border_, -border_));
    painter.setClipRegion(QRegion(rect()) - inside);
    painter.fillRect(rect(), palette().window());
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = border_;
    frame.midLineWidth = 0;
    style()->drawPrimitive(QStyle::PE_FrameWindow, &frame, &painter, this);
}

void SizingFrame::mousePressEvent(QMouseEvent* event) {
    const Qt::Edges edges = EdgesAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !edges || !parentWidget()) {
        QWidget::mousePressEvent(event);
        return;
    }
    grabbed_ = edges;
    grabAt_ = event->globalPosition().toPoint();
    startGeometry_ = parentWidget()->geometry();
}

void SizingFrame::mouseMoveEvent(QMouseEvent* event) {
    if (grabbed_ && (event->buttons() & Qt::LeftButton) && parentWidget()) {
        parentWidget()->setGeometry(ResizedGeometry(event->globalPosition().toPoint()));
        return;
    }
    const Qt::Edges edges = EdgesAt(event->position().toPoint());
    if (edges) {
        setCursor(CursorFor(edges));
    } else {
        unsetCursor();
    }
}

void SizingFrame::mouseReleaseEvent(QMouseEvent* event) {
    grabbed_ = {};
    QWidget::mouseReleaseEvent(event);
}

QRect SizingFrame::ResizedGeometry(QPoint globalNow) const {
    const QPoint moved = globalNow - grabAt_;
    const QWidget* window = parentWidget();
    const QSize smallest = window->minimumSize().expandedTo(
        QSize(2 * border_ + kSmallestInside, 2 * border_ + kSmallestInside));
    QRect to = startGeometry_;
    // The grabbed edges follow the pointer; the opposite ones stay where they were, also
    // when the window would get smaller than it can be.
    if (grabbed_ & Qt::LeftEdge) {
        to.setLeft(std::min(to.left() + moved.x(), to.right() + 1 - smallest.width()));
    }
    if (grabbed_ & Qt::RightEdge) {
        to.setRight(std::max(to.right() + moved.x(), to.left() + smallest.width() - 1));
    }
    if (grabbed_ & Qt::TopEdge) {
        to.setTop(std::min(to.top() + moved.y(), to.bottom() + 1 - smallest.height()));
    }
    if (grabbed_ & Qt::BottomEdge) {
        to.setBottom(std::max(to.bottom() + moved.y(), to.top() + smallest.height() - 1));
    }
    return to;
}

}  // namespace orvane
