#pragma once

#include <QMdiArea>

namespace orvane {

// The area between the main frame's bars that parents every video window: a tiled pattern
// behind the windows, nothing else.
class VideoArea : public QMdiArea {
    Q_OBJECT
  public:
    explicit VideoArea(QWidget* parent = nullptr);
};

}  // namespace orvane
