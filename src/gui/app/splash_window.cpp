#include "app/splash_window.h"

#include "common/log.h"
#include "shared/resource_ids.h"

#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimerEvent>

namespace orvane {

SplashWindow* SplashWindow::Create(QWidget* owner) {
    QSvgRenderer renderer(QString::fromLatin1(res::kSplashBitmap));
    if (!renderer.isValid()) {
        qCWarning(lcApp) << "splash picture missing; starting without it";
        return nullptr;
    }
    QPixmap picture(res::kSplashWidth, res::kSplashHeight);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    renderer.render(&painter);
    painter.end();
    return new SplashWindow(owner, std::move(picture));
}

SplashWindow::SplashWindow(QWidget* owner, QPixmap picture)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      picture_(std::move(picture)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
    setFixedSize(picture_.size());

    // Centre over the owner. A maximised owner may not have its final geometry from the
    // window manager yet, so its screen stands in for it, as for an owner not yet shown.
    const bool ownerPlaced = owner && owner->isVisible() && !owner->isMaximized();
    QRect area = ownerPlaced ? owner->frameGeometry() : QRect();
    if (area.isEmpty()) {
        const QScreen* screen = owner ? owner->screen() : nullptr;
        area = screen ? screen->availableGeometry() : QRect(0, 0, width(), height());
    }
    move(area.center() - rect().center());
    show();
    repaint();
    timerId_ = startTimer(kShowMilliseconds);
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

void SplashWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timerId_) {
        killTimer(timerId_);
        timerId_ = 0;
        close();
    }
}

}  // namespace orvane
