#pragma once

#include <QPoint>
#include <QSize>

namespace orvane {

// Where each new video window of a connection goes: one step right and down from the last,
// back to the edge when the picture would leave the video area.
class VideoCascade {
  public:
    static constexpr int kStepX = 28;
    static constexpr int kStepY = 22;

    void Reset() { next_ = QPoint(0, 0); }
    // The position for a window showing picture in area; moves on for the next one.
    QPoint Place(QSize picture, QSize area) {
        if (next_.x() > area.width() - picture.width()) {
            next_.setX(0);
        }
        if (next_.y() > area.height() - picture.height()) {
            next_.setY(0);
        }
        const QPoint at = next_;
        next_ += QPoint(kStepX, kStepY);
        return at;
    }
    QPoint next() const { return next_; }

  private:
    QPoint next_;
};

}  // namespace orvane
