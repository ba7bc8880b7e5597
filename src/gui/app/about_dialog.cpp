#include "app/about_dialog.h"

#include "common/log_file.h"
#include "shared/app_texts.h"
#include "shared/resource_ids.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(text::kAboutTitle);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(res::kAppIcon).pixmap(32, 32));
    auto* version = new QLabel(text::kVersion, this);
    // Where to look, or what to attach to a fault report, when something went wrong.
    auto* logFile = new QLabel(tr("Log file: %1").arg(QString::fromStdString(LogFilePath())), this);
    logFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* ok = new QPushButton(tr("&OK"), this);
    ok->setProperty("controlId", res::kOkButton);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(logFile);
    auto* row = new QHBoxLayout(this);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    row->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace orvane
