#include "net/remote_control_dialogs.h"

#include "site/site_connection.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

RemoteControlDialog::RemoteControlDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Remote control"));
    auto* column = new QVBoxLayout(this);
    const std::pair<const char*, Choice> buttons[] = {{"&A. Close remote site.", kCloseSite},
                                                      {"&B. Reboot remote site.", kRebootSite},
                                                      {"&C. Execute extra program.", kRunProgram}};
    int controlId = 1077;
    for (const auto& [text, choice] : buttons) {
        auto* button = new QPushButton(tr(text), this);
        button->setProperty("controlId", controlId++);
        connect(button, &QPushButton::clicked, this, [this, choice = choice] { Choose(choice); });
        column->addWidget(button);
    }
    auto* exitButton = new QPushButton(tr("&Q.Exit"), this);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::accept);
    column->addWidget(exitButton);
}

void RemoteControlDialog::Choose(Choice choice) {
    choice_ = choice;
    accept();
}

CommandDialog::CommandDialog(QWidget* parent) : QDialog(parent) {
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
}

QString CommandDialog::commandLine() const {
    return combo_->currentText().left(kMaxChars);
}

void RunRemoteControl(SiteConnection& connection, QWidget* parent) {
    RemoteControlDialog dialog(parent);
    dialog.exec();
    switch (dialog.choice()) {
        case RemoteControlDialog::kCloseSite:
            connection.SendCloseSite();
            break;
        case RemoteControlDialog::kRebootSite:
            connection.SendRebootSite();
            break;
        case RemoteControlDialog::kRunProgram: {
            CommandDialog command(parent);
            if (command.exec() == QDialog::Accepted) {
                connection.SendRunProgram(command.commandLine().toStdString());
            }
            break;
        }
        case RemoteControlDialog::kNone:
            break;
    }
}

}  // namespace orvane
