// The "Browse event notify" dialog: its list, and deleting selected rows with their entries.
#include "site_simulator.h"
#include "store/event_browser_dialog.h"
#include "store/event_log.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace orvane {
namespace {

QStringList Rows(const EventBrowserDialog& dialog, int column = 0) {
    QStringList texts;
    for (int row = 0; row < dialog.list()->topLevelItemCount(); ++row) {
        texts << dialog.list()->topLevelItem(row)->text(column);
    }
    return texts;
}

using EventBrowser = test::StoreFileTest;

// One row per entry in the log's order, texts in the site's code page; Delete asks once (not
// with nothing selected), then removes rows and entries, also a row whose entry is gone.
TEST_F(EventBrowser, DeletingSelectedRowsAsksOnceAndRemovesRowsAndEntries) {
    QDateTime now(QDate(2002, 11, 5), QTime(14, 30, 7));
    EventLog log{store_, [&] { return now; }};
    test::ScriptedPrompts prompts;
    const auto storedIds = [&] {
        std::vector<EventLogEntry> entries;
        log.LoadEventLog(entries);
        QStringList ids;
        std::ranges::transform(entries, std::back_inserter(ids), &EventLogEntry::id);
        return ids;
    };
    EventBrowserDialog(log, CodePage()).deleteButton()->click();
    EXPECT_TRUE(prompts.shown().empty());

    for (int i = 0; i < 4; ++i) {  // a second apart, the first two in the same second
        now = now.addSecs(i == 1 ? 0 : 1);
        ASSERT_TRUE(log.AddEventLogEntry(sim::MakeEventRecord("Gate", "", "", "m\xE4rz")));
    }
    const QStringList ids = storedIds();
    EventBrowserDialog dialog(log, CodePage());
    EXPECT_EQ(Rows(dialog), ids);
    EXPECT_EQ(Rows(dialog, 4).first(), QString::fromUtf8("m\u00e4rz"));
    for (int row : {0, 1, 3}) {
        dialog.list()->topLevelItem(row)->setSelected(true);
    }
    prompts.Queue(PromptAnswer::Cancel);
    dialog.DeleteSelected();
    EXPECT_EQ(storedIds(), ids);

    ASSERT_TRUE(log.DeleteEventLogEntry(ids[0]));
    dialog.deleteButton()->click();
    EXPECT_EQ(prompts.shown().size(), 2u);
    EXPECT_EQ(Rows(dialog), QStringList{ids[2]});
    EXPECT_EQ(storedIds(), QStringList{ids[2]});
}

}  // namespace
}  // namespace orvane
