#include "net/ip_address_edit.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <optional>

namespace orvane {
namespace {

constexpr int kLastField = 3;
constexpr int kMaxOctet = 255;
constexpr int kOctetDigits = 3;

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// "192.168.1.20"; nothing else reads as an address.
std::optional<std::uint32_t> ParseDotted(const QString& text) {
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4) {
        return std::nullopt;
    }
    std::uint32_t address = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > kOctetDigits ||
            !std::all_of(part.begin(), part.end(), IsDigit)) {
            return std::nullopt;
        }
        const int octet = part.toInt();
        if (octet > kMaxOctet) {
            return std::nullopt;
        }
        address = address << 8 | static_cast<std::uint32_t>(octet);
    }
    return address;
}

}  // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        auto* field = new QLineEdit(this);
        // Digits only; dots, blanks and values above 255 are dealt with by the key handling.
        field->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{0,3}")), field));
        field->setMaxLength(kOctetDigits);
        field->setAlignment(Qt::AlignCenter);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance("0000") + 8);
        field->installEventFilter(this);
        fields_[i] = field;
        row->addWidget(field);
        if (i + 1 < fields_.size()) {
            row->addWidget(new QLabel(".", this));
        }
    }
    setFocusProxy(fields_[0]);
}

std::uint32_t IpAddressEdit::value() const {
    std::uint32_t address = 0;
    for (const QLineEdit* field : fields_) {
        address = address << 8 |
                  static_cast<std::uint32_t>(std::clamp(field->text().toInt(), 0, kMaxOctet));
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

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int index = IndexOf(watched);
    if (index >= 0) {
        if (event->type() == QEvent::KeyPress &&
            HandleKey(index, *static_cast<QKeyEvent*>(event))) {
            return true;
        }
        if (event->type() == QEvent::FocusOut) {
            Settle(index);
        }
    }
    return QWidget::eventFilter(watched, event);
}

int IpAddressEdit::IndexOf(const QObject* watched) const {
    const auto it = std::find(fields_.begin(), fields_.end(), watched);
    return it == fields_.end() ? -1 : static_cast<int>(it - fields_.begin());
}

// True when the key was dealt with here; everything else (Delete, Home, selecting with Shift,
// undo) is the field's own.
bool IpAddressEdit::HandleKey(int index, const QKeyEvent& key) {
    QLineEdit* current = field(index);
    const bool justAdvanced = advancedTo_ == index;
    advancedTo_ = -1;
    if (key.matches(QKeySequence::Paste)) {
        const QString pasted = QGuiApplication::clipboard()->text().trimmed();
        // Bare digits go into this field as if typed. Anything else but a whole address is
        // refused: the field would keep its first digits, and "10.0.0" would arrive as 10.
        if (!PasteAddress(pasted) && !pasted.isEmpty() &&
            std::all_of(pasted.begin(), pasted.end(), IsDigit)) {
            TypeDigits(index, pasted);
        }
        return true;
    }
    const bool plain = (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const bool bareCaret = plain && !current->hasSelectedText();
    const int caret = current->cursorPosition();
    switch (key.key()) {
        case Qt::Key_Right:
            if (bareCaret && caret == current->text().size() && index < kLastField) {
                MoveTo(index, index + 1, Caret::Start);
                return true;
            }
            return false;
        case Qt::Key_Left:
        case Qt::Key_Backspace:
            if (bareCaret && caret == 0 && index > 0) {
                MoveTo(index, index - 1, Caret::End);
                return true;
            }
            return false;
        default:
            break;
    }
    const QString typed = key.text();
    if (typed == "." || typed == " ") {
        // The separator is never typed into a field; it only says this octet is done. After
        // a third digit the octet was done already: "192.168" must not skip a field.
        if (!justAdvanced && !current->text().isEmpty() && index < kLastField) {
            MoveTo(index, index + 1, Caret::SelectAll);
        }
        return true;
    }
    if (typed.size() == 1 && IsDigit(typed[0]) && !(key.modifiers() & Qt::ControlModifier)) {
        TypeDigits(index, typed);
        return true;
    }
    return false;
}

void IpAddressEdit::TypeDigits(int index, const QString& digits) {
    QLineEdit* current = field(index);
    // A lone "0" is what the control shows for an octet nobody typed yet: what is typed
    // replaces it, so "0" then "1" reads 1 rather than 01.
    if (current->text() == "0" && !current->hasSelectedText()) {
        current->selectAll();
    }
    const QString before = current->text();
    current->insert(digits);
    if (current->text() != before && current->text().size() == kOctetDigits) {
        Settle(index);
        if (index < kLastField) {
            MoveTo(index, index + 1, Caret::SelectAll);
            advancedTo_ = index + 1;
        }
    }
}

void IpAddressEdit::MoveTo(int from, int to, Caret caret) {
    Settle(from);
    QLineEdit* next = field(to);
    next->setFocus(Qt::OtherFocusReason);
    if (caret == Caret::SelectAll) {
        next->selectAll();
        return;
    }
    next->deselect();
    next->setCursorPosition(caret == Caret::Start ? 0 : static_cast<int>(next->text().size()));
}

// A finished octet is shown as its number: above 255 it becomes 255 without a word, as the
// system control does, and leading zeros go.
void IpAddressEdit::Settle(int index) {
    QLineEdit* current = field(index);
    if (current->text().isEmpty()) {
        return;
    }
    const QString settled = QString::number(std::min(current->text().toInt(), kMaxOctet));
    if (settled != current->text()) {
        current->setText(settled);
    }
}

bool IpAddressEdit::PasteAddress(const QString& text) {
    const std::optional<std::uint32_t> address = ParseDotted(text);
    if (!address) {
        return false;
    }
    setValue(*address);
    QLineEdit* last = field(kLastField);
    last->setFocus(Qt::OtherFocusReason);
    last->deselect();
    last->setCursorPosition(static_cast<int>(last->text().size()));
    return true;
}

}  // namespace orvane
