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

QString Refusal(const char* characters) {
    return QString::fromUtf8(
               "\n\n The characters \"%1\" cannot be sent to a site (code page "
               "windows-1252). \n\n")
        .arg(QString::fromUtf8(characters));
}

// Each field is checked in turn; the caret goes to the one refused, nothing is changed or
// stored, a password is named but never shown, and the ID code only counts when it is used.
TEST(ConnectDialogText, EachFieldWithCharactersOutsideTheCodePageIsRefused) {
    test::ScriptedPrompts prompts;
    Settings settings{KeyStore::OpenInMemory()};
    CallSettings call;
    call.dial = 0x7F000001;
    settings.SaveCall(call);
    ConnectDialog dialog(settings);
    dialog.show();
    dialog.userEdit()->setText(QString::fromUtf8("Dvořák"));
    dialog.passwordEdit()->setText(QString::fromUtf8("€uro"));
    dialog.accept();
    ASSERT_EQ(prompts.texts(), QStringList{Refusal("ř")});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), dialog.userEdit());
    EXPECT_EQ(settings.LoadCall().user, "");

    dialog.userEdit()->setText(QString::fromUtf8("Dvorák"));
    dialog.passwordEdit()->setText(QString::fromUtf8("Пароль"));
    dialog.accept();
    ASSERT_EQ(prompts.texts().size(), 2);
    EXPECT_TRUE(prompts.texts()[1].contains("password"));
    EXPECT_FALSE(prompts.texts()[1].contains(QString::fromUtf8("Пароль")));
    EXPECT_EQ(dialog.focusWidget(), dialog.passwordEdit());

    dialog.passwordEdit()->setText(QString::fromUtf8("€uro"));
    dialog.identifyRadio()->setChecked(true);
    dialog.idEdit()->setText(QString::fromUtf8("站点42"));
    dialog.accept();
    ASSERT_EQ(prompts.texts().size(), 3);
    EXPECT_TRUE(prompts.texts()[2].contains(QString::fromUtf8("\"站点\"")));
    EXPECT_EQ(dialog.focusWidget(), dialog.idEdit());
    dialog.ipRadio()->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.LoadCall().user, "Dvorák");

    // The code page is the one the net settings name.
    settings.WriteProfileString("Net", "CodePage", "windows-1250");
    ConnectDialog central(settings);
    central.show();
    central.userEdit()->setText(QString::fromUtf8("Dvořák"));
    central.accept();
    if (prompts.texts().size() == 3) {
        EXPECT_EQ(central.result(), QDialog::Accepted);
    } else {  // Qt without ICU code pages: windows-1252 is used instead
        EXPECT_TRUE(prompts.texts()[3].contains("windows-1252"));
    }
}

TEST(CommandDialogText, ACommandLineOutsideTheCodePageIsRefusedAndOtherwiseGivenAsBytes) {
    test::ScriptedPrompts prompts;
    CommandDialog dialog{CodePage()};
    dialog.show();
    dialog.combo()->setCurrentText(QString::fromUtf8("start 漢字.exe"));
    dialog.accept();
    ASSERT_EQ(prompts.texts(), QStringList{Refusal("漢字")});
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
