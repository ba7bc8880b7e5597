// The Options dialog, the disk watch in the main frame and the autostart entry it writes.
#include "app/indicator_pane.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "app/viewer_app.h"
#include "shared/command_ids.h"
#include "store/auto_run.h"
#include "store/clip_index.h"
#include "store/clips_in_use.h"
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
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

namespace orvane {
namespace {

TEST(OptionsDialog, ShowsTheStoredValuesAndStoresOnlyNumbersInRangeAfterTheAutostartEntry) {
    test::TempStore temp;
    test::ScriptedPrompts prompts;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    settings.SetSetting(SettingId::VideoArrange, 0);
    settings.SetSetting(SettingId::AutoRun, 1);
    settings.SetSetting(SettingId::LimitDiskSpace, 9999);
    settings.SetSetting(SettingId::CheckTimer, 301);
    std::vector<bool> autoRunCalls;
    std::int32_t limitAtEntry = 0;
    OptionsDialog dialog(settings, [&](bool on) {
        autoRunCalls.push_back(on);
        limitAtEntry = settings.GetSetting(SettingId::LimitDiskSpace);
    });
    EXPECT_FALSE(dialog.arrangeBox()->isChecked());
    EXPECT_TRUE(dialog.autoRunBox()->isChecked());
    EXPECT_EQ(dialog.limitEdit()->text(), "9999");
    EXPECT_EQ(dialog.periodEdit()->text(), "10");  // out of range: the fallback
    // Room for new recordings: warn only and keep for ever, unless stored otherwise.
    EXPECT_FALSE(dialog.deleteOldBox()->isChecked());
    EXPECT_EQ(dialog.keepDaysEdit()->text(), "0");
    dialog.limitEdit()->clear();
    QTest::keyClicks(dialog.limitEdit(), "1a2-3 .");
    EXPECT_EQ(dialog.limitEdit()->text(), "123");

    using namespace optionstext;
    dialog.arrangeBox()->setChecked(true);
    dialog.autoRunBox()->setChecked(false);
    qsizetype shown = 0;
    // The first field out of range is the one reported; the dialog stays open for retyping.
    for (const auto [limit, period, warning] :
         {std::array{"10000", "10", kLimitRange}, std::array{"", "10", kLimitRange},
          std::array{"50", "0", kPeriodRange}, std::array{"50", "301", kPeriodRange},
          std::array{"10000", "0", kLimitRange}}) {
        SCOPED_TRACE(std::string(limit) + " MB, " + period + " s");
        dialog.limitEdit()->setText(limit);
        dialog.periodEdit()->setText(period);
        dialog.okButton()->click();
        EXPECT_EQ(prompts.texts().mid(shown++), QStringList{warning});
    }
    EXPECT_TRUE(autoRunCalls.empty());
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), 1);
    EXPECT_EQ(settings.GetSetting(SettingId::VideoArrange), 0);
    EXPECT_EQ(settings.GetSetting(SettingId::LimitDiskSpace), 9999);
    EXPECT_EQ(settings.GetSetting(SettingId::CheckTimer), 301);

    dialog.limitEdit()->setText("50");
    dialog.periodEdit()->setText("10");
    dialog.keepDaysEdit()->setText("10000");
    dialog.okButton()->click();
    EXPECT_EQ(prompts.texts().mid(shown++), QStringList{kKeepDaysRange});
    EXPECT_EQ(settings.GetSetting(SettingId::KeepDays), kSettingAbsent);
    dialog.keepDaysEdit()->setText("30");
    dialog.deleteOldBox()->setChecked(true);
    dialog.limitEdit()->setText("0");
    dialog.periodEdit()->setText("300");
    dialog.okButton()->click();
    EXPECT_EQ(settings.GetSetting(SettingId::DeleteOldClips), 1);
    EXPECT_EQ(settings.GetSetting(SettingId::KeepDays), 30);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(autoRunCalls, std::vector<bool>{false});
    EXPECT_EQ(limitAtEntry, 9999);
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), 0);
    EXPECT_EQ(settings.GetSetting(SettingId::VideoArrange), 1);
    EXPECT_EQ(settings.GetSetting(SettingId::LimitDiskSpace), 0);
    EXPECT_EQ(settings.GetSetting(SettingId::CheckTimer), 300);
}

// The main frame of a started program, its autostart entry kept in the test's folder.
class DiskWatchFrame : public testing::Test {
  protected:
    void SetUp() override {
        test::PrepareSiteStore(temp.path(), 1);
        ASSERT_EQ(app.InitInstance({"orvane", "/Embedding"}), ViewerApp::StartResult::Started);
        frame = app.mainFrame();
    }
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
};

TEST_F(DiskWatchFrame, LowSpaceWarnsOnceUntilAConfirmedOptionsWhichApplyAtOnce) {
    FreeSpace volume{5000, "/mnt/rec"};
    auto* diskPane = frame->findChild<QLabel*>("diskPane");
    auto* indicator = frame->findChild<IndicatorPane*>("indicatorPane");
    ASSERT_TRUE(diskPane && indicator);
    const auto warnings = [&] { return prompts.texts().count(frametext::kDiskLow); };
    // Runs Options with the fields as given, then OK, or Cancel when ok is false.
    const auto runOptions = [&](const QString& limit, const QString& period, bool ok = true,
                                bool autoRun = false) {
        test::ModalScript script;
        script.Then<OptionsDialog>([&](OptionsDialog* dialog) {
            dialog->limitEdit()->setText(limit);
            dialog->periodEdit()->setText(period);
            dialog->autoRunBox()->setChecked(autoRun);
            ok ? dialog->okButton()->click() : dialog->reject();
        });
        frame->RunCommand(cmd::kOptions);
        EXPECT_TRUE(script.finished());
        Settle();
    };

    // Read at creation, before a made-up volume was put in.
    Settle();
    EXPECT_TRUE(diskPane->text().contains(" MB Free on /")) << diskPane->text().toStdString();
    EXPECT_EQ(frame->diskTimer()->interval(), 10000);
    EXPECT_EQ(indicator->secondIcon(), IndicatorPane::kNoIcon);
    frame->SetFreeSpaceSource([&](const std::string&) { return volume; });

    runOptions("50", "1");
    volume.freeMB = 49;
    QTRY_COMPARE_WITH_TIMEOUT(diskPane->text(), QString("49 MB Free on /mnt/rec"), 3000);
    ASSERT_EQ(warnings(), 1);
    const int first = indicator->secondIcon();
    EXPECT_NE(first, IndicatorPane::kNoIcon);
    Tick();
    EXPECT_EQ(indicator->secondIcon(), first == IndicatorPane::kBrightIcon
                                           ? IndicatorPane::kDimIcon
                                           : IndicatorPane::kBrightIcon);
    // Cancel re-arms nothing (the rules themselves are the disk watch's); OK does.
    volume.freeMB = 10;
    runOptions("50", "10", /*ok=*/false);
    Tick();
    EXPECT_EQ(warnings(), 1);
    runOptions("50", "10");
    Tick();
    EXPECT_EQ(warnings(), 2);

    volume = {777, "/media/usb"};
    // Run from another folder: the autostart entry must name the program, not this folder.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(temp.folder())));
    runOptions("0", "60", /*ok=*/true, /*autoRun=*/true);
    QDir::setCurrent(previous);
    EXPECT_EQ(diskPane->text(), "777 MB Free on /media/usb");  // not only at the next check
    // The timer was started again: the next check is a whole new period away.
    EXPECT_EQ(frame->diskTimer()->interval(), 60000);
    EXPECT_GT(frame->diskTimer()->remainingTime(), 55000);
    EXPECT_EQ(indicator->secondIcon(), IndicatorPane::kNoIcon);  // the check is off

    const QString entry = QString::fromStdString(AutostartEntryPath());
    ASSERT_TRUE(entry.startsWith(QString::fromStdString(temp.folder())));
    const std::string exec =
        "Exec=" + DesktopExecValue(QCoreApplication::applicationFilePath().toStdString()) + "\n";
    EXPECT_NE(test::ReadFileBytes(entry.toStdString()).find(exec), std::string::npos) << exec;
    runOptions("50", "10", /*ok=*/true, /*autoRun=*/false);
    EXPECT_FALSE(QFile::exists(entry));

    frame->close();
    EXPECT_FALSE(frame->diskTimer()->isActive());
}

// Old clips go, in the frame's disk check and off the GUI thread: first those past KeepDays,
// then, when space is low, the oldest left; never one marked "Keep" or one in use.
TEST_F(DiskWatchFrame, OldClipsGoForTheirAgeThenForRoomButNeverKeptOrInUse) {
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
    const QDate today = QDate::currentDate();
    // Oldest first: two past KeepDays (one of them kept), one played, one recent.
    const std::vector<std::pair<QString, QDate>> clips{{"old.avi", today.addDays(-40)},
                                                       {"kept.avi", today.addDays(-39)},
                                                       {"played.avi", today.addDays(-38)},
                                                       {"recent.avi", today}};
    for (const auto& [name, day] : clips) {
        ClipRecord clip;
        clip.fileName = name;
        clip.channel = 1;
        clip.startDate = clip.endDate = day.toString("yyyy/MM/dd");
        clip.startTime = "10:00";
        clip.endTime = "11:00";
        clip.path = folder;
        ASSERT_TRUE(index.AddClipRecord(clip));
        test::WriteFileBytes((folder + name).toStdString(), "RIFF clip");
    }
    ASSERT_TRUE(index.SetClipKept("kept.avi", true));
    const ClipUse played(folder + "played.avi");
    const auto names = [&] {
        std::vector<ClipRecord> records;
        index.LoadClipRecords(records);
        QStringList list;
        for (const ClipRecord& record : records) {
            list << record.fileName;
        }
        list.sort();
        return list;
    };

    Tick();  // deleting for room is off: age alone
    EXPECT_EQ(names(), QStringList({"kept.avi", "played.avi", "recent.avi"}));
    EXPECT_FALSE(QFile::exists(folder + "old.avi"));
    EXPECT_TRUE(frame->statusLine().endsWith("Deleted 1 old clip"))
        << frame->statusLine().toStdString();

    app.settings().SetSetting(SettingId::DeleteOldClips, 1);
    Tick();  // room enough: nothing more
    EXPECT_EQ(names(), QStringList({"kept.avi", "played.avi", "recent.avi"}));
    freeMB = 10;
    Tick();
    EXPECT_EQ(names(), QStringList({"kept.avi", "played.avi"}));
    EXPECT_TRUE(QFile::exists(folder + "kept.avi") && QFile::exists(folder + "played.avi"));
    EXPECT_TRUE(frame->statusLine().endsWith("Deleted 1 old clip"))
        << frame->statusLine().toStdString();
    EXPECT_EQ(readsOnGui, 0);
    frame->close();
}

}  // namespace
}  // namespace orvane
