#include "video/open_channel_dialog.h"

#include "shared/tool_icons.h"
#include "site/channel_table.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace orvane {

OpenChannelDialog::OpenChannelDialog(const ChannelTable& channels, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Open local site video channel"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* icon = new QLabel(this);
    icon->setPixmap(ToolIcon(ToolGlyph::OpenChannel).pixmap(32, 32));
    auto* prompt = new QLabel(tr("Please select video channel"), this);
    list_ = new QComboBox(this);
    list_->setProperty("controlId", 1003);
    for (const ChannelEntry& entry : channels.entries()) {
        list_->addItem(QString::asprintf("%04d ", entry.id) + QString::fromStdString(entry.name));
    }
    if (list_->count() > 0) {
        list_->setCurrentIndex(0);
    }
    auto* open = new QPushButton(tr("&Open"), this);
    open->setDefault(true);
    auto* cancel = new QPushButton(tr("&Cancel"), this);
    connect(open, &QPushButton::clicked, this, &OpenChannelDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &OpenChannelDialog::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(prompt, 0, 1);
    grid->addWidget(list_, 1, 1);
    grid->addWidget(open, 0, 2);
    grid->addWidget(cancel, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void OpenChannelDialog::accept() {
    if (list_->currentIndex() >= 0) {
        selectedChannelId_ = list_->currentText().left(4).toInt();
    }
    QDialog::accept();
}

}  // namespace orvane
