#pragma once

#include <QDialog>

namespace orvane {

// "About Orvane...": the program's icon and version.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace orvane
