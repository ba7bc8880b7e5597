// The Setup menu's dialogs: Options, the record path and the password lock with its gate at the
// start; and the main frame's disk check they set (pane, warning, autostart entry, old clips).
#include "app/indicator_pane.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "app/password_dialogs.h"
#include "app/viewer_app.h"
#include "shared/app_texts.h"
#include "shared/command_ids.h"
#include "store/auto_run.h"
#include "store/clip_index.h"
#include "store/clips_in_use.h"
#include "store/program_lock.h"
#include "store/record_path_dialog.h"
#include "store/sqlite_handle.h"
#include "support/event_loop.h"
#include "support/modal_script.h"
#include "support/scoped_env.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <sqlite3.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <atomic>
#include <memory>
#include <thread>

namespace orvane {
namespace {

// A store of its own with its program lock, and message boxes answered without a modal loop.
class SetupDialogTest : public testing::Test {
  protected:
    test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    test::ScriptedPrompts prompts;
    ProgramLock lock{settings};
};
using PasswordLockTest = SetupDialogTest;

TEST_F(SetupDialogTest, OptionsStoresOnlyNumbersInRangeAndOnlyAfterTheAutostartEntry) {
    settings.SetSetting(SettingId::LimitDiskSpace, 9999);
    std::vector<std::pair<bool, std::int32_t>> autoRunCalls;  // with the limit stored then
    OptionsDialog dialog(settings, [&](bool on) {
        autoRunCalls.emplace_back(on, settings.GetSetting(SettingId::LimitDiskSpace));
    });
    using namespace optionstext;
    dialog.arrangeBox()->setChecked(true);
    dialog.autoRunBox()->setChecked(false);
    dialog.deleteOldBox()->setChecked(true);
    // The first field out of range is the one reported; the dialog stays open for retyping.
    for (const auto& [limit, period, keepDays, warning] :
         {std::array{"10000", "10", "0", kLimitRange}, std::array{"", "10", "0", kLimitRange},
          std::array{"50", "0", "0", kPeriodRange}, std::array{"50", "301", "0", kPeriodRange},
          std::array{"10000", "0", "0", kLimitRange},
          std::array{"50", "10", "10000", kKeepDaysRange}, std::array{"0", "300", "30", ""}}) {
        SCOPED_TRACE(std::string(limit) + " MB, " + period + " s, " + keepDays + " days");
        const qsizetype shown = prompts.texts().size();
        dialog.limitEdit()->setText(limit);
        dialog.periodEdit()->setText(period);
        dialog.keepDaysEdit()->setText(keepDays);
        dialog.okButton()->click();
        if (*warning) {
            EXPECT_EQ(prompts.texts().mid(shown), QStringList{warning});
            EXPECT_EQ(settings.GetSetting(SettingId::KeepDays), kSettingAbsent);
        }
    }
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(autoRunCalls, (std::vector<std::pair<bool, std::int32_t>>{{false, 9999}}));
    using enum SettingId;
    const auto stored = [&](SettingId id) { return settings.GetSetting(id); };
    EXPECT_EQ((std::vector{stored(AutoRun), stored(VideoArrange), stored(LimitDiskSpace),
                           stored(CheckTimer), stored(DeleteOldClips), stored(KeepDays)}),
              (std::vector<std::int32_t>{0, 1, 0, 300, 1, 30}));
}

TEST_F(PasswordLockTest, TheGateAndTheSetupCommandAskForTheStoredLockFirst) {
    EXPECT_TRUE(PassStartupGate(lock));                    // no lock, no question
    settings.WriteProfileString("Key", "PassWord", "pw");  // a lock without a user name
    // A wrong letter case is refused, the caret back in the password, as often as typed.
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

// A refused setup stays, says why, puts the caret at the mistake and keeps the old lock whole,
// also when the store takes the user name but not the password; put right, OK goes through.
TEST_F(PasswordLockTest, ARefusedOrUnstoredSetupKeepsTheOldLockAndOnlyAnOkResetRemovesIt) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(temp.path().c_str(), &raw), SQLITE_OK);
    const SqliteDb file(raw);
    const auto exec = [&](const char* sql) {
        ASSERT_EQ(sqlite3_exec(file.get(), sql, nullptr, nullptr, nullptr), SQLITE_OK);
    };
    const struct {
        const char* what;
        const char* texts[3];  // user name, password, confirmation
        const char* prompt;
        int focus;  // the field refused, where the next text is typed
        const char* righted;
    } rows[] = {
        {"an unconfirmed password", {"guard", "new", ""}, text::kPasswordNotCorrect, 2, "new"},
        {"no user name", {"", "pw", "pw"}, text::kPleaseInputUserName, 0, "night"},
        {"a store that cannot take it", {"night", "new", "new"}, text::kPasswordNotSaved, 1, "new"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        lock.SavePassword("guard", "Secret");
        if (row.prompt == text::kPasswordNotSaved) {
            exec(
                "CREATE TRIGGER refuse AFTER UPDATE ON reg_values WHEN new.name = 'PassWord' "
                "BEGIN SELECT RAISE(ABORT, 'full'); END;");
        }
        const qsizetype before = prompts.texts().size();
        SetupPasswordDialog dialog(lock);
        QLineEdit* const fields[] = {dialog.userNameEdit(), dialog.passwordEdit(),
                                     dialog.confirmEdit()};
        dialog.show();
        for (int i = 0; i < 3; ++i) {
            fields[i]->setText(row.texts[i]);
        }
        dialog.okButton()->setFocus();
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        ASSERT_EQ(prompts.texts().mid(before), QStringList{row.prompt});
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), fields[row.focus]);
        EXPECT_TRUE(lock.CheckPassword("guard", "Secret"));
        exec("DROP TRIGGER IF EXISTS refuse");
        fields[row.focus]->setText(row.righted);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(
            lock.CheckPassword(fields[0]->text().toStdString(), fields[1]->text().toStdString()));
    }
    // Reset empties the setup, and the lock goes only on OK.
    for (const bool ok : {false, true}) {
        SetupPasswordDialog dialog(lock);
        EXPECT_EQ(dialog.confirmEdit()->text(), "new");
        QTest::mouseClick(dialog.resetButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.userNameEdit()->text() + dialog.confirmEdit()->text(), "");
        ok ? QTest::mouseClick(dialog.okButton(), Qt::LeftButton) : dialog.reject();
        EXPECT_EQ(lock.IsSet(), !ok);
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

// The folders listed under an item, in the tree's order (by name), and one of them.
QStringList Names(const QTreeWidgetItem* item) {
    QStringList names;
    for (int i = 0; item && i < item->childCount(); ++i) {
        names << item->child(i)->text(0);
    }
    return names;
}
QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& name) {
    const auto at = static_cast<int>(Names(item).indexOf(name));
    return at < 0 ? nullptr : item->child(at);
}

class RecordPathTest : public SetupDialogTest {
  protected:
    QTemporaryDir disk;  // the volume the tree shows, apart from the store's folder
    QString root = disk.path();

    void SetUp() override {
        ASSERT_TRUE(disk.isValid());
        for (const char* folder : {"a/b/c", "a/other", "x/rec/day", "z", "d/one", "d/two"}) {
            ASSERT_TRUE(QDir(root).mkpath(folder));
        }
    }
    std::unique_ptr<RecordPathDialog> Open(std::vector<VolumeRoot> extra = {}) {
        extra.push_back({root.toStdString(), false});
        return std::make_unique<RecordPathDialog>(settings, nullptr, [extra] { return extra; });
    }
    QTreeWidgetItem* Volume(const RecordPathDialog& dialog) const {
        return dialog.tree()->topLevelItem(dialog.tree()->topLevelItemCount() - 1);
    }
    std::string StoredPath() const {
        return settings.GetProfileString(section::kKey, keyvalue::kRecPath, "<none>");
    }
};

TEST_F(RecordPathTest, OpensOnTheRecordFolderAndStoresTheChosenFolderWithItsSeparator) {
    settings.SetRecordPath((root + "/a/b").toStdString());
    auto dialog = Open({{"/", false}});
    QTreeWidgetItem* b = Child(Child(Volume(*dialog), "a"), "b");
    ASSERT_TRUE(b);
    EXPECT_EQ(dialog->tree()->currentItem(), b);
    EXPECT_EQ(dialog->pathText()->text(), root + "/a/b/");
    // Each folder along the way was listed, the chosen one too, but nothing below it.
    EXPECT_EQ(Names(b), QStringList{"c"});
    EXPECT_EQ(Child(b, "c")->childCount(), 0);
    EXPECT_EQ(dialog->tree()->topLevelItem(0)->childCount(), 0);  // nor "/", until opened
    // Cancel keeps the folder whatever was chosen.
    dialog->tree()->setCurrentItem(Child(Volume(*dialog), "z"));
    dialog->cancelButton()->click();
    EXPECT_EQ(StoredPath(), (root + "/a/b").toStdString());
    // A volume's root is stored with one separator, "/" too.
    for (const QString& top : {QString("/"), root + "/"}) {
        dialog = Open({{"/", false}});
        dialog->tree()->setCurrentItem(dialog->tree()->topLevelItem(top == "/" ? 0 : 1));
        dialog->okButton()->click();
        EXPECT_EQ(StoredPath(), top.toStdString());
    }
    // Kept outside the tree: nothing chosen, and OK keeps it rather than the text's template.
    const std::string kept = temp.File("kept") + "/";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(kept)));
    settings.SetRecordPath(kept);
    dialog = Open();
    EXPECT_EQ(dialog->tree()->currentItem(), nullptr);
    dialog->okButton()->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(StoredPath(), kept);
    // Components match in their exact case only, and a miss skips only that component.
    dialog->ExpandAlong(root + "/x/Rec/day/");
    QTreeWidgetItem* x = Child(Volume(*dialog), "x");
    EXPECT_EQ(dialog->tree()->currentItem(), x);
    dialog->ExpandAlong(root + "/x/Rec/rec/");
    EXPECT_EQ(dialog->tree()->currentItem(), Child(x, "rec"));
}

// Nor are devices and pipes folders, which a listing of "system" entries would offer; a link
// back into its own ancestry is not opened, and a folder that went away has nothing below.
TEST_F(RecordPathTest, AFolderThatHasGoneOpensAtItsParentAndLinksToNothingAreNoFolders) {
    ASSERT_TRUE(QFile::link(root + "/nowhere", root + "/x/broken"));
    ASSERT_TRUE(QFile::link("/dev/null", root + "/x/device"));
    ASSERT_EQ(mkfifo(QFile::encodeName(root + "/x/pipe").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(root + "/x", root + "/x/loop") && QDir(root).mkpath("x/gone/in"));
    settings.SetRecordPath((root + "/x/rec/removed/").toStdString());
    auto dialog = Open();
    QTreeWidgetItem* x = Child(Volume(*dialog), "x");
    ASSERT_TRUE(x);
    EXPECT_EQ(dialog->tree()->currentItem(), Child(x, "rec"));
    EXPECT_EQ(Names(x), (QStringList{"gone", "loop", "rec"}));
    ASSERT_TRUE(QDir(root + "/x/gone").removeRecursively());
    for (const char* name : {"loop", "gone"}) {
        Child(x, name)->setExpanded(true);
        EXPECT_EQ(Child(x, name)->childCount(), 0) << name;
    }
    dialog->tree()->setCurrentItem(Child(x, "gone"));
    dialog->okButton()->click();
    EXPECT_EQ(StoredPath(), (root + "/x/gone/").toStdString());
}

TEST_F(RecordPathTest, AFolderTooLongForTheClipIndexIsRefusedWithAReason) {
    const QString deep =
        root + "/" + QString(100, 'L') + "/" + QString(100, 'M') + "/" + QString(100, 'N');
    ASSERT_TRUE(QDir().mkpath(deep));
    settings.SetRecordPath((deep + "/").toStdString());
    auto chosen = Open();
    ASSERT_EQ(chosen->pathText()->text(), deep + "/");
    settings.SetRecordPath((root + "/a/").toStdString());
    chosen->okButton()->click();
    EXPECT_NE(chosen->result(), QDialog::Accepted);
    EXPECT_EQ(StoredPath(), (root + "/a/").toStdString());
    EXPECT_EQ(prompts.texts().size(), 1);
    EXPECT_TRUE(prompts.texts().value(0).contains("longer than 259 bytes"));
}

// Right lists a folder before the tree acts on the key, so the key opens it; only once.
TEST_F(RecordPathTest, FoldersAreListedOnceOnDemand) {
    settings.SetRecordPath(root.toStdString());
    auto dialog = Open();
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    QTreeWidgetItem* d = Child(Volume(*dialog), "d");
    ASSERT_TRUE(d);
    dialog->tree()->setFocus();
    for (const char* after : {"the first Right", "a folder made since"}) {
        dialog->tree()->setCurrentItem(d);
        QTest::keyClick(dialog->tree(), Qt::Key_Right);
        EXPECT_EQ(Names(d), (QStringList{"one", "two"})) << after;
        EXPECT_TRUE(d->isExpanded());
        ASSERT_TRUE(QDir(root).mkpath("d/three"));
    }
}

// The main frame of a started program, its autostart entry kept in the test's folder.
class DiskWatchFrame : public testing::Test {
  protected:
    void SetUp() override {
        test::PrepareSiteStore(temp.path(), 1);
        ASSERT_EQ(app.InitInstance({"orvane", "/Embedding"}), ViewerApp::StartResult::Started);
        frame = app.mainFrame();
        diskPane = frame->findChild<QLabel*>("diskPane");
        ASSERT_TRUE(diskPane);
    }
    void TearDown() override { frame->close(); }
    // The volume is read off the GUI thread: until the reading is back.
    void Settle() {
        EXPECT_TRUE(test::WaitUntil([&] { return frame->housekeeper().pending() == 0; }));
    }
    void Tick() {
        frame->DiskTick();
        Settle();
    }

    test::TempStore temp;
    test::ScopedEnv config{"XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File("config"))};
    test::ScriptedPrompts prompts;
    ViewerApp app;
    MainFrame* frame = nullptr;
    QLabel* diskPane = nullptr;
};

TEST_F(DiskWatchFrame, LowSpaceWarnsOnceUntilAConfirmedOptionsWhichApplyAtOnce) {
    FreeSpace volume{5000, "/mnt/rec"};
    auto* indicator = frame->findChild<IndicatorPane*>("indicatorPane");
    ASSERT_TRUE(indicator);
    const auto warnings = [&] { return prompts.texts().count(frametext::kDiskLow); };
    const auto runOptions = [&](const QString& limit, const QString& period, bool autoRun) {
        test::ModalScript script;
        script.Then<OptionsDialog>([&](OptionsDialog* dialog) {
            dialog->limitEdit()->setText(limit);
            dialog->periodEdit()->setText(period);
            dialog->autoRunBox()->setChecked(autoRun);
            dialog->okButton()->click();
        });
        frame->RunCommand(cmd::kOptions);
        EXPECT_TRUE(script.finished());
        Settle();
    };
    frame->SetFreeSpaceSource([&](const std::string&) { return volume; });
    runOptions("50", "10", false);
    volume.freeMB = 49;
    Tick();
    EXPECT_EQ(diskPane->text(), "49 MB Free on /mnt/rec");
    ASSERT_EQ(warnings(), 1);
    EXPECT_NE(indicator->secondIcon(), IndicatorPane::kNoIcon);
    // OK re-arms the warning (the rules themselves are the disk watch's).
    runOptions("50", "10", false);
    Tick();
    EXPECT_EQ(warnings(), 2);
    volume = {777, "/media/usb"};
    // Run from another folder: the autostart entry must name the program, not this folder.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(temp.folder())));
    runOptions("0", "60", /*autoRun=*/true);
    QDir::setCurrent(previous);
    EXPECT_EQ(diskPane->text(), "777 MB Free on /media/usb");  // not only at the next check
    // The timer was started again: the next check is a whole new period away.
    EXPECT_EQ(frame->diskTimer()->interval(), 60000);
    EXPECT_GT(frame->diskTimer()->remainingTime(), 55000);
    EXPECT_EQ(indicator->secondIcon(), IndicatorPane::kNoIcon);  // the check is off
    const std::string exec =
        "Exec=" + DesktopExecValue(QCoreApplication::applicationFilePath().toStdString()) + "\n";
    EXPECT_NE(test::ReadFileBytes(AutostartEntryPath()).find(exec), std::string::npos) << exec;
    frame->close();
    EXPECT_FALSE(frame->diskTimer()->isActive());
}

// The pane follows the folder the record path dialog stores, and the default folder while
// the stored one has gone (when that is told again is the settings' rule).
TEST_F(DiskWatchFrame, ThePaneNamesTheRecordFoldersVolumeAtOnce) {
    const QString disk = QString::fromStdString(temp.File("disk"));
    ASSERT_TRUE(QDir().mkpath(disk + "/old") && QDir().mkpath(disk + "/new"));
    RecordPathDialog::SetDefaultRootSource([&] {
        return std::vector<VolumeRoot>{{disk.toStdString(), false}};
    });
    app.settings().SetRecordPath((disk + "/old/").toStdString());
    frame->SetFreeSpaceSource([&](const std::string& path) {
        const QString folder = QString::fromStdString(path);
        return folder.startsWith(disk + "/videos/") ? FreeSpace{999, "/mnt/home"}
               : folder.startsWith(disk + "/new")   ? FreeSpace{321, "/mnt/new"}
                                                    : FreeSpace{123, "/mnt/old"};
    });
    test::ModalScript script;
    script.Then<RecordPathDialog>([&](RecordPathDialog* dialog) {
        EXPECT_EQ(dialog->parentWidget(), frame);
        dialog->tree()->setCurrentItem(dialog->tree()->findItems("new", Qt::MatchRecursive)[0]);
        dialog->okButton()->click();
    });
    frame->RunCommand(cmd::kSetupRecordPath);
    EXPECT_TRUE(script.finished());
    Settle();
    EXPECT_EQ(diskPane->text(), "321 MB Free on /mnt/new");  // at once, not at the next check
    app.settings().SetDefaultRecordFolder((disk + "/videos/Orvane").toStdString());
    ASSERT_TRUE(QDir(disk + "/new").removeRecursively());
    Tick();
    EXPECT_EQ(diskPane->text(), "999 MB Free on /mnt/home");
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(disk + "/new/ is missing"));
    RecordPathDialog::SetDefaultRootSource({});
}

// The frame hands the disk check, run off the GUI thread, its rule and the clips in use: past
// KeepDays first, then for room when space is low and that is on (which is retention's rule).
TEST_F(DiskWatchFrame, OldClipsGoForTheirAgeThenForRoomButNeverOneInUse) {
    const QString folder = QString::fromStdString(temp.File("rec/"));
    ASSERT_TRUE(QDir().mkpath(folder));
    app.settings().SetRecordPath(folder.toStdString());
    app.settings().SetSetting(SettingId::KeepDays, 30);
    std::atomic<std::uint32_t> freeMB{5000};
    std::atomic<int> readsOnGui{0};
    frame->SetFreeSpaceSource([&, gui = std::this_thread::get_id()](const std::string&) {
        readsOnGui += std::this_thread::get_id() == gui ? 1 : 0;
        return FreeSpace{freeMB, "/rec"};
    });
    ClipIndex index(frame->store(), {});
    for (const auto& [name, age] :
         {std::pair{"old.avi", 40}, {"played.avi", 38}, {"recent.avi", 0}}) {
        const QString day = QDate::currentDate().addDays(-age).toString("yyyy/MM/dd");
        ClipRecord clip;
        clip.fileName = name;
        clip.channel = 1;
        clip.startDate = clip.endDate = day;
        clip.startTime = clip.endTime = "10:00";
        clip.path = folder;
        ASSERT_TRUE(index.AddClipRecord(clip));
        test::WriteFileBytes((folder + name).toStdString(), "RIFF clip");
    }
    const ClipUse played(folder + "played.avi");
    Tick();  // deleting for room is off: age alone
    EXPECT_EQ(QDir(folder).entryList({"*.avi"}), QStringList({"played.avi", "recent.avi"}));
    EXPECT_TRUE(frame->statusLine().endsWith("Deleted 1 old clip"));
    app.settings().SetSetting(SettingId::DeleteOldClips, 1);
    freeMB = 10;
    Tick();
    EXPECT_EQ(QDir(folder).entryList({"*.avi"}), QStringList({"played.avi"}));
    EXPECT_EQ(readsOnGui, 0);
}

}  // namespace
}  // namespace orvane
