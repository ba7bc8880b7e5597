#include "app/password_dialogs.h"

#include "shared/app_texts.h"
#include "shared/prompt_service.h"
#include "shared/resource_ids.h"
#include "store/program_lock.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {
namespace {

constexpr int kIconSize = 32;

QLineEdit* MakeField(QWidget* parent, int controlId, bool password) {
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(static_cast<int>(kLockFieldMaxChars));
    edit->setProperty("controlId", controlId);
    if (password) {
        edit->setEchoMode(QLineEdit::Password);
    }
    return edit;
}

QPushButton* MakeButton(const QString& text, int controlId, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setProperty("controlId", controlId);
    return button;
}

// Icon at the left, fields at the right, buttons in a column at the far right.
void LayOut(QDialog* dialog, QFormLayout* fields, const QList<QPushButton*>& buttons) {
    auto* icon = new QLabel(dialog);
    icon->setPixmap(QIcon(res::kLockIcon).pixmap(kIconSize, kIconSize));
    icon->setAlignment(Qt::AlignTop);

    auto* buttonColumn = new QVBoxLayout;
    for (auto* button : buttons) {
        buttonColumn->addWidget(button);
    }
    buttonColumn->addStretch();

    auto* row = new QHBoxLayout(dialog);
    row->addWidget(icon);
    row->addLayout(fields, 1);
    row->addLayout(buttonColumn);
    dialog->setWindowIcon(QIcon(res::kLockIcon));
}

std::string Utf8(const QLineEdit* edit) {
    return edit->text().toStdString();
}

}  // namespace

EnterPasswordDialog::EnterPasswordDialog(ProgramLock& lock, QWidget* parent)
    : QDialog(parent), lock_(lock) {
    setWindowTitle(text::kEnterPasswordTitle);
    userName_ = MakeField(this, res::kUserNameEdit, false);
    password_ = MakeField(this, res::kPasswordEdit, true);
    userName_->setText(QString::fromStdString(lock_.StoredUser()));

    auto* fields = new QFormLayout;
    fields->addRow(tr("User name:"), userName_);
    fields->addRow(tr("Password:"), password_);

    ok_ = MakeButton(tr("&OK"), res::kOkButton, this);
    ok_->setDefault(true);
    auto* cancel = MakeButton(tr("&Cancel"), res::kCancelButton, this);
    connect(ok_, &QPushButton::clicked, this, &EnterPasswordDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &EnterPasswordDialog::reject);
    LayOut(this, fields, {ok_, cancel});
    // With the user name already there, the password is what is left to type.
    (userName_->text().isEmpty() ? userName_ : password_)->setFocus();
}

void EnterPasswordDialog::accept() {
    if (lock_.CheckPassword(Utf8(userName_), Utf8(password_))) {
        QDialog::accept();
        return;
    }
    PromptService::Show(this, text::kPasswordNotCorrect);
    password_->setFocus();
}

SetupPasswordDialog::SetupPasswordDialog(ProgramLock& lock, QWidget* parent)
    : QDialog(parent), lock_(lock) {
    setWindowTitle(text::kSetupPasswordTitle);
    userName_ = MakeField(this, res::kUserNameEdit, false);
    password_ = MakeField(this, res::kPasswordEdit, true);
    confirm_ = MakeField(this, res::kConfirmEdit, true);
    userName_->setText(QString::fromStdString(lock_.StoredUser()));
    password_->setText(QString::fromStdString(lock_.StoredPassword()));
    confirm_->setText(QString::fromStdString(lock_.StoredPassword()));

    auto* fields = new QFormLayout;
    fields->addRow(tr("User name:"), userName_);
    fields->addRow(tr("Password:"), password_);
    fields->addRow(tr("Confirm:"), confirm_);

    ok_ = MakeButton(tr("&OK"), res::kOkButton, this);
    ok_->setDefault(true);
    auto* cancel = MakeButton(tr("&Cancel"), res::kCancelButton, this);
    reset_ = MakeButton(tr("Reset"), res::kResetButton, this);
    reset_->setAutoDefault(false);
    connect(ok_, &QPushButton::clicked, this, &SetupPasswordDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SetupPasswordDialog::reject);
    connect(reset_, &QPushButton::clicked, this, &SetupPasswordDialog::Reset);
    LayOut(this, fields, {ok_, cancel, reset_});
    userName_->setFocus();
}

void SetupPasswordDialog::Reset() {
    userName_->clear();
    password_->clear();
    confirm_->clear();
}

void SetupPasswordDialog::accept() {
    const std::string user = Utf8(userName_);
    const std::string password = Utf8(password_);
    const std::string confirmation = Utf8(confirm_);
    if (user.empty()) {
        if (password.empty() && confirmation.empty()) {
            if (lock_.SavePassword("", "")) {  // the lock is removed
                QDialog::accept();
            } else {
                PromptService::Show(this, text::kPasswordNotSaved);
            }
            return;
        }
        PromptService::Show(this, text::kPleaseInputUserName);
        userName_->setFocus();
        return;
    }
    if (password != confirmation) {
        PromptService::Show(this, text::kPasswordNotCorrect);
        confirm_->setFocus();
        return;
    }
    // A lock that did not reach the store must not look set: the dialog stays open.
    if (!lock_.SavePassword(user, password)) {
        PromptService::Show(this, text::kPasswordNotSaved);
        password_->setFocus();
        return;
    }
    QDialog::accept();
}

bool PassStartupGate(ProgramLock& lock, QWidget* parent) {
    if (!lock.IsSet()) {
        return true;
    }
    EnterPasswordDialog dialog(lock, parent);
    return dialog.exec() == QDialog::Accepted;
}

void RunSetupPasswordCommand(ProgramLock& lock, QWidget* parent) {
    if (lock.IsSet()) {
        EnterPasswordDialog check(lock, parent);
        if (check.exec() != QDialog::Accepted) {
            return;
        }
    }
    SetupPasswordDialog setup(lock, parent);
    setup.exec();
}

}  // namespace orvane
