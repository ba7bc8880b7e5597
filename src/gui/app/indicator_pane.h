#pragma once

#include <QWidget>

namespace orvane {

// Status pane 1: the disk icon, and beside it, while free space is low, a second icon that
// alternates between a bright and a dim picture on every disk check.
class IndicatorPane : public QWidget {
  public:
    static constexpr int kWidth = 32;
    static constexpr int kIconSize = 16;
    static constexpr int kSecondIconX = 17;
    // The pictures of the second icon, by their resource numbers.
    static constexpr int kNoIcon = 0;
    static constexpr int kBrightIcon = 103;
    static constexpr int kDimIcon = 104;

    explicit IndicatorPane(QWidget* parent);

    // Takes the disk watch's state and draws the pane again.
    void SetDiskState(bool low, bool blink);
    bool diskLow() const { return diskLow_; }
    bool blink() const { return blink_; }
    // The second icon as it is drawn now.
    int secondIcon() const;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool diskLow_ = false;
    bool blink_ = false;
};

}  // namespace orvane
