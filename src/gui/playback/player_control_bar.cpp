#include "playback/player_control_bar.h"

#include "media/clip_player_engine.h"

#include <QLabel>
#include <QSlider>

namespace orvane {
namespace {

// The bar's template, in dialog units: a horizontal unit is a quarter of the font's average
// character width, a vertical one an eighth of its height.
constexpr int kBarWidthDu = 190;
constexpr int kBarHeightDu = 18;
constexpr QColor kStaticText(0, 0, 255);

}  // namespace

PlayerControlBar::PlayerControlBar(ClipPlayerEngine& engine, QWidget* parent)
    : QWidget(parent), engine_(engine) {
    const QFontMetrics metrics = fontMetrics();
    const int unitX = std::max(1, metrics.averageCharWidth());
    const int unitY = std::max(1, metrics.height());
    auto rect = [&](int x, int y, int w, int h) {
        return QRect(x * unitX / 4, y * unitY / 8, w * unitX / 4, h * unitY / 8);
    };
    size_ = QSize(kBarWidthDu * unitX / 4, kBarHeightDu * unitY / 8);
    setFixedSize(size_);

    position_ = new QSlider(Qt::Horizontal, this);
    position_->setGeometry(rect(5, 3, 95, 11));
    position_->setTickPosition(QSlider::NoTicks);
    fps_ = new QLabel(this);
    fps_->setGeometry(rect(100, 3, 45, 12));
    fps_->setAlignment(Qt::AlignCenter);
    speed_ = new QSlider(Qt::Vertical, this);
    speed_->setGeometry(rect(150, 0, 8, 17));
    speed_->setTickPosition(QSlider::NoTicks);
    speed_->setInvertedAppearance(true);  // the slowest row at the top
    speed_->setRange(0, static_cast<int>(kRateTable.size()) - 1);
    speed_->setPageStep(1);
    rate_ = new QLabel(this);
    rate_->setGeometry(rect(161, 3, 22, 12));
    rate_->setAlignment(Qt::AlignCenter);
    rate_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    for (QLabel* label : {fps_, rate_}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, kStaticText);
        label->setPalette(palette);
    }
    connect(speed_, &QSlider::actionTriggered, this, &PlayerControlBar::OnSpeedAction);
    connect(position_, &QSlider::actionTriggered, this, &PlayerControlBar::OnPositionAction);
}

void PlayerControlBar::OnSpeedAction(int action) {
    double rate = 0;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
        case QAbstractSlider::SliderPageStepSub:
            rate = engine_.StepRate(false);
            break;
        case QAbstractSlider::SliderSingleStepAdd:
        case QAbstractSlider::SliderPageStepAdd:
            rate = engine_.StepRate(true);
            break;
        case QAbstractSlider::SliderMove:
            rate = engine_.SetRateIndex(speed_->sliderPosition());
            break;
        default:
            return;
    }
    engine_.ApplyRate(rate);
    // Thumb and rate stay equal: a click in the channel moves one row only.
    speed_->setSliderPosition(engine_.rateIndex());
}

void PlayerControlBar::OnPositionAction(int action) {
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
        case QAbstractSlider::SliderSingleStepSub:
        case QAbstractSlider::SliderPageStepAdd:
        case QAbstractSlider::SliderPageStepSub:
        case QAbstractSlider::SliderMove:
            engine_.SeekToFrame(position_->sliderPosition());
            break;
        default:
            break;
    }
}

void PlayerControlBar::SetPositionRange(std::int64_t frames) {
    // The slider holds 32 bits; the low ones of the count, as it always had.
    position_->setRange(0, static_cast<int>(static_cast<std::uint32_t>(frames) & 0x7FFFFFFF));
    position_->setValue(0);
}

void PlayerControlBar::SetPosition(std::int64_t frame) {
    const QSignalBlocker quiet(position_);
    position_->setValue(static_cast<int>(frame));
}

void PlayerControlBar::SetSpeedPosition(int rateIndex) {
    const QSignalBlocker quiet(speed_);
    speed_->setValue(rateIndex);
}

void PlayerControlBar::SetFpsText(const QString& text) {
    fps_->setText(text);
}

void PlayerControlBar::SetRateLabel(const QString& text) {
    rate_->setText(text);
}

}  // namespace orvane
