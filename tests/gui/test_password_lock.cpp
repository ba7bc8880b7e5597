#include "app/password_dialogs.h"
#include "shared/app_texts.h"
#include "store/program_lock.h"
#include "store/sqlite_handle.h"
#include "support/modal_script.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <sqlite3.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace orvane {
namespace {

class PasswordLockTest : public testing::Test {
  protected:
    Settings settings{KeyStore::OpenInMemory()};
    ProgramLock lock{settings};
    test::ScriptedPrompts prompts;
};

TEST_F(PasswordLockTest, EnterPasswordOpensWithTheStoredUserAndAcceptsAnEmptyPassword) {
    lock.SavePassword("guard", "");
    EnterPasswordDialog dialog(lock);
    EXPECT_EQ(dialog.windowTitle(), "Enter password");
    EXPECT_EQ(dialog.userNameEdit()->text(), "guard");
    EXPECT_EQ(dialog.passwordEdit()->text(), "");
    EXPECT_EQ(dialog.passwordEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.userNameEdit()->maxLength(), 20);

    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.shown().empty());
}

TEST_F(PasswordLockTest, AWrongLetterCaseIsRefusedAndThePasswordFieldTakesTheFocus) {
    lock.SavePassword("guard", "Secret");
    EnterPasswordDialog dialog(lock);
    dialog.show();
    QTest::keyClicks(dialog.passwordEdit(), "secret");
    dialog.userNameEdit()->setFocus();
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

    EXPECT_EQ(prompts.texts(), QStringList{text::kPasswordNotCorrect});
    EXPECT_EQ(PromptService::EffectiveIcon(prompts.shown()[0]), PromptIcon::Exclamation);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), dialog.passwordEdit());

    // No limit on attempts: the right one still gets in.
    dialog.passwordEdit()->setText("Secret");
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    dialog.userNameEdit()->setText("GUARD");
    EXPECT_FALSE(lock.CheckPassword("GUARD", "Secret"));
}

TEST_F(PasswordLockTest, AStoredPasswordWithoutUserNameStillGatesTheStart) {
    settings.WriteProfileString("Key", "PassWord", "pw");
    {
        test::ModalScript script;
        script.Then<EnterPasswordDialog>([](EnterPasswordDialog* dialog) {
            EXPECT_EQ(dialog->userNameEdit()->text(), "");
            dialog->passwordEdit()->setText("pw");
            dialog->accept();
        });
        EXPECT_TRUE(PassStartupGate(lock));
        EXPECT_TRUE(script.finished());
    }
    test::ModalScript script;
    script.Then<EnterPasswordDialog>([](EnterPasswordDialog* dialog) { dialog->reject(); });
    EXPECT_FALSE(PassStartupGate(lock));
}

TEST_F(PasswordLockTest, WithoutALockTheGateAsksNothing) {
    EXPECT_TRUE(PassStartupGate(lock));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(PasswordLockTest, SetupOpensShowingTheCurrentLock) {
    lock.SavePassword("guard", "pw");
    SetupPasswordDialog dialog(lock);
    EXPECT_EQ(dialog.windowTitle(), "Setup password");
    EXPECT_EQ(dialog.userNameEdit()->text(), "guard");
    EXPECT_EQ(dialog.passwordEdit()->text(), "pw");
    EXPECT_EQ(dialog.confirmEdit()->text(), "pw");
    EXPECT_EQ(dialog.confirmEdit()->echoMode(), QLineEdit::Password);
}

TEST_F(PasswordLockTest, ResetThenCancelKeepsTheLockAndResetThenOkRemovesIt) {
    lock.SavePassword("guard", "pw");
    {
        SetupPasswordDialog dialog(lock);
        QTest::mouseClick(dialog.resetButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.userNameEdit()->text(), "");
        EXPECT_EQ(dialog.confirmEdit()->text(), "");
        dialog.reject();
        EXPECT_TRUE(lock.CheckPassword("guard", "pw"));
    }
    {
        SetupPasswordDialog dialog(lock);
        QTest::mouseClick(dialog.resetButton(), Qt::LeftButton);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(lock.IsSet());
    }
    EXPECT_TRUE(prompts.shown().empty());
}

TEST_F(PasswordLockTest, AnUnconfirmedPasswordSendsTheFocusToConfirmation) {
    SetupPasswordDialog dialog(lock);
    dialog.show();
    dialog.userNameEdit()->setText("guard");
    dialog.passwordEdit()->setText("new");
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

    EXPECT_EQ(prompts.texts(), QStringList{text::kPasswordNotCorrect});
    EXPECT_EQ(dialog.focusWidget(), dialog.confirmEdit());
    EXPECT_FALSE(lock.IsSet());

    dialog.confirmEdit()->setText("new");
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(lock.CheckPassword("guard", "new"));
}

TEST_F(PasswordLockTest, APasswordWithoutUserNameAsksForTheName) {
    SetupPasswordDialog dialog(lock);
    dialog.show();
    dialog.passwordEdit()->setText("pw");
    dialog.confirmEdit()->setText("pw");
    dialog.confirmEdit()->setFocus();
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

    EXPECT_EQ(prompts.texts(), QStringList{text::kPleaseInputUserName});
    EXPECT_EQ(dialog.focusWidget(), dialog.userNameEdit());
    EXPECT_FALSE(lock.IsSet());
}

TEST_F(PasswordLockTest, SetupCommandChecksTheCurrentLockFirst) {
    lock.SavePassword("guard", "pw");
    {
        test::ModalScript script;
        script.Then<EnterPasswordDialog>([](EnterPasswordDialog* dialog) { dialog->reject(); });
        RunSetupPasswordCommand(lock);
        EXPECT_TRUE(script.finished());
        EXPECT_EQ(script.unexpected(), 0);  // no setup dialog after a failed check
    }

    // With the right password the setup dialog follows and can change the lock.
    test::ModalScript script;
    script
        .Then<EnterPasswordDialog>([](EnterPasswordDialog* dialog) {
            dialog->passwordEdit()->setText("pw");
            dialog->accept();
        })
        .Then<SetupPasswordDialog>([](SetupPasswordDialog* setup) {
            setup->passwordEdit()->setText("pw2");
            setup->confirmEdit()->setText("pw2");
            setup->accept();
        });
    RunSetupPasswordCommand(lock);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(lock.CheckPassword("guard", "pw2"));
}

TEST(PasswordLockStore, ANonAsciiPasswordStillOpensTheLockAfterARestart) {
    test::TempStore temp;
    test::ScriptedPrompts prompts;
    const QString password = "äöüßÄÖÜéèêëï";  // 12 characters, 24 bytes of UTF-8
    {
        Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
        ProgramLock lock(settings);
        SetupPasswordDialog setup(lock);
        setup.userNameEdit()->setText("Wächter");
        setup.passwordEdit()->setText(password);
        setup.confirmEdit()->setText(password);
        QTest::mouseClick(setup.okButton(), Qt::LeftButton);
        ASSERT_EQ(setup.result(), QDialog::Accepted);
    }

    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    ProgramLock lock(settings);
    EnterPasswordDialog dialog(lock);
    dialog.show();
    EXPECT_EQ(dialog.userNameEdit()->text(), "Wächter");
    dialog.passwordEdit()->setText(password);  // QTest types ASCII only
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.shown().empty());
}

// A store that takes the user name but not the password (a disk full between the two): the
// lock stays as it was and the operator is told.
TEST(PasswordLockStoreTest, ALockTheStoreCannotTakeWhollyIsNotHalfChangedAndIsReported) {
    test::TempStore temp;
    auto opened = OpenSettings(temp.path());
    ProgramLock lock(opened.settings);
    ASSERT_TRUE(lock.SavePassword("guard", "pw"));
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(temp.path().c_str(), &raw), SQLITE_OK);
    SqliteDb refuser(raw);
    ASSERT_EQ(sqlite3_exec(refuser.get(),
                           "CREATE TRIGGER refuse AFTER UPDATE ON reg_values "
                           "WHEN new.name = 'PassWord' BEGIN SELECT RAISE(ABORT, 'full'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    test::ScriptedPrompts prompts;
    SetupPasswordDialog dialog(lock);
    dialog.show();
    dialog.userNameEdit()->setText("night");
    dialog.passwordEdit()->setText("new");
    dialog.confirmEdit()->setText("new");
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

    EXPECT_EQ(prompts.texts(), QStringList{text::kPasswordNotSaved});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(lock.CheckPassword("guard", "pw"));
}

}  // namespace
}  // namespace orvane
