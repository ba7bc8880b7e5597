#pragma once

#include <QWidget>

namespace orvane {

// Status pane 1: the disk indicator (the disk watch sets its warning state).
class IndicatorPane : public QWidget {
  public:
    static constexpr int kWidth = 32;

    explicit IndicatorPane(QWidget* parent);
    bool diskLow = false;
    bool blink = false;

  protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace orvane
