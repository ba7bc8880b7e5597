// How the designed dialogs sit on the screen: their size, default buttons and where message
// boxes appear.
#include "app/about_dialog.h"
#include "common/code_page.h"
#include "net/connect_dialog.h"
#include "net/connect_flow.h"
#include "net/remote_control_dialogs.h"
#include "shared/message_box_placement.h"
#include "site/channel_table.h"
#include "store/settings.h"
#include "support/temp_store.h"
#include "video/open_channel_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLayout>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

QT_BEGIN_NAMESPACE
// Readable failures.
void PrintTo(const QSize& size, std::ostream* out) {
    *out << size.width() << 'x' << size.height();
}
void PrintTo(const QPoint& point, std::ostream* out) {
    *out << '(' << point.x() << ", " << point.y() << ')';
}
QT_END_NAMESPACE

namespace orvane {
namespace {

QPushButton* ButtonNamed(const QWidget& dialog, const QString& text) {
    const auto buttons = dialog.findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        if (button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

TEST(RemoteControlDialogLook, EnterLeavesTheSiteAlone) {
    RemoteControlDialog dialog;
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));

    QPushButton* exitButton = ButtonNamed(dialog, "&Q.Exit");
    ASSERT_NE(exitButton, nullptr);
    EXPECT_TRUE(exitButton->isDefault());
    EXPECT_EQ(QApplication::focusWidget(), exitButton);
    for (const char* text :
         {"&A. Close remote site.", "&B. Reboot remote site.", "&C. Execute extra program."}) {
        QPushButton* button = ButtonNamed(dialog, text);
        ASSERT_NE(button, nullptr) << text;
        EXPECT_FALSE(button->isDefault()) << text;
        EXPECT_FALSE(button->autoDefault()) << text;
    }

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(dialog.choice(), RemoteControlDialog::kNone);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(RemoteControlDialogLook, ALetterAloneChoosesAsItsButtonDoes) {
    const std::pair<Qt::Key, RemoteControlDialog::Choice> rows[] = {
        {Qt::Key_A, RemoteControlDialog::kCloseSite},
        {Qt::Key_B, RemoteControlDialog::kRebootSite},
        {Qt::Key_C, RemoteControlDialog::kRunProgram},
        {Qt::Key_Q, RemoteControlDialog::kNone}};
    for (const auto& [key, choice] : rows) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        RemoteControlDialog dialog;
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.choice(), choice);
    }
}

TEST(RemoteControlDialogLook, TheCommandsLettersWorkAloneOnlyOutsideTheCommandLine) {
    CommandDialog dialog{CodePage()};
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    dialog.combo()->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), "cocoa");
    EXPECT_EQ(dialog.commandLine(), "cocoa");
    EXPECT_TRUE(dialog.isVisible());
    ButtonNamed(dialog, "&OK")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(RemoteControlDialogLook, IsWideEnoughForItsTitle) {
    RemoteControlDialog dialog;
    dialog.show();
    const int titleWidth = QFontMetrics(QApplication::font()).horizontalAdvance("Remote control");
    EXPECT_GE(dialog.width(), titleWidth + 120);
}

// Each designed dialog keeps the size its layout gives it and has no "What's this" button.
void ExpectFixedSize(QDialog& dialog) {
    dialog.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    SCOPED_TRACE(dialog.windowTitle().toStdString());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.size(), dialog.minimumSize());
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
}

TEST(DialogLook, DesignedDialogsCannotBeResized) {
    test::TempStore temp;
    auto opened = OpenSettings(temp.path());
    ConnectDialog connectDialog(opened.settings);
    ExpectFixedSize(connectDialog);

    ChannelTable channels;
    channels.Replace({{2, "Lobby"}, {7, "Gate"}});
    OpenChannelDialog openChannel(channels);
    ExpectFixedSize(openChannel);

    RemoteControlDialog remoteControl;
    ExpectFixedSize(remoteControl);
    CommandDialog command{CodePage()};
    ExpectFixedSize(command);
    AboutDialog about;
    ExpectFixedSize(about);
    RetryDialog retry("IP Address : 127.0.0.1");
    ExpectFixedSize(retry);
}

TEST(MessageBoxPlacement, CentresOnTheFrameAndStaysOnTheScreen) {
    const QRect screen(0, 0, 1280, 1024);
    EXPECT_EQ(MessageBoxTopLeft(QRect(100, 50, 800, 600), QSize(300, 101), screen),
              QPoint(350, 299));
    // A window hanging off the screen's edges pulls the box in, never out.
    EXPECT_EQ(MessageBoxTopLeft(QRect(-700, -500, 800, 600), QSize(300, 100), screen),
              QPoint(0, 0));
    EXPECT_EQ(MessageBoxTopLeft(QRect(1200, 900, 800, 600), QSize(300, 100), screen),
              QPoint(980, 924));
    // A second screen to the left has negative coordinates.
    EXPECT_EQ(
        MessageBoxTopLeft(QRect(-1000, 0, 800, 600), QSize(200, 100), QRect(-1280, 0, 1280, 1024)),
        QPoint(-700, 250));
}

TEST(MessageBoxPlacement, ABoxAskedForByAChildWidgetCentresOnItsWindow) {
    QWidget window;
    window.setGeometry(60, 40, 400, 300);
    auto* child = new QWidget(&window);
    child->setGeometry(250, 200, 120, 80);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const QSize box(200, 100);
    const QPoint topLeft = MessageBoxTopLeft(*child, box);
    const QRect frame = window.frameGeometry();
    EXPECT_LE(std::abs(QRect(topLeft, box).center().x() - frame.center().x()), 1);
    EXPECT_LE(std::abs(QRect(topLeft, box).center().y() - frame.center().y()), 1);
    EXPECT_EQ(MessageBoxTopLeft(window, box), topLeft);
}

}  // namespace
}  // namespace orvane
