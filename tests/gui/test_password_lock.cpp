// The password lock: the gate at the start, the setup dialog, and what the store keeps.
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

#include <memory>

namespace orvane {
namespace {

class PasswordLockTest : public testing::Test {
  protected:
    test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    ProgramLock lock{settings};
    test::ScriptedPrompts prompts;
};

TEST_F(PasswordLockTest, TheGateAsksOnlyWhenALockIsStoredWithOrWithoutUserName) {
    EXPECT_TRUE(PassStartupGate(lock));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

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

    // An empty password is a password: the stored user name is offered and OK lets in.
    lock.SavePassword("guard", "");
    EnterPasswordDialog dialog(lock);
    EXPECT_EQ(dialog.userNameEdit()->text(), "guard");
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.shown().empty());
}

TEST_F(PasswordLockTest, SetupShowsTheLockAndResetRemovesItOnlyOnOk) {
    lock.SavePassword("guard", "pw");
    for (const bool ok : {false, true}) {
        SetupPasswordDialog dialog(lock);
        EXPECT_EQ(dialog.userNameEdit()->text(), "guard");
        EXPECT_EQ(dialog.confirmEdit()->text(), "pw");
        QTest::mouseClick(dialog.resetButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.userNameEdit()->text(), "");
        EXPECT_EQ(dialog.confirmEdit()->text(), "");
        ok ? QTest::mouseClick(dialog.okButton(), Qt::LeftButton) : dialog.reject();
        EXPECT_EQ(lock.IsSet(), !ok);
    }
    EXPECT_TRUE(prompts.shown().empty());
}

// What the operator typed that is refused: the dialog stays, says why, and puts the caret
// where the mistake is; the lock stays as it was; once put right, OK goes through.
TEST_F(PasswordLockTest, ARefusedEntryKeepsTheDialogAndSendsTheCaretToTheMistake) {
    const struct {
        const char* what;
        bool setup;  // the setup dialog, or the one that asks at the start
        const char* user;
        const char* password;
        const char* confirm;
        const char* prompt;
        int focus;            // 0 user name, 1 password, 2 confirmation
        const char* righted;  // typed into the focused field next
    } rows[] = {
        // No limit on attempts: the right one still gets in.
        {"a wrong letter case", false, "guard", "secret", "", text::kPasswordNotCorrect, 1,
         "Secret"},
        {"an unconfirmed password", true, "guard", "new", "", text::kPasswordNotCorrect, 2, "new"},
        {"a password without user name", true, "", "pw", "pw", text::kPleaseInputUserName, 0,
         "night"},
    };
    lock.SavePassword("guard", "Secret");
    EXPECT_FALSE(lock.CheckPassword("GUARD", "Secret"));  // the user name's case counts too
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        lock.SavePassword("guard", "Secret");
        const qsizetype before = prompts.texts().size();
        std::unique_ptr<QDialog> dialog;
        QList<QLineEdit*> fields;
        QPushButton* ok = nullptr;
        if (row.setup) {
            auto* setup = new SetupPasswordDialog(lock);
            fields = {setup->userNameEdit(), setup->passwordEdit(), setup->confirmEdit()};
            ok = setup->okButton();
            dialog.reset(setup);
        } else {
            auto* enter = new EnterPasswordDialog(lock);
            fields = {enter->userNameEdit(), enter->passwordEdit()};
            ok = enter->okButton();
            dialog.reset(enter);
        }
        dialog->show();
        for (qsizetype i = 0; i < fields.size(); ++i) {
            fields[i]->setText(i == 0 ? row.user : i == 1 ? row.password : row.confirm);
        }
        ok->setFocus();
        QTest::mouseClick(ok, Qt::LeftButton);

        ASSERT_EQ(prompts.texts().mid(before), QStringList{row.prompt});
        EXPECT_EQ(PromptService::EffectiveIcon(prompts.shown()[before]), PromptIcon::Exclamation);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->focusWidget(), fields[row.focus]);
        EXPECT_TRUE(lock.CheckPassword("guard", "Secret"));

        fields[row.focus]->setText(row.righted);
        QTest::mouseClick(ok, Qt::LeftButton);
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_TRUE(
            lock.CheckPassword(fields[0]->text().toStdString(), fields[1]->text().toStdString()));
    }
}

// The setup dialog comes only after the current lock's password.
TEST_F(PasswordLockTest, SetupCommandChecksTheCurrentLockFirst) {
    lock.SavePassword("guard", "pw");
    {
        test::ModalScript script;
        script.Then<EnterPasswordDialog>([](EnterPasswordDialog* dialog) { dialog->reject(); });
        RunSetupPasswordCommand(lock);
        EXPECT_TRUE(script.finished());
        EXPECT_EQ(script.unexpected(), 0);
    }
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
    dialog.show();
    EXPECT_EQ(dialog.userNameEdit()->text(), "Wächter");
    dialog.passwordEdit()->setText(password);  // QTest types ASCII only
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.shown().empty());
}

// A store that takes the user name but not the password (a disk full between the two): the
// lock stays as it was and the operator is told.
TEST_F(PasswordLockTest, ALockTheStoreCannotTakeWhollyIsNotHalfChangedAndIsReported) {
    ASSERT_TRUE(lock.SavePassword("guard", "pw"));
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(temp.path().c_str(), &raw), SQLITE_OK);
    SqliteDb refuser(raw);
    ASSERT_EQ(sqlite3_exec(refuser.get(),
                           "CREATE TRIGGER refuse AFTER UPDATE ON reg_values "
                           "WHEN new.name = 'PassWord' BEGIN SELECT RAISE(ABORT, 'full'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
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
