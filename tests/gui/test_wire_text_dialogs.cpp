// Typed text that goes to a site: refused on OK when the code page cannot hold it.
#include "net/connect_dialog.h"
#include "net/ip_address_edit.h"
#include "net/remote_control_dialogs.h"
#include "support/scripted_prompts.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace orvane {
namespace {

class ConnectDialogTextTest : public testing::Test {
  protected:
    ConnectDialogTextTest() {
        CallSettings call;
        call.dial = 0x7F000001;
        settings.SaveCall(call);
    }

    Settings settings{KeyStore::OpenInMemory()};
    test::ScriptedPrompts prompts;
};

TEST_F(ConnectDialogTextTest, EachFieldWithCharactersOutsideTheCodePageIsRefused) {
    ConnectDialog dialog(settings);
    dialog.show();
    dialog.userEdit()->setText(QString::fromUtf8("Dvořák"));
    dialog.passwordEdit()->setText(QString::fromUtf8("€uro"));
    dialog.accept();

    ASSERT_EQ(prompts.texts(),
              QStringList{QString::fromUtf8("\n\n The characters \"ř\" cannot be sent to a site "
                                            "(code page windows-1252). \n\n")});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), dialog.userEdit());
    EXPECT_EQ(dialog.userEdit()->text(), QString::fromUtf8("Dvořák"));  // never changed
    EXPECT_EQ(settings.LoadCall().user, "");                            // nor stored

    dialog.userEdit()->setText(QString::fromUtf8("Dvorák"));
    dialog.passwordEdit()->setText(QString::fromUtf8("Пароль"));
    dialog.accept();
    ASSERT_EQ(prompts.texts().size(), 2);
    // A password is named, never shown.
    EXPECT_TRUE(prompts.texts()[1].contains("password"));
    EXPECT_FALSE(prompts.texts()[1].contains(QString::fromUtf8("Пароль")));
    EXPECT_EQ(dialog.focusWidget(), dialog.passwordEdit());

    dialog.passwordEdit()->setText(QString::fromUtf8("€uro"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.LoadCall().user, "Dvorák");
}

TEST_F(ConnectDialogTextTest, TheIdCodeIsCheckedOnlyWhenItIsUsed) {
    ConnectDialog dialog(settings);
    dialog.show();
    dialog.userEdit()->setText("admin");
    dialog.identifyRadio()->setChecked(true);
    dialog.idEdit()->setText(QString::fromUtf8("站点42"));
    dialog.accept();
    ASSERT_EQ(prompts.texts().size(), 1);
    EXPECT_TRUE(prompts.texts()[0].contains(QString::fromUtf8("\"站点\"")));
    EXPECT_EQ(dialog.focusWidget(), dialog.idEdit());

    dialog.ipRadio()->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ConnectDialogTextTest, TheCodePageComesFromTheNetSettings) {
    settings.WriteProfileString("Net", "CodePage", "windows-1250");
    ConnectDialog dialog(settings);
    dialog.show();
    dialog.userEdit()->setText(QString::fromUtf8("Dvořák"));
    dialog.accept();
    if (prompts.texts().isEmpty()) {
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    } else {  // Qt without ICU code pages: windows-1252 is used instead
        EXPECT_TRUE(prompts.texts()[0].contains("windows-1252"));
    }
}

TEST(CommandDialogText, ACommandLineOutsideTheCodePageIsRefusedAndOtherwiseGivenAsBytes) {
    test::ScriptedPrompts prompts;
    CommandDialog dialog{CodePage()};
    dialog.show();
    dialog.combo()->setCurrentText(QString::fromUtf8("start 漢字.exe"));
    dialog.accept();
    ASSERT_EQ(prompts.texts(), QStringList{QString::fromUtf8(
                                   "\n\n The characters \"漢字\" cannot be sent to a site (code "
                                   "page windows-1252). \n\n")});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.combo()->hasFocus() || dialog.focusWidget() == dialog.combo());
    EXPECT_EQ(dialog.commandBytes(), std::nullopt);

    dialog.combo()->setCurrentText(QString::fromUtf8("café.exe"));
    EXPECT_EQ(dialog.commandBytes(), std::optional<std::string>("caf\xE9.exe"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace orvane
