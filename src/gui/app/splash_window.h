#pragma once

#include <QPixmap>
#include <QWidget>

namespace orvane {

// The start-up picture: a borderless window the size of its picture, centred over its
// owner, gone after 750 ms or at the first key or click (ViewerApp consumes that input).
class SplashWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kShowMilliseconds = 750;

    // Creates and shows the splash over owner; nullptr when the picture cannot be loaded.
    static SplashWindow* Create(QWidget* owner);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    SplashWindow(QWidget* owner, QPixmap picture);

    QPixmap picture_;
    int timerId_ = 0;
};

}  // namespace orvane
