#pragma once

#include <QWidget>

#include <cstdint>

class QLabel;
class QSlider;

namespace orvane {

class ClipPlayerEngine;

// The player's control bar: a position slider over the clip's frames, the clip's frame rate,
// a speed slider over the rate rows (slowest at the top) and the rate's label. Laid out from
// the bar's template in dialog units, so it follows the font.
class PlayerControlBar : public QWidget {
    Q_OBJECT
  public:
    PlayerControlBar(ClipPlayerEngine& engine, QWidget* parent);

    void SetPositionRange(std::int64_t frames);
    void SetPosition(std::int64_t frame);
    void SetSpeedPosition(int rateIndex);
    void SetFpsText(const QString& text);
    void SetRateLabel(const QString& text);

    QSlider* positionSlider() const { return position_; }
    QSlider* speedSlider() const { return speed_; }
    QLabel* fpsText() const { return fps_; }
    QLabel* rateLabel() const { return rate_; }
    QSize sizeHint() const override { return size_; }

  private:
    void OnSpeedAction(int action);
    void OnPositionAction(int action);

    ClipPlayerEngine& engine_;
    QSlider* position_ = nullptr;
    QSlider* speed_ = nullptr;
    QLabel* fps_ = nullptr;
    QLabel* rate_ = nullptr;
    QSize size_;
};

}  // namespace orvane
