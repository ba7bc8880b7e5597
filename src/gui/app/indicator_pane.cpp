#include "app/indicator_pane.h"

#include <QPainter>

namespace orvane {

IndicatorPane::IndicatorPane(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidth, 18);
}

void IndicatorPane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(150, 160, 175));
    p.drawRoundedRect(QRectF(1, 2, 14, 14), 2, 2);
    p.setBrush(QColor(60, 60, 60));
    p.drawEllipse(QRectF(5, 6, 6, 6));
    if (diskLow) {
        p.setBrush(blink ? QColor(230, 40, 40) : QColor(120, 20, 20));
        p.drawEllipse(QRectF(18, 3, 12, 12));
    }
}

}  // namespace orvane
