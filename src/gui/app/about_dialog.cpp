#include "app/about_dialog.h"

#include "shared/app_texts.h"
#include "shared/resource_ids.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace orvane {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(text::kAboutTitle);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(res::kAppIcon).pixmap(32, 32));
    auto* version = new QLabel(text::kVersion, this);
    auto* ok = new QPushButton(tr("&OK"), this);
    ok->setProperty("controlId", res::kOkButton);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout(this);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(version, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    row->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace orvane
