#pragma once

#include "common/code_page.h"

#include <QDialog>

#include <optional>
#include <string>

class QComboBox;

namespace orvane {

class SiteSession;

// "Remote control": close the site, reboot it, or run a program there.
class RemoteControlDialog : public QDialog {
    Q_OBJECT
  public:
    enum Choice { kNone = 0, kCloseSite = 1, kRebootSite = 2, kRunProgram = 3 };
    explicit RemoteControlDialog(QWidget* parent = nullptr);
    Choice choice() const { return choice_; }
    void Choose(Choice choice);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    Choice choice_ = kNone;
};

// "Command": the command line to run, typed or picked from the presets. OK refuses a command
// line that the code page cannot hold.
class CommandDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kMaxChars = 50;
    explicit CommandDialog(const CodePage& codePage, QWidget* parent = nullptr);
    QString commandLine() const;
    // The command line as the site gets it (without the NUL); nullopt when the code page
    // cannot hold it.
    std::optional<std::string> commandBytes() const;
    QComboBox* combo() const { return combo_; }

    void accept() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    CodePage codePage_;
    QComboBox* combo_;
};

namespace remotetext {
// A choice made while the site has not accepted the login: nothing is sent.
inline constexpr const char* kNotLoggedIn =
    "\n\n The site has not accepted the login yet. \n\n Nothing was sent. \n\n";
}  // namespace remotetext

// Ctrl+F10: the dialog and the message it asks for, sent over the session's connection as it
// is when the dialogs close (the link may have dropped meanwhile: then nothing is sent; the
// site has not accepted the login: the operator is told and nothing is sent); a command line
// goes out in codePage.
void RunRemoteControl(SiteSession& session, QWidget* parent, const CodePage& codePage = CodePage());

}  // namespace orvane
