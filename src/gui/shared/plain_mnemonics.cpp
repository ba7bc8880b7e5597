#include "shared/plain_mnemonics.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace orvane {

namespace {

bool TakesText(const QWidget* widget) {
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        return combo->isEditable();
    }
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget);
}

}  // namespace

bool ClickPlainMnemonic(QWidget& dialog, const QKeyEvent& event) {
    const auto modifiers = event.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (modifiers != Qt::NoModifier || event.text().size() != 1 ||
        !event.text().front().isLetterOrNumber() || TakesText(QApplication::focusWidget())) {
        return false;
    }
    const QKeySequence withAlt(QKeyCombination(Qt::AltModifier, Qt::Key(event.key())));
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        if (button->isVisible() && button->isEnabled() &&
            QKeySequence::mnemonic(button->text()) == withAlt) {
            button->click();
            return true;
        }
    }
    return false;
}

}  // namespace orvane
