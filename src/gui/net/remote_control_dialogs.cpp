#include "net/remote_control_dialogs.h"

#include "shared/plain_mnemonics.h"
#include "shared/prompt_service.h"
#include "site/site_session.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

RemoteControlDialog::RemoteControlDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Remote control"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* column = new QVBoxLayout(this);
    const std::pair<const char*, Choice> buttons[] = {{"&A. Close remote site.", kCloseSite},
                                                      {"&B. Reboot remote site.", kRebootSite},
                                                      {"&C. Execute extra program.", kRunProgram}};
    int controlId = 1077;
    for (const auto& [text, choice] : buttons) {
        auto* button = new QPushButton(tr(text), this);
        button->setProperty("controlId", controlId++);
        // Each of these acts on the site: only a deliberate click or its key may run one, never
        // an Enter meant to leave the dialog.
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, choice = choice] { Choose(choice); });
        column->addWidget(button);
    }
    auto* exitButton = new QPushButton(tr("&Q.Exit"), this);
    exitButton->setDefault(true);
    exitButton->setFocus();
    connect(exitButton, &QPushButton::clicked, this, &QDialog::accept);
    column->addWidget(exitButton);
    // The buttons alone make a dialog too narrow for its title beside the title-bar buttons.
    column->addStrut(fontMetrics().horizontalAdvance(windowTitle()) + 120);
    column->setSizeConstraint(QLayout::SetFixedSize);
}

void RemoteControlDialog::keyPressEvent(QKeyEvent* event) {
    if (!ClickPlainMnemonic(*this, *event)) {
        QDialog::keyPressEvent(event);
    }
}

void RemoteControlDialog::Choose(Choice choice) {
    choice_ = choice;
    accept();
}

CommandDialog::CommandDialog(const CodePage& codePage, QWidget* parent)
    : QDialog(parent), codePage_(codePage) {
    setWindowTitle(tr("Command"));
    combo_ = new QComboBox(this);
    combo_->setEditable(true);
    combo_->setProperty("controlId", 1080);
    combo_->addItems({"rk-srv", "rk-mon"});
    combo_->setCurrentIndex(-1);
    combo_->lineEdit()->setMaxLength(kMaxChars);
    auto* ok = new QPushButton(tr("&OK"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("&Cancel"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel(tr("Command line"), this));
    column->addWidget(combo_);
    auto* row = new QHBoxLayout;
    row->addWidget(ok);
    row->addWidget(cancel);
    column->addLayout(row);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

QString CommandDialog::commandLine() const {
    return combo_->currentText().left(kMaxChars);
}

std::optional<std::string> CommandDialog::commandBytes() const {
    return codePage_.Encode(commandLine());
}

// The letters of OK and Cancel work alone, as in the remote control dialog, once the focus has
// left the command line (where they are typed).
void CommandDialog::keyPressEvent(QKeyEvent* event) {
    if (!ClickPlainMnemonic(*this, *event)) {
        QDialog::keyPressEvent(event);
    }
}

void CommandDialog::accept() {
    if (!commandBytes()) {
        PromptService::Show(this, CannotSendMessage(codePage_, commandLine()));
        combo_->setFocus();
        return;
    }
    QDialog::accept();
}

void RunRemoteControl(SiteSession& session, QWidget* parent, const CodePage& codePage) {
    // The dialog belongs to the link it was opened for: it goes when that link goes (a drop
    // without ReLink, a site's call-back replacing it), so it never acts on another site.
    const std::uint64_t askedFor = session.linkId();
    auto closeWithLink = [&session, askedFor](QDialog& dialog) {
        QObject::connect(&session, &SiteSession::linkGone, &dialog, [&dialog, askedFor](auto id) {
            if (id == askedFor) {
                dialog.reject();
            }
        });
    };
    RemoteControlDialog dialog(parent);
    closeWithLink(dialog);
    dialog.exec();
    // Asked again after each dialog, never assumed across one. A site that has not accepted
    // the login is not asked to act: the operator is told, and nothing waits to go later.
    auto mayAct = [&] {
        if (!session.IsActiveLink(askedFor)) {
            return false;
        }
        if (!session.loginAccepted()) {
            PromptService::Show(parent, remotetext::kNotLoggedIn);
            return false;
        }
        return true;
    };
    switch (dialog.choice()) {
        case RemoteControlDialog::kCloseSite:
            if (mayAct()) {
                session.SendCloseSite();
            }
            break;
        case RemoteControlDialog::kRebootSite:
            if (mayAct()) {
                session.SendRebootSite();
            }
            break;
        case RemoteControlDialog::kRunProgram: {
            if (!mayAct()) {
                break;
            }
            CommandDialog command(codePage, parent);
            closeWithLink(command);
            if (command.exec() != QDialog::Accepted) {
                break;
            }
            const auto bytes = command.commandBytes();
            if (bytes && mayAct()) {
                session.SendRunProgram(*bytes);
            }
            break;
        }
        case RemoteControlDialog::kNone:
            break;
    }
}

}  // namespace orvane
