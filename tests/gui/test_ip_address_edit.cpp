// The four-field IP address control, driven by keys as an operator types into it.
#include "net/ip_address_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
// Readable failures.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

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
    static void Type(const QString& keys) {
        for (const QChar key : keys) {
            QWidget* focus = QApplication::focusWidget();
            ASSERT_NE(focus, nullptr);
            QTest::keyClick(focus, key.toLatin1());
        }
    }
    static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, key, modifiers);
    }

    int FocusedField() const {
        for (int i = 0; i < 4; ++i) {
            if (QApplication::focusWidget() == edit_->field(i)) {
                return i;
            }
        }
        return -1;
    }
    int Cursor() const { return edit_->field(FocusedField())->cursorPosition(); }

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

TEST_F(IpAddressEditTest, TypedDotsMoveOnToTheNextField) {
    Enter(0, 0);
    Type("10.0.5.21");
    EXPECT_EQ(edit_->value(), 0x0A000515u);
    EXPECT_EQ(edit_->text(), "10.0.5.21");
    EXPECT_EQ(edit_->field(1)->text(), "0");
    EXPECT_EQ(FocusedField(), 3);

    // Over fields that already show zeros, as the connect dialog opens with no address saved.
    edit_->setValue(0);
    Enter(0, 1);
    Type("10.0.5.21");
    EXPECT_EQ(edit_->text(), "10.0.5.21");

    edit_->clear();
    Enter(0, 0);
    Type("1 2 3 4");
    EXPECT_EQ(edit_->text(), "1.2.3.4");
}

// The dialog opens showing the last address; the operator selects the first field and types
// a whole new one, dots after three-digit octets included.
TEST_F(IpAddressEditTest, ADotAfterAThreeDigitOctetEndsThatOctetOnly) {
    for (const auto& [typed, shown] :
         {std::pair{"192.168.1.20", "192.168.1.20"}, std::pair{"127.0.0.1", "127.0.0.1"},
          std::pair{"300.256.999.1", "255.255.255.1"}, std::pair{"010.001.002.003", "10.1.2.3"}}) {
        SCOPED_TRACE(typed);
        edit_->setValue(0x09090909);
        edit_->field(0)->setFocus();
        edit_->field(0)->selectAll();
        Type(typed);
        EXPECT_EQ(edit_->text(), shown);
    }
    // Only the one dot: a second one moves on as any dot does.
    edit_->setValue(0x09090909);
    edit_->field(0)->setFocus();
    edit_->field(0)->selectAll();
    Type("192..5");
    EXPECT_EQ(edit_->text(), "192.9.5.9");
}

TEST_F(IpAddressEditTest, ADotOrALetterInAnEmptyFieldChangesNothing) {
    Enter(0, 0);
    Type(".");
    EXPECT_EQ(FocusedField(), 0);
    Type("x 7..8");
    EXPECT_EQ(FocusedField(), 1);
    EXPECT_EQ(edit_->field(0)->text(), "7");
    EXPECT_EQ(edit_->field(1)->text(), "8");
    EXPECT_TRUE(edit_->field(2)->text().isEmpty());
    Enter(3, 0);
    Type("9.");
    EXPECT_EQ(FocusedField(), 3);
    EXPECT_EQ(edit_->field(3)->text(), "9");
}

TEST_F(IpAddressEditTest, ALeadingZeroGivesWayAndTheThirdDigitMovesOn) {
    edit_->setValue(0);
    Enter(0, 1);
    Type("192");
    EXPECT_EQ(edit_->field(0)->text(), "192");
    EXPECT_EQ(FocusedField(), 1);
    Type("0");
    Type("1");
    EXPECT_EQ(edit_->field(1)->text(), "1");
    EXPECT_EQ(edit_->value(), 0xC0010000u);
}

TEST_F(IpAddressEditTest, OctetsAbove255BecomeTheHighestOctet) {
    Enter(0, 0);
    Type("300");
    EXPECT_EQ(edit_->field(0)->text(), "255");
    EXPECT_EQ(FocusedField(), 1);
    Enter(3, 0);
    Type("999");
    EXPECT_EQ(edit_->field(3)->text(), "255");

    // A value that came in some other way is set right when the field is left.
    edit_->field(2)->setText("700");
    Enter(2, 3);
    other_->setFocus();
    EXPECT_EQ(edit_->field(2)->text(), "255");
    EXPECT_EQ(edit_->text(), "255.0.255.255");
}

TEST_F(IpAddressEditTest, ArrowsAndBackspaceCrossTheFieldBorders) {
    edit_->setValue(0x0A0B0C0D);
    Enter(1, 0);
    Press(Qt::Key_Left);
    EXPECT_EQ(FocusedField(), 0);
    EXPECT_EQ(Cursor(), 2);
    Press(Qt::Key_Right);
    EXPECT_EQ(FocusedField(), 1);
    EXPECT_EQ(Cursor(), 0);
    Press(Qt::Key_Right);
    Press(Qt::Key_Right);
    EXPECT_EQ(FocusedField(), 1);
    Press(Qt::Key_Right);
    EXPECT_EQ(FocusedField(), 2);
    EXPECT_EQ(Cursor(), 0);

    Press(Qt::Key_Backspace);
    EXPECT_EQ(FocusedField(), 1);
    EXPECT_EQ(Cursor(), 2);
    Press(Qt::Key_Backspace);
    Press(Qt::Key_Backspace);
    EXPECT_TRUE(edit_->field(1)->text().isEmpty());
    EXPECT_EQ(FocusedField(), 1);
    Press(Qt::Key_Backspace);
    EXPECT_EQ(FocusedField(), 0);
    EXPECT_EQ(Cursor(), 2);
    EXPECT_EQ(edit_->field(0)->text(), "10");

    // The ends of the control stay where they are.
    Enter(0, 0);
    Press(Qt::Key_Left);
    Press(Qt::Key_Backspace);
    EXPECT_EQ(FocusedField(), 0);
    Enter(3, 2);
    Press(Qt::Key_Right);
    EXPECT_EQ(FocusedField(), 3);
}

TEST_F(IpAddressEditTest, PastingAWholeAddressFillsEveryField) {
    QApplication::clipboard()->setText(" 192.168.1.20 ");
    Enter(2, 0);
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit_->value(), 0xC0A80114u);
    EXPECT_EQ(edit_->text(), "192.168.1.20");

    QApplication::clipboard()->setText("10.0.0.1");
    edit_->clear();
    Enter(0, 0);
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit_->text(), "10.0.0.1");

    // Not an address: the fields keep what they had.
    for (const char* notAnAddress : {"10.0.0", "1.2.3.400", "a.b.c.d"}) {
        QApplication::clipboard()->setText(notAnAddress);
        Enter(1, 0);
        Press(Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(edit_->text(), "10.0.0.1") << notAnAddress;
    }
    // Bare digits go into the field where the caret is, as if typed.
    QApplication::clipboard()->setText("7");
    Enter(2, 0);
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit_->text(), "10.0.7.1");
}

}  // namespace
}  // namespace orvane
