// The Options dialog, and the main frame's disk check it sets: the free-space pane, the
// low-space warning, the autostart entry, the record folder and the old clips it deletes.
#include "app/indicator_pane.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "app/viewer_app.h"
#include "shared/command_ids.h"
#include "store/auto_run.h"
#include "store/clip_index.h"
#include "store/clips_in_use.h"
#include "store/record_path_dialog.h"
#include "support/event_loop.h"
#include "support/modal_script.h"
#include "support/scoped_env.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

namespace orvane {
namespace {

TEST(OptionsDialog, StoresOnlyNumbersInRangeAndOnlyAfterTheAutostartEntry) {
    test::TempStore temp;
    test::ScriptedPrompts prompts;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    settings.SetSetting(SettingId::LimitDiskSpace, 9999);
    std::vector<bool> autoRunCalls;
    std::int32_t limitAtEntry = 0;
    OptionsDialog dialog(settings, [&](bool on) {
        autoRunCalls.push_back(on);
        limitAtEntry = settings.GetSetting(SettingId::LimitDiskSpace);
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
            EXPECT_TRUE(autoRunCalls.empty());
            EXPECT_EQ(settings.GetSetting(SettingId::LimitDiskSpace), 9999);
            EXPECT_EQ(settings.GetSetting(SettingId::KeepDays), kSettingAbsent);
        }
    }
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(autoRunCalls, std::vector<bool>{false});
    EXPECT_EQ(limitAtEntry, 9999);
    const std::pair<SettingId, std::int32_t> stored[] = {
        {SettingId::AutoRun, 0},        {SettingId::VideoArrange, 1},
        {SettingId::LimitDiskSpace, 0}, {SettingId::CheckTimer, 300},
        {SettingId::DeleteOldClips, 1}, {SettingId::KeepDays, 30}};
    for (const auto& [id, value] : stored) {
        EXPECT_EQ(settings.GetSetting(id), value) << static_cast<int>(id);
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
    // Runs Options with the fields as given, then OK.
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

// The frame hands the disk check its rule and the clips in use, and the check runs off the
// GUI thread: past KeepDays first, then, when space is low and it is on, for room (which
// clips may go is the retention's rule).
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
        clip.startTime = "10:00";
        clip.endTime = "11:00";
        clip.path = folder;
        ASSERT_TRUE(index.AddClipRecord(clip));
        test::WriteFileBytes((folder + name).toStdString(), "RIFF clip");
    }
    const ClipUse played(folder + "played.avi");
    const auto names = [&] {
        QStringList left{"old.avi", "played.avi", "recent.avi"};
        left.removeIf([&](const QString& name) { return !QFile::exists(folder + name); });
        return left;
    };

    Tick();  // deleting for room is off: age alone
    EXPECT_EQ(names(), QStringList({"played.avi", "recent.avi"}));
    EXPECT_TRUE(frame->statusLine().endsWith("Deleted 1 old clip"))
        << frame->statusLine().toStdString();
    app.settings().SetSetting(SettingId::DeleteOldClips, 1);
    freeMB = 10;
    Tick();
    EXPECT_EQ(names(), QStringList({"played.avi"}));
    EXPECT_EQ(readsOnGui, 0);
}

}  // namespace
}  // namespace orvane
