#include "app/indicator_pane.h"

#include <QPainter>

namespace orvane {

IndicatorPane::IndicatorPane(QWidget* parent) : QWidget(parent) {
    setObjectName("indicatorPane");
    setFixedSize(kWidth, 18);
}

void IndicatorPane::SetDiskState(bool low, bool blink) {
    diskLow_ = low;
    blink_ = blink;
    update();
}

int IndicatorPane::secondIcon() const {
    if (!diskLow_) {
        return kNoIcon;
    }
    return blink_ ? kBrightIcon : kDimIcon;
}

void IndicatorPane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The disk.
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(150, 160, 175));
    p.drawRoundedRect(QRectF(1, 2, kIconSize - 2, kIconSize - 2), 2, 2);
    p.setBrush(QColor(60, 60, 60));
    p.drawEllipse(QRectF(5, 6, 6, 6));
    // The warning lamp beside it.
    const int icon = secondIcon();
    if (icon != kNoIcon) {
        p.setBrush(icon == kBrightIcon ? QColor(230, 40, 40) : QColor(120, 20, 20));
        p.drawEllipse(QRectF(kSecondIconX + 1, 3, kIconSize - 4, kIconSize - 4));
    }
}

}  // namespace orvane
