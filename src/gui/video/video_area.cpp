#include "video/video_area.h"

#include <QPainter>
#include <QPixmap>

namespace orvane {
namespace {

// The 9 x 8 background tile: a dark weave.
QPixmap PatternTile() {
    QPixmap tile(9, 8);
    tile.fill(QColor(40, 48, 58));
    QPainter painter(&tile);
    painter.setPen(QColor(58, 68, 80));
    painter.drawLine(0, 0, 8, 7);
    painter.drawPoint(4, 6);
    painter.setPen(QColor(30, 36, 44));
    painter.drawLine(0, 7, 8, 0);
    return tile;
}

}  // namespace

VideoArea::VideoArea(QWidget* parent) : QMdiArea(parent) {
    setObjectName("videoArea");
    setBackground(QBrush(PatternTile()));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::StyledPanel);
}

}  // namespace orvane
