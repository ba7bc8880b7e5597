// The Options dialog, the disk watch in the main frame and the autostart entry it writes.
#include "app/indicator_pane.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "app/viewer_app.h"
#include "common/command_ids.h"
#include "store/auto_run.h"
#include "support/modal_script.h"
#include "support/scoped_env.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::ScopedEnv;

class OptionsDialogTest : public testing::Test {
  protected:
    test::TempStore temp;
    test::ScriptedPrompts prompts;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    std::vector<bool> autoRunCalls;

    std::unique_ptr<OptionsDialog> Make() {
        return std::make_unique<OptionsDialog>(settings,
                                               [this](bool on) { autoRunCalls.push_back(on); });
    }
    bool NothingStored() const {
        for (SettingId id : {SettingId::AutoRun, SettingId::VideoArrange, SettingId::LimitDiskSpace,
                             SettingId::CheckTimer}) {
            if (settings.GetSetting(id) != kSettingAbsent) {
                return false;
            }
        }
        return autoRunCalls.empty();
    }
};

TEST_F(OptionsDialogTest, OpensWithTheStoredValuesOrTheirFallbacks) {
    auto fresh = Make();
    EXPECT_EQ(fresh->windowTitle(), "Options");
    EXPECT_TRUE(fresh->arrangeBox()->isChecked());  // absent means on
    EXPECT_FALSE(fresh->autoRunBox()->isChecked());
    EXPECT_EQ(fresh->limitEdit()->text(), "50");
    EXPECT_EQ(fresh->periodEdit()->text(), "10");

    settings.SetSetting(SettingId::VideoArrange, 0);
    settings.SetSetting(SettingId::AutoRun, 2);  // only exactly 1 means on
    settings.SetSetting(SettingId::LimitDiskSpace, 0);
    settings.SetSetting(SettingId::CheckTimer, 301);
    auto odd = Make();
    EXPECT_FALSE(odd->arrangeBox()->isChecked());
    EXPECT_FALSE(odd->autoRunBox()->isChecked());
    EXPECT_EQ(odd->limitEdit()->text(), "50");
    EXPECT_EQ(odd->periodEdit()->text(), "10");

    settings.SetSetting(SettingId::AutoRun, 1);
    settings.SetSetting(SettingId::LimitDiskSpace, 9999);
    settings.SetSetting(SettingId::CheckTimer, 1);
    auto edge = Make();
    EXPECT_TRUE(edge->autoRunBox()->isChecked());
    EXPECT_EQ(edge->limitEdit()->text(), "9999");
    EXPECT_EQ(edge->periodEdit()->text(), "1");

    // Fixed size, no "What's this" button.
    edge->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(edge.get()));
    EXPECT_EQ(edge->minimumSize(), edge->maximumSize());
    EXPECT_FALSE(edge->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
}

TEST_F(OptionsDialogTest, TheNumberFieldsTakeDigitsOnly) {
    auto dialog = Make();
    dialog->limitEdit()->clear();
    QTest::keyClicks(dialog->limitEdit(), "1a2-3 .");
    EXPECT_EQ(dialog->limitEdit()->text(), "123");
    dialog->periodEdit()->clear();
    QTest::keyClicks(dialog->periodEdit(), "-5");
    EXPECT_EQ(dialog->periodEdit()->text(), "5");
}

TEST_F(OptionsDialogTest, ANumberOutOfRangeWarnsAndStoresNothing) {
    struct Case {
        const char* limit;
        const char* period;
        const char* warning;
    };
    for (const Case& c :
         {Case{"10000", "10", optionstext::kLimitRange}, Case{"", "10", optionstext::kLimitRange},
          Case{"50", "0", optionstext::kPeriodRange}, Case{"50", "301", optionstext::kPeriodRange},
          Case{"50", "", optionstext::kPeriodRange},
          // The first field out of range is the one reported.
          Case{"10000", "0", optionstext::kLimitRange}}) {
        SCOPED_TRACE(std::string(c.limit) + " MB, " + c.period + " s");
        const std::size_t before = prompts.shown().size();
        auto dialog = Make();
        dialog->autoRunBox()->setChecked(true);
        dialog->limitEdit()->setText(c.limit);
        dialog->periodEdit()->setText(c.period);
        dialog->okButton()->click();
        ASSERT_EQ(prompts.shown().size(), before + 1);
        EXPECT_EQ(prompts.shown().back().text, c.warning);
        EXPECT_EQ(prompts.shown().back().icon, PromptIcon::Exclamation);
        EXPECT_NE(dialog->result(), QDialog::Accepted);
        EXPECT_TRUE(NothingStored());
    }
}

TEST_F(OptionsDialogTest, TheRangeEndsAreAcceptedAndStoredAfterTheAutostartEntry) {
    bool othersStoredFirst = false;
    auto dialog = std::make_unique<OptionsDialog>(settings, [&](bool on) {
        autoRunCalls.push_back(on);
        othersStoredFirst = settings.GetSetting(SettingId::LimitDiskSpace) != kSettingAbsent ||
                            settings.GetSetting(SettingId::CheckTimer) != kSettingAbsent ||
                            settings.GetSetting(SettingId::VideoArrange) != kSettingAbsent;
    });
    dialog->arrangeBox()->setChecked(false);
    dialog->autoRunBox()->setChecked(true);
    dialog->limitEdit()->setText("0");
    dialog->periodEdit()->setText("300");
    dialog->okButton()->click();
    EXPECT_TRUE(prompts.shown().empty());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(autoRunCalls, std::vector<bool>{true});
    EXPECT_FALSE(othersStoredFirst);
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), 1);
    EXPECT_EQ(settings.GetSetting(SettingId::VideoArrange), 0);
    EXPECT_EQ(settings.GetSetting(SettingId::LimitDiskSpace), 0);
    EXPECT_EQ(settings.GetSetting(SettingId::CheckTimer), 300);
    EXPECT_EQ(dialog->limitMB(), 0u);
    EXPECT_EQ(dialog->checkSeconds(), 300u);
}

// The main frame with a made-up record volume.
class DiskWatchFrameTest : public testing::Test {
  protected:
    void SetUp() override {
        test::PrepareSiteStore(temp.path(), 1);
        ASSERT_EQ(app.InitInstance({"orvane", "/Embedding"}), ViewerApp::StartResult::Started);
        frame = app.mainFrame();
        frame->SetFreeSpaceSource([this](const std::string&) { return volume; });
        diskPane = frame->findChild<QLabel*>("diskPane");
        indicator = frame->findChild<IndicatorPane*>("indicatorPane");
        ASSERT_NE(diskPane, nullptr);
        ASSERT_NE(indicator, nullptr);
    }
    int Warnings() const { return static_cast<int>(prompts.texts().count(frametext::kDiskLow)); }
    // Runs Options, changing the fields as given and pressing OK, or Cancel when ok is false.
    void RunOptions(const QString& limit, const QString& period, bool ok = true,
                    bool autoRun = false) {
        test::ModalScript script;
        script.Then<OptionsDialog>([&](OptionsDialog* dialog) {
            dialog->limitEdit()->setText(limit);
            dialog->periodEdit()->setText(period);
            dialog->autoRunBox()->setChecked(autoRun);
            if (ok) {
                dialog->okButton()->click();
            } else {
                dialog->reject();
            }
        });
        frame->RunCommand(cmd::kOptions);
        EXPECT_TRUE(script.finished());
    }

    test::TempStore temp;
    ScopedEnv config{"XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File("config"))};
    test::ScriptedPrompts prompts;
    ViewerApp app;
    MainFrame* frame = nullptr;
    QLabel* diskPane = nullptr;
    IndicatorPane* indicator = nullptr;
    FreeSpace volume{5000, "/mnt/rec"};
};

TEST_F(DiskWatchFrameTest, TheFrameStartsWithTheRealVolumeAndItsTimer) {
    // Read at creation, before the made-up volume was put in.
    EXPECT_TRUE(diskPane->text().contains(" MB Free on /")) << diskPane->text().toStdString();
    EXPECT_TRUE(frame->diskTimer()->isActive());
    EXPECT_EQ(frame->diskTimer()->interval(), 10000);
    EXPECT_EQ(frame->diskWatch().limitMB(), 50u);
    EXPECT_EQ(indicator->secondIcon(), IndicatorPane::kNoIcon);
    frame->close();
    EXPECT_FALSE(frame->diskTimer()->isActive());
}

TEST_F(DiskWatchFrameTest, TheTimerRunsTheCheck) {
    RunOptions("50", "1");
    EXPECT_EQ(frame->diskTimer()->interval(), 1000);
    volume.freeMB = 3;
    QTRY_COMPARE_WITH_TIMEOUT(diskPane->text(), QString("3 MB Free on /mnt/rec"), 3000);
    EXPECT_EQ(Warnings(), 1);
}

TEST_F(DiskWatchFrameTest, LowSpaceWarnsOnceAndThenOnlyBlinks) {
    volume.freeMB = 49;
    frame->DiskTick();
    EXPECT_EQ(diskPane->text(), "49 MB Free on /mnt/rec");
    ASSERT_EQ(Warnings(), 1);
    EXPECT_EQ(prompts.shown().back().icon, PromptIcon::Exclamation);
    EXPECT_EQ(prompts.shown().back().buttons, PromptButtons::Ok);
    const int first = indicator->secondIcon();
    EXPECT_NE(first, IndicatorPane::kNoIcon);
    frame->DiskTick();
    EXPECT_EQ(indicator->secondIcon(), first == IndicatorPane::kBrightIcon
                                           ? IndicatorPane::kDimIcon
                                           : IndicatorPane::kBrightIcon);
    frame->DiskTick();
    frame->DiskTick();
    EXPECT_EQ(Warnings(), 1);

    // Space freed: the lamp goes on the next check, silently.
    volume.freeMB = 50;
    frame->DiskTick();
    EXPECT_EQ(indicator->secondIcon(), IndicatorPane::kNoIcon);
    EXPECT_EQ(diskPane->text(), "50 MB Free on /mnt/rec");
    EXPECT_EQ(Warnings(), 1);
}

TEST_F(DiskWatchFrameTest, ANewRecordVolumeIsNamedAtOnce) {
    frame->DiskTick();
    EXPECT_EQ(diskPane->text(), "5000 MB Free on /mnt/rec");
    volume = {777, "/media/usb"};
    frame->UpdateDiskStatus();
    EXPECT_EQ(diskPane->text(), "777 MB Free on /media/usb");
}

TEST_F(DiskWatchFrameTest, OnlyAConfirmedOptionsDialogReArmsTheWarning) {
    volume.freeMB = 10;
    frame->DiskTick();
    ASSERT_EQ(Warnings(), 1);
    RunOptions("50", "10", /*ok=*/false);
    frame->DiskTick();
    EXPECT_EQ(Warnings(), 1);
    RunOptions("50", "10");
    EXPECT_FALSE(frame->diskWatch().warned());
    frame->DiskTick();
    EXPECT_EQ(Warnings(), 2);
}

TEST_F(DiskWatchFrameTest, ConfirmedOptionsApplyAtOnce) {
    volume.freeMB = 10;
    frame->DiskTick();
    ASSERT_NE(indicator->secondIcon(), IndicatorPane::kNoIcon);

    RunOptions("0", "60", /*ok=*/true, /*autoRun=*/true);
    EXPECT_EQ(app.settings().GetSetting(SettingId::LimitDiskSpace), 0);
    EXPECT_EQ(app.settings().GetSetting(SettingId::CheckTimer), 60);
    EXPECT_EQ(app.settings().GetSetting(SettingId::AutoRun), 1);
    EXPECT_EQ(frame->diskWatch().limitMB(), 0u);
    EXPECT_EQ(frame->diskWatch().checkSeconds(), 60u);
    // The timer was started again: the next check is a whole new period away.
    EXPECT_TRUE(frame->diskTimer()->isActive());
    EXPECT_EQ(frame->diskTimer()->interval(), 60000);
    EXPECT_GT(frame->diskTimer()->remainingTime(), 55000);
    // The check is off: no lamp, no message, but the pane keeps counting.
    EXPECT_EQ(indicator->secondIcon(), IndicatorPane::kNoIcon);
    volume.freeMB = 0;
    frame->DiskTick();
    frame->DiskTick();
    EXPECT_EQ(diskPane->text(), "0 MB Free on /mnt/rec");
    EXPECT_EQ(indicator->secondIcon(), IndicatorPane::kNoIcon);
    EXPECT_EQ(Warnings(), 1);

    // The autostart entry names this very program.
    const QString entry = QString::fromStdString(AutostartEntryPath());
    ASSERT_TRUE(entry.startsWith(QString::fromStdString(temp.folder())));
    const std::string text = test::ReadFileBytes(entry.toStdString());
    EXPECT_NE(
        text.find("Exec=" +
                  DesktopExecValue(QCoreApplication::applicationFilePath().toStdString()) + "\n"),
        std::string::npos)
        << text;

    RunOptions("50", "10", /*ok=*/true, /*autoRun=*/false);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_EQ(app.settings().GetSetting(SettingId::AutoRun), 0);
}

}  // namespace
}  // namespace orvane
