#pragma once

#include <QDialog>
#include <QString>

class QLabel;

namespace orvane {

class Settings;
class SiteSession;

// "Wait for connect ...": a small window without title shown while a blocking step runs.
// It cannot be cancelled (Esc and closing it do nothing: it goes when the step ends) and stays
// on top while it is up, so no snapshot or other window of Orvane hides it.
class WaitDialog : public QDialog {
    Q_OBJECT
  public:
    explicit WaitDialog(QWidget* parent = nullptr);

    void reject() override {}

  protected:
    void closeEvent(QCloseEvent* event) override;
};

// "Can not connect to Local site ?" with the address, five animated icons, Try Again or
// Cancel.
class RetryDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kFrames = 5;
    static constexpr int kFrameMs = 250;

    RetryDialog(const QString& message, QWidget* parent = nullptr);
    int frame() const { return frame_; }

  private:
    QLabel* icon_;
    int frame_ = 0;
};

// The Connect command: the dialog, an identify lookup when asked for, then connecting with
// a wait window and a retry dialog until it works, the operator cancels, or the attempt is
// abandoned (Disconnect or Exit while waiting). parent: the main window, parent of every box.
void RunConnectFlow(QWidget* parent, SiteSession& session, Settings& settings);

}  // namespace orvane
