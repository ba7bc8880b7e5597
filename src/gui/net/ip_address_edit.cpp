#include "net/ip_address_edit.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>

namespace orvane {

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        auto* field = new QLineEdit(this);
        field->setValidator(new QIntValidator(0, 255, field));
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance("0000") + 8);
        fields_[i] = field;
        row->addWidget(field);
        if (i + 1 < fields_.size()) {
            row->addWidget(new QLabel(".", this));
            // A full octet or a typed dot moves on to the next field.
            connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
                if (text.endsWith('.') || text.size() == 3) {
                    if (text.endsWith('.')) {
                        fields_[i]->setText(text.chopped(1));
                    }
                    fields_[i + 1]->setFocus();
                    fields_[i + 1]->selectAll();
                }
            });
        }
    }
    setFocusProxy(fields_[0]);
}

std::uint32_t IpAddressEdit::value() const {
    std::uint32_t address = 0;
    for (const QLineEdit* field : fields_) {
        address =
            address << 8 | static_cast<std::uint32_t>(std::clamp(field->text().toInt(), 0, 255));
    }
    return address;
}

void IpAddressEdit::setValue(std::uint32_t address) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->setText(QString::number((address >> (24 - 8 * i)) & 0xFF));
    }
}

bool IpAddressEdit::isBlank() const {
    return std::all_of(fields_.begin(), fields_.end(),
                       [](const QLineEdit* field) { return field->text().isEmpty(); });
}

QString IpAddressEdit::text() const {
    const std::uint32_t a = value();
    return QString("%1.%2.%3.%4")
        .arg(a >> 24)
        .arg((a >> 16) & 0xFF)
        .arg((a >> 8) & 0xFF)
        .arg(a & 0xFF);
}

void IpAddressEdit::clear() {
    for (QLineEdit* field : fields_) {
        field->clear();
    }
}

}  // namespace orvane
