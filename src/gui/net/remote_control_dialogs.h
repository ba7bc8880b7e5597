#pragma once

#include <QDialog>

class QComboBox;

namespace orvane {

class SiteConnection;

// "Remote control": close the site, reboot it, or run a program there.
class RemoteControlDialog : public QDialog {
    Q_OBJECT
  public:
    enum Choice { kNone = 0, kCloseSite = 1, kRebootSite = 2, kRunProgram = 3 };
    explicit RemoteControlDialog(QWidget* parent = nullptr);
    Choice choice() const { return choice_; }
    void Choose(Choice choice);

  private:
    Choice choice_ = kNone;
};

// "Command": the command line to run, typed or picked from the presets.
class CommandDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kMaxChars = 50;
    explicit CommandDialog(QWidget* parent = nullptr);
    QString commandLine() const;
    QComboBox* combo() const { return combo_; }

  private:
    QComboBox* combo_;
};

// Ctrl+F10: the dialog and the message it asks for.
void RunRemoteControl(SiteConnection& connection, QWidget* parent);

}  // namespace orvane
