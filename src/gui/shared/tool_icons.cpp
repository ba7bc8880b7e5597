#include "shared/tool_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace orvane {
namespace {

constexpr int kCanvas = 32;

void DrawCamera(QPainter& p, QColor body) {
    p.setBrush(body);
    p.drawRoundedRect(QRectF(5, 10, 17, 12), 2, 2);
    QPolygonF lens;
    lens << QPointF(22, 13) << QPointF(28, 9) << QPointF(28, 23) << QPointF(22, 19);
    p.drawPolygon(lens);
}

void DrawTriangle(QPainter& p, qreal tipX, qreal baseX) {
    QPolygonF triangle;
    triangle << QPointF(baseX, 7) << QPointF(tipX, 16) << QPointF(baseX, 25);
    p.drawPolygon(triangle);
}

void DrawMagnifier(QPainter& p, bool plus) {
    p.setBrush(QColor(230, 240, 250));
    p.drawEllipse(QRectF(5, 5, 16, 16));
    p.setPen(QPen(QColor(60, 60, 60), 3));
    p.drawLine(QPointF(19, 19), QPointF(27, 27));
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.drawLine(QPointF(9, 13), QPointF(17, 13));
    if (plus) {
        p.drawLine(QPointF(13, 9), QPointF(13, 17));
    }
}

void Draw(QPainter& p, ToolGlyph glyph) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    switch (glyph) {
        case ToolGlyph::Connect:
            p.setBrush(QColor(60, 170, 80));
            p.drawEllipse(QRectF(4, 8, 16, 16));
            p.drawRect(QRectF(20, 13, 9, 6));
            break;
        case ToolGlyph::Disconnect:
            p.setBrush(QColor(200, 200, 200));
            p.drawEllipse(QRectF(4, 8, 16, 16));
            p.setPen(QPen(QColor(210, 40, 40), 3));
            p.drawLine(QPointF(19, 9), QPointF(29, 23));
            p.drawLine(QPointF(29, 9), QPointF(19, 23));
            break;
        case ToolGlyph::SiteBook:
            p.setBrush(QColor(70, 110, 180));
            p.drawRect(QRectF(7, 5, 18, 22));
            p.setPen(QPen(Qt::white, 1.5));
            p.drawLine(QPointF(11, 11), QPointF(21, 11));
            p.drawLine(QPointF(11, 16), QPointF(21, 16));
            break;
        case ToolGlyph::StopAlarm: {
            p.setBrush(QColor(230, 180, 40));
            QPainterPath bell;
            bell.moveTo(8, 23);
            bell.cubicTo(10, 20, 9, 7, 16, 7);
            bell.cubicTo(23, 7, 22, 20, 24, 23);
            bell.closeSubpath();
            p.drawPath(bell);
            p.setPen(QPen(QColor(210, 40, 40), 2.5));
            p.drawLine(QPointF(5, 5), QPointF(27, 27));
            break;
        }
        case ToolGlyph::OpenChannel:
            DrawCamera(p, QColor(90, 150, 210));
            p.setPen(QPen(QColor(40, 140, 40), 3));
            p.drawLine(QPointF(13, 2), QPointF(13, 8));
            p.drawLine(QPointF(10, 5), QPointF(16, 5));
            break;
        case ToolGlyph::VideoWindow:
            p.setBrush(QColor(90, 150, 210));
            for (int r = 0; r < 2; ++r) {
                for (int c = 0; c < 2; ++c) {
                    p.drawRect(QRectF(5 + c * 12, 6 + r * 11, 10, 9));
                }
            }
            break;
        case ToolGlyph::Playback: {
            p.setBrush(QColor(60, 170, 80));
            QPolygonF play;
            play << QPointF(9, 6) << QPointF(26, 16) << QPointF(9, 26);
            p.drawPolygon(play);
            break;
        }
        case ToolGlyph::RecordPath:
            p.setBrush(QColor(230, 190, 90));
            p.drawRect(QRectF(4, 10, 24, 16));
            p.drawRect(QRectF(4, 7, 10, 4));
            break;
        case ToolGlyph::Password:
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(10, 4, 12, 14), 0, 180 * 16);
            p.setBrush(QColor(224, 168, 32));
            p.drawRect(QRectF(7, 13, 18, 14));
            break;
        case ToolGlyph::Exit:
            p.setBrush(QColor(150, 100, 60));
            p.drawRect(QRectF(8, 4, 14, 24));
            p.setBrush(QColor(240, 220, 60));
            p.drawEllipse(QRectF(17, 15, 3, 3));
            break;
        case ToolGlyph::Record:
            p.setBrush(QColor(220, 30, 30));
            p.drawEllipse(QRectF(7, 7, 18, 18));
            break;
        case ToolGlyph::StopRecord:
            p.setBrush(QColor(60, 60, 60));
            p.drawRect(QRectF(8, 8, 16, 16));
            break;
        case ToolGlyph::Fix:
            p.setBrush(QColor(200, 60, 60));
            p.drawEllipse(QRectF(10, 4, 12, 12));
            p.setPen(QPen(QColor(60, 60, 60), 3));
            p.drawLine(QPointF(16, 16), QPointF(16, 29));
            break;
        case ToolGlyph::Snapshot:
            DrawCamera(p, QColor(160, 160, 170));
            break;
        case ToolGlyph::Close:
            p.setPen(QPen(QColor(60, 60, 60), 4));
            p.drawLine(QPointF(8, 8), QPointF(24, 24));
            p.drawLine(QPointF(24, 8), QPointF(8, 24));
            break;
        case ToolGlyph::Play:
            p.setBrush(QColor(60, 170, 80));
            DrawTriangle(p, 26, 9);
            break;
        case ToolGlyph::Pause:
            p.setBrush(QColor(70, 110, 190));
            p.drawRect(QRectF(9, 7, 5, 18));
            p.drawRect(QRectF(18, 7, 5, 18));
            break;
        case ToolGlyph::StopPlay:
            p.setBrush(QColor(70, 110, 190));
            p.drawRect(QRectF(8, 8, 16, 16));
            break;
        case ToolGlyph::FirstFrame:
            p.setBrush(QColor(70, 110, 190));
            p.drawRect(QRectF(6, 7, 4, 18));
            DrawTriangle(p, 11, 26);
            break;
        case ToolGlyph::StepBack:
            p.setBrush(QColor(70, 110, 190));
            DrawTriangle(p, 5, 16);
            DrawTriangle(p, 16, 27);
            break;
        case ToolGlyph::StepForward:
            p.setBrush(QColor(70, 110, 190));
            DrawTriangle(p, 16, 5);
            DrawTriangle(p, 27, 16);
            break;
        case ToolGlyph::LastFrame:
            p.setBrush(QColor(70, 110, 190));
            DrawTriangle(p, 21, 6);
            p.drawRect(QRectF(22, 7, 4, 18));
            break;
        case ToolGlyph::ZoomIn:
            DrawMagnifier(p, true);
            break;
        case ToolGlyph::ZoomOut:
            DrawMagnifier(p, false);
            break;
        case ToolGlyph::GoToTime:  // a clock face at ten past ten
            p.setBrush(QColor(245, 245, 235));
            p.drawEllipse(QRectF(5, 5, 22, 22));
            p.setPen(QPen(QColor(70, 110, 190), 2.5));
            p.drawLine(QPointF(16, 16), QPointF(16, 9));
            p.drawLine(QPointF(16, 16), QPointF(21, 19));
            break;
    }
}

}  // namespace

QIcon ToolIcon(ToolGlyph glyph) {
    QPixmap pixmap(kCanvas, kCanvas);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    Draw(painter, glyph);
    painter.end();
    return QIcon(pixmap);
}

}  // namespace orvane
