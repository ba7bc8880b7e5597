// The four-field IP address control, driven by keys as an operator types into it.
#include "net/ip_address_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QHostAddress>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace orvane {
namespace {

class IpAddressEditTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto* column = new QVBoxLayout(&window_);
        edit_ = new IpAddressEdit(&window_);
        other_ = new QLineEdit(&window_);
        column->addWidget(edit_);
        column->addWidget(other_);
        window_.show();
        window_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    }

    // Keys go wherever the focus is, as they do for an operator.
    static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }
    int FocusedField() const {
        for (int i = 0; i < 4; ++i) {
            if (QApplication::focusWidget() == edit_->field(i)) {
                return i;
            }
        }
        return -1;
    }
    // Puts the caret into a field as a click would, without selecting.
    void Enter(int index, int cursor) {
        edit_->field(index)->setFocus();
        edit_->field(index)->deselect();
        edit_->field(index)->setCursorPosition(cursor);
    }

    QWidget window_;
    IpAddressEdit* edit_ = nullptr;
    QLineEdit* other_ = nullptr;
};

// What the operator's keys leave in the four fields (joined by dots) and where the caret
// ends. Keys: '<' Left, '>' Right, '\b' Backspace, '^' Ctrl+V of the rest of the keys put on the
// clipboard; anything else is typed as it is.
struct TypingRow {
    const char* what;
    std::optional<quint32> start;  // none: every field empty
    int field;
    int cursor;  // -1: the field's text selected, as the connect dialog opens
    const char* keys;
    const char* fields;
    int focus;             // -1: not looked at
    int cursorAfter = -1;  // -1: not looked at
};

const TypingRow kTypingRows[] = {
    {"dots move on", {}, 0, 0, "10.0.5.21", "10.0.5.21", 3},
    {"over zeros, as with no address saved", 0, 0, 1, "10.0.5.21", "10.0.5.21", 3},
    {"spaces move on too", {}, 0, 0, "1 2 3 4", "1.2.3.4", 3},
    {"a dot after three digits ends that octet only", 0x09090909, 0, -1, "192.168.1.20",
     "192.168.1.20", 3},
    {"one-digit octets", 0x09090909, 0, -1, "127.0.0.1", "127.0.0.1", 3},
    {"too high, three digits each", 0x09090909, 0, -1, "300.256.999.1", "255.255.255.1", 3},
    {"leading zeros", 0x09090909, 0, -1, "010.001.002.003", "10.1.2.3", 3},
    {"a second dot moves on as any dot", 0x09090909, 0, -1, "192..5", "192.9.5.9", 2},
    {"a dot or a letter in an empty field changes nothing", {}, 0, 0, ".x 7..8", "7.8..", 1},
    {"a dot in the last field stays there", {}, 3, 0, "9.", "...9", 3},
    {"a leading zero gives way, the third digit moves on", 0, 0, 1, "19201", "192.1.0.0", 1},
    {"above 255 is 255", {}, 0, 0, "300", "255...", 1},
    {"above 255 in the last field", {}, 3, 0, "999", "...255", -1},
    {"left at a start goes to the end before", 0x0A0B0C0D, 1, 0, "<", "10.11.12.13", 0, 2},
    {"right at an end goes to the start after", 0x0A0B0C0D, 1, 0, "<>", "10.11.12.13", 1, 0},
    {"right within a field stays in it", 0x0A0B0C0D, 1, 0, ">>", "10.11.12.13", 1, 2},
    {"right past the end", 0x0A0B0C0D, 1, 0, ">>>", "10.11.12.13", 2, 0},
    {"backspace at a start goes to the end before", 0x0A0B0C0D, 2, 0, "\b", "10.11.12.13", 1, 2},
    {"backspace empties a field and stays", 0x0A0B0C0D, 2, 0, "\b\b\b", "10..12.13", 1},
    {"backspace in an empty field goes back", 0x0A0B0C0D, 2, 0, "\b\b\b\b", "10..12.13", 0, 2},
    {"the first field's start stays", 0x0A0B0C0D, 0, 0, "<\b", "10.11.12.13", 0, 0},
    {"the last field's end stays", 0x0A0B0C0D, 3, 2, ">", "10.11.12.13", 3},
    {"a pasted address fills every field", {}, 2, 0, "^ 192.168.1.20 ", "192.168.1.20", -1},
    {"pasted into the first field", {}, 0, 0, "^10.0.0.1", "10.0.0.1", -1},
    {"three octets are no address", 0x0A000001, 1, 0, "^10.0.0", "10.0.0.1", -1},
    {"an octet too high is no address", 0x0A000001, 1, 0, "^1.2.3.400", "10.0.0.1", -1},
    {"letters are no address", 0x0A000001, 1, 0, "^a.b.c.d", "10.0.0.1", -1},
    {"bare digits go where the caret is", 0x0A000001, 2, 0, "^7", "10.0.7.1", -1},
};

TEST_F(IpAddressEditTest, KeysFillTheFieldsAsAnOperatorExpects) {
    for (const TypingRow& row : kTypingRows) {
        SCOPED_TRACE(row.what);
        row.start ? edit_->setValue(*row.start) : edit_->clear();
        Enter(row.field, std::max(row.cursor, 0));
        if (row.cursor < 0) {
            edit_->field(row.field)->selectAll();
        }
        const std::string_view keys(row.keys);
        for (std::size_t at = 0; at < keys.size(); ++at) {
            if (keys[at] == '<' || keys[at] == '>' || keys[at] == '\b') {
                Press(keys[at] == '<'   ? Qt::Key_Left
                      : keys[at] == '>' ? Qt::Key_Right
                                        : Qt::Key_Backspace);
            } else if (keys[at] == '^') {
                QApplication::clipboard()->setText(QString::fromLatin1(keys.substr(at + 1)));
                Press(Qt::Key_V, Qt::ControlModifier);
                break;
            } else {
                QTest::keyClick(QApplication::focusWidget(), keys[at]);
            }
        }
        QStringList fields;
        for (int i = 0; i < 4; ++i) {
            fields << edit_->field(i)->text();
        }
        EXPECT_EQ(fields.join('.').toStdString(), row.fields);
        if (!fields.contains(QString())) {  // a whole address: the control's text and value
            EXPECT_EQ(edit_->text().toStdString(), row.fields);
            EXPECT_EQ(QHostAddress(edit_->value()).toString().toStdString(), row.fields);
        }
        if (row.focus >= 0) {
            EXPECT_EQ(FocusedField(), row.focus);
        }
        if (row.cursorAfter >= 0) {
            EXPECT_EQ(edit_->field(FocusedField())->cursorPosition(), row.cursorAfter);
        }
    }
}

// A value that came in some other way is set right when the field is left.
TEST_F(IpAddressEditTest, AFieldAbove255IsSetRightWhenLeft) {
    edit_->clear();
    edit_->field(2)->setText("700");
    Enter(2, 3);
    other_->setFocus();
    EXPECT_EQ(edit_->field(2)->text(), "255");
}

}  // namespace
}  // namespace orvane
