#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

namespace orvane {

// The content of a video window: its toolbar and picture, and, while the window's caption is
// hidden, a sizing border of its own around them. A sub-window without a caption has to be
// frameless (otherwise it keeps an empty title strip), and a frameless sub-window has no
// border to size it by; this one gives the operator the border back.
class SizingFrame : public QWidget {
  public:
    explicit SizingFrame(QWidget* parent = nullptr);

    // 0 removes the border. Sizes the window this frame is the content of.
    void SetBorder(int width);
    int border() const { return border_; }

    // Which edges a point of this widget grabs: a mix of Qt::Edge, none inside the border.
    Qt::Edges EdgesAt(QPoint point) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QRect ResizedGeometry(QPoint globalNow) const;

    int border_ = 0;
    Qt::Edges grabbed_;
    QPoint grabAt_;
    QRect startGeometry_;
};

}  // namespace orvane
