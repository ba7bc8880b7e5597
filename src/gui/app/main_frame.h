#pragma once

#include <QMainWindow>

class QMdiArea;

namespace orvane {

class ViewerApp;

// The one top-level window: menus, bars and the video area that parents every video window.
class MainFrame : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainFrame(ViewerApp& app, QWidget* parent = nullptr);

    QMdiArea* videoArea() const { return videoArea_; }

  private:
    void BuildMenus();

    ViewerApp& app_;
    QMdiArea* videoArea_;
};

}  // namespace orvane
