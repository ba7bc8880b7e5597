#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace orvane {

class ProgramLock;

// "Enter password": asks for the program lock. OK closes only on a match; there is no limit
// on attempts.
class EnterPasswordDialog : public QDialog {
    Q_OBJECT
  public:
    EnterPasswordDialog(ProgramLock& lock, QWidget* parent = nullptr);

    QLineEdit* userNameEdit() const { return userName_; }
    QLineEdit* passwordEdit() const { return password_; }
    QPushButton* okButton() const { return ok_; }

    void accept() override;

  private:
    ProgramLock& lock_;
    QLineEdit* userName_;
    QLineEdit* password_;
    QPushButton* ok_;
};

// "Setup password": sets, changes or removes the program lock. Opens showing the current
// lock; Reset empties the fields without storing anything.
class SetupPasswordDialog : public QDialog {
    Q_OBJECT
  public:
    SetupPasswordDialog(ProgramLock& lock, QWidget* parent = nullptr);

    QLineEdit* userNameEdit() const { return userName_; }
    QLineEdit* passwordEdit() const { return password_; }
    QLineEdit* confirmEdit() const { return confirm_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* resetButton() const { return reset_; }

    void accept() override;

  private:
    void Reset();

    ProgramLock& lock_;
    QLineEdit* userName_;
    QLineEdit* password_;
    QLineEdit* confirm_;
    QPushButton* ok_;
    QPushButton* reset_;
};

// The start-up gate: with a lock set, the program goes on only when "Enter password" ends
// with OK. Without a lock it asks nothing.
bool PassStartupGate(ProgramLock& lock, QWidget* parent = nullptr);

// "Setup password" (command 32788): the current lock first, then the setup dialog.
void RunSetupPasswordCommand(ProgramLock& lock, QWidget* parent = nullptr);

}  // namespace orvane
