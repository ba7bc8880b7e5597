#pragma once

class QKeyEvent;
class QWidget;

namespace orvane {

// As in a Windows dialog, a button's underlined letter works without Alt while the focus is
// not in a field that takes text. Clicks the dialog's button whose mnemonic the key is; false
// when there is none (the key then goes on as usual).
bool ClickPlainMnemonic(QWidget& dialog, const QKeyEvent& event);

}  // namespace orvane
