// The password lock: the gate at the start, the setup dialog, and what the store keeps.
#include "app/password_dialogs.h"
#include "shared/app_texts.h"
#include "store/program_lock.h"
#include "store/sqlite_handle.h"
#include "support/modal_script.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <sqlite3.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace orvane {
namespace {

class PasswordLockTest : public testing::Test {
  protected:
    test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    ProgramLock lock{settings};
    test::ScriptedPrompts prompts;
};

TEST_F(PasswordLockTest, TheGateAndTheSetupCommandAskForTheStoredLockFirst) {
    EXPECT_TRUE(PassStartupGate(lock));                    // no lock, no question
    settings.WriteProfileString("Key", "PassWord", "pw");  // a lock without a user name
    // A wrong letter case is refused with the caret back in the password, as often as
    // typed: the right one still gets in.
    for (const bool right : {true, false}) {
        test::ModalScript script;
        script.Then<EnterPasswordDialog>([&](EnterPasswordDialog* dialog) {
            dialog->passwordEdit()->setText("PW");
            dialog->okButton()->setFocus();
            QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
            EXPECT_EQ(prompts.texts().constLast(), text::kPasswordNotCorrect);
            EXPECT_EQ(dialog->focusWidget(), dialog->passwordEdit());
            dialog->passwordEdit()->setText("pw");
            right ? QTest::mouseClick(dialog->okButton(), Qt::LeftButton) : dialog->reject();
        });
        EXPECT_EQ(PassStartupGate(lock), right);
        EXPECT_TRUE(script.finished());
    }
    // The setup dialog comes only after the current lock's password.
    lock.SavePassword("guard", "pw");
    for (const bool right : {false, true}) {
        test::ModalScript script;
        script
            .Then<EnterPasswordDialog>([right](EnterPasswordDialog* dialog) {
                EXPECT_EQ(dialog->userNameEdit()->text(), "guard");
                dialog->passwordEdit()->setText("pw");
                right ? dialog->accept() : dialog->reject();
            })
            .Then<SetupPasswordDialog>([](SetupPasswordDialog* setup) {
                setup->passwordEdit()->setText("pw2");
                setup->confirmEdit()->setText("pw2");
                setup->accept();
            });
        RunSetupPasswordCommand(lock);
        EXPECT_EQ(script.finished(), right);
        EXPECT_EQ(lock.CheckPassword("guard", "pw2"), right);
    }
}

TEST_F(PasswordLockTest, ResetEmptiesTheSetupAndRemovesTheLockOnlyOnOk) {
    lock.SavePassword("guard", "pw");
    for (const bool ok : {false, true}) {
        SetupPasswordDialog dialog(lock);
        EXPECT_EQ(dialog.confirmEdit()->text(), "pw");
        QTest::mouseClick(dialog.resetButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.userNameEdit()->text() + dialog.confirmEdit()->text(), "");
        ok ? QTest::mouseClick(dialog.okButton(), Qt::LeftButton) : dialog.reject();
        EXPECT_EQ(lock.IsSet(), !ok);
    }
}

// What is refused: the dialog stays, says why, and puts the caret where the mistake is; the
// lock stays as it was; once put right, OK goes through. A store that takes the user name but
// not the password (a disk full between the two) leaves the old lock whole, and says so.
TEST_F(PasswordLockTest, ARefusedOrUnstoredSetupKeepsTheDialogAndTheOldLock) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(temp.path().c_str(), &raw), SQLITE_OK);
    SqliteDb file(raw);
    const auto refusePasswords = [&](bool on) {
        ASSERT_EQ(sqlite3_exec(file.get(),
                               on ? "CREATE TRIGGER refuse AFTER UPDATE ON reg_values WHEN "
                                    "new.name = 'PassWord' BEGIN SELECT RAISE(ABORT, 'full'); END;"
                                  : "DROP TRIGGER IF EXISTS refuse",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
    };
    const struct {
        const char* what;
        const char* user;
        const char* password;
        const char* confirm;
        const char* prompt;
        int focus;            // 0 user name, 1 password, 2 confirmation
        const char* righted;  // typed into the focused field next
    } rows[] = {
        {"an unconfirmed password", "guard", "new", "", text::kPasswordNotCorrect, 2, "new"},
        {"a password without user name", "", "pw", "pw", text::kPleaseInputUserName, 0, "night"},
        {"a store that cannot take it", "night", "new", "new", text::kPasswordNotSaved, 1, "new"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        lock.SavePassword("guard", "Secret");
        if (row.prompt == text::kPasswordNotSaved) {
            refusePasswords(true);
        }
        const qsizetype before = prompts.texts().size();
        SetupPasswordDialog dialog(lock);
        const QList<QLineEdit*> fields{dialog.userNameEdit(), dialog.passwordEdit(),
                                       dialog.confirmEdit()};
        dialog.show();
        fields[0]->setText(row.user);
        fields[1]->setText(row.password);
        fields[2]->setText(row.confirm);
        dialog.okButton()->setFocus();
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

        ASSERT_EQ(prompts.texts().mid(before), QStringList{row.prompt});
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), fields[row.focus]);
        EXPECT_TRUE(lock.CheckPassword("guard", "Secret"));

        refusePasswords(false);
        fields[row.focus]->setText(row.righted);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(
            lock.CheckPassword(fields[0]->text().toStdString(), fields[1]->text().toStdString()));
    }
}

TEST_F(PasswordLockTest, ANonAsciiPasswordStillOpensTheLockAfterARestart) {
    const QString password = "äöüßÄÖÜéèêëï";  // 12 characters, 24 bytes of UTF-8
    SetupPasswordDialog setup(lock);
    setup.userNameEdit()->setText("Wächter");
    setup.passwordEdit()->setText(password);
    setup.confirmEdit()->setText(password);
    QTest::mouseClick(setup.okButton(), Qt::LeftButton);
    ASSERT_EQ(setup.result(), QDialog::Accepted);

    Settings reopened{std::move(*KeyStore::Open(temp.path()).store)};
    ProgramLock again(reopened);
    EnterPasswordDialog dialog(again);
    EXPECT_EQ(dialog.userNameEdit()->text(), "Wächter");
    dialog.passwordEdit()->setText(password);  // QTest types ASCII only
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace orvane
