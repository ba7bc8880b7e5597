#include "net/connect_dialog.h"

#include "common/code_page.h"
#include "net/ip_address_edit.h"
#include "shared/prompt_service.h"
#include "store/site_book.h"
#include "store/site_book_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace orvane {

ConnectDialog::ConnectDialog(Settings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setWindowTitle(tr("Connect to local site"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const CallSettings call = settings_.LoadCall();

    ipRadio_ = new QRadioButton(tr("IP Address"), this);
    identifyRadio_ = new QRadioButton(tr("Identify Server"), this);
    ip_ = new IpAddressEdit(this);
    id_ = new QLineEdit(QString::fromStdString(call.identify), this);
    id_->setMaxLength(static_cast<int>(kIdentifyCodeMaxBytes));
    user_ = new QLineEdit(QString::fromStdString(call.user), this);
    user_->setMaxLength(static_cast<int>(kUserNameMaxBytes));
    password_ = new QLineEdit(this);
    password_->setEchoMode(QLineEdit::Password);
    password_->setMaxLength(static_cast<int>(kPasswordMaxBytes));
    if (call.savesPassword()) {
        password_->setText(QString::fromStdString(call.password));
    }
    size_ = new QComboBox(this);
    size_->addItems({"160X120", "320X240"});
    size_->setCurrentIndex(call.formatSize == kFormatSizeLarge ? 1 : 0);
    quality_ = new QSlider(Qt::Horizontal, this);
    quality_->setRange(0, kMaxQuality);
    quality_->setPageStep(10);
    quality_->setSingleStep(1);
    quality_->setValue(call.quality);
    qualityText_ = new QLabel("100", this);
    reLink_ = new QCheckBox(tr("ReLink"), this);
    reLink_->setChecked(call.reLinkOn());
    save_ = new QCheckBox(tr("Save password"), this);
    save_->setChecked(call.savesPassword());

    (call.usesIdentifyServer() ? identifyRadio_ : ipRadio_)->setChecked(true);
    ip_->setValue(call.dial);
    connect(ipRadio_, &QRadioButton::toggled, this, &ConnectDialog::UpdateEnabling);
    connect(quality_, &QSlider::valueChanged, this, &ConnectDialog::ShowQuality);

    auto* connectButton = new QPushButton(tr("Co&nnect"), this);
    connectButton->setDefault(true);
    auto* apply = new QPushButton(tr("&Apply"), this);
    auto* cancel = new QPushButton(tr("&Cancel"), this);
    siteBook_ = new QPushButton(tr("Site book"), this);
    addDirectory_ = new QPushButton(tr("Add \ndirectory"), this);
    connect(connectButton, &QPushButton::clicked, this, &ConnectDialog::accept);
    connect(apply, &QPushButton::clicked, this, &ConnectDialog::Apply);
    connect(cancel, &QPushButton::clicked, this, &ConnectDialog::reject);
    connect(siteBook_, &QPushButton::clicked, this, &ConnectDialog::PickFromSiteBook);
    connect(addDirectory_, &QPushButton::clicked, this, &ConnectDialog::AddToSiteBook);

    auto* grid = new QGridLayout;
    int row = 0;
    grid->addWidget(ipRadio_, row, 0);
    grid->addWidget(identifyRadio_, row++, 1);
    grid->addWidget(new QLabel(tr("IP Address:"), this), row, 0);
    grid->addWidget(ip_, row++, 1);
    grid->addWidget(new QLabel(tr("ID Code:"), this), row, 0);
    grid->addWidget(id_, row++, 1);
    grid->addWidget(new QLabel(tr("User name:"), this), row, 0);
    grid->addWidget(user_, row++, 1);
    grid->addWidget(new QLabel(tr("Password:"), this), row, 0);
    grid->addWidget(password_, row++, 1);
    grid->addWidget(new QLabel(tr("Image size:"), this), row, 0);
    grid->addWidget(size_, row++, 1);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(new QLabel(tr("Normal"), this));
    qualityRow->addWidget(quality_, 1);
    qualityRow->addWidget(new QLabel(tr("Good"), this));
    qualityRow->addWidget(qualityText_);
    grid->addWidget(new QLabel(tr("Quality:"), this), row, 0);
    grid->addLayout(qualityRow, row++, 1);
    grid->addWidget(reLink_, row, 0);
    grid->addWidget(save_, row++, 1);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {connectButton, apply, cancel, siteBook_, addDirectory_}) {
        buttons->addWidget(button);
    }
    buttons->addStretch();
    auto* outer = new QHBoxLayout(this);
    outer->addLayout(grid, 1);
    outer->addLayout(buttons);
    // Laid out as designed: the dialog keeps the size its controls ask for.
    outer->setSizeConstraint(QLayout::SetFixedSize);
    UpdateEnabling();
    ShowQuality();
}

bool ConnectDialog::identifyMode() const {
    return identifyRadio_->isChecked();
}
QString ConnectDialog::addressText() const {
    return ip_->text();
}
std::string ConnectDialog::idCode() const {
    return id_->text().toStdString();
}

void ConnectDialog::UpdateEnabling() {
    id_->setEnabled(identifyMode());
    ip_->setEnabled(!identifyMode());
}

void ConnectDialog::ShowQuality() {
    qualityText_->setText(QString::asprintf("%3d", quality_->value()) + " %");
}

CallSettings ConnectDialog::ReadControls() const {
    CallSettings call;
    call.option = identifyMode() ? kAddressModeIdentify : kAddressModeIp;
    call.user = user_->text().toStdString();
    call.password = password_->text().toStdString();
    call.dial = ip_->value();
    call.identify = idCode();
    call.formatSize = std::max(0, size_->currentIndex());
    call.quality = quality_->value();
    call.save = save_->isChecked() ? 1 : 0;
    call.reLink = reLink_->isChecked() ? 1 : 0;
    return call;
}

void ConnectDialog::Apply() {
    settings_.SaveCall(ReadControls());
}

void ConnectDialog::accept() {
    if (user_->text().isEmpty()) {
        PromptService::Show(this, connecttext::kInputUserName);
        user_->setFocus();
        return;
    }
    if (!identifyMode() && ip_->isBlank()) {
        PromptService::Show(this, connecttext::kInputIpAddress);
        ip_->setFocus();
        return;
    }
    if (identifyMode() && id_->text().isEmpty()) {
        PromptService::Show(this, connecttext::kInputIdCode);
        id_->setFocus();
        return;
    }
    // What goes to the site must arrive as typed: text the code page cannot hold is refused
    // here rather than altered on the wire.
    if (RefuseUnsendable({identifyMode() ? id_ : nullptr, user_, password_})) {
        return;
    }
    Apply();
    QDialog::accept();
}

QLineEdit* ConnectDialog::RefuseUnsendable(std::initializer_list<QLineEdit*> fields) {
    const CodePage codePage(settings_.LoadNet().codePage);
    for (QLineEdit* field : fields) {
        if (field && !codePage.CanEncode(field->text())) {
            PromptService::Show(this, field->echoMode() == QLineEdit::Normal
                                          ? CannotSendMessage(codePage, field->text())
                                          : CannotSendPasswordMessage(codePage));
            field->setFocus();
            return field;
        }
    }
    return nullptr;
}

void ConnectDialog::PickFromSiteBook() {
    SiteBook book(settings_.store());
    const QPointer<ConnectDialog> self(this);
    // Held by pointer: whatever closes this dialog while the site book runs takes the site
    // book with it.
    const QPointer<SiteBookDialog> dialog =
        new SiteBookDialog(true, book, CodePage(settings_.LoadNet().codePage), this);
    const int result = dialog->exec();
    if (!self || !dialog) {
        return;
    }
    if (result == QDialog::Accepted) {
        user_->setText(dialog->userName());
        password_->setText(dialog->password());
        ip_->setValue(dialog->address());
    }
    dialog->deleteLater();
}

void ConnectDialog::AddToSiteBook() {
    const QString user = user_->text();
    if (user.isEmpty()) {
        return;
    }
    // A name the book cannot keep, or a login no site could be sent, is refused before the
    // question.
    if (!SiteBook::IsUsableUserName(user)) {
        PromptService::Show(this, connecttext::kInputUserName);
        user_->setFocus();
        return;
    }
    if (RefuseUnsendable({user_, password_})) {
        return;
    }
    if (PromptService::Show(this, connecttext::kAddToSiteBook, PromptButtons::YesNo,
                            PromptIcon::Question) != PromptAnswer::Yes) {
        return;
    }
    // A store that refuses the entry has logged why.
    SiteBook book(settings_.store());
    book.AddSiteBookEntry({user, password_->text(), ip_->value(), QString()});
}

}  // namespace orvane
