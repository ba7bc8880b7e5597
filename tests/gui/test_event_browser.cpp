// The "Browse event notify" dialog: its list, and deleting selected rows with their entries.
#include "site_simulator.h"
#include "store/event_browser_dialog.h"
#include "store/event_log.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

namespace orvane {
namespace {

const QDateTime kArrival(QDate(2002, 11, 5), QTime(14, 30, 7));

class EventBrowserTest : public testing::Test {
  protected:
    test::TempStore temp;
    KeyStore store{std::move(*KeyStore::Open(temp.path()).store)};
    QDateTime now = kArrival;
    EventLog log{store, [this] { return now; }};
    test::ScriptedPrompts prompts;

    // Stores events one second apart, the first two in the same second.
    void Store(int count) {
        for (int i = 0; i < count; ++i) {
            now = kArrival.addSecs(i == 0 ? 0 : i - 1);
            ASSERT_TRUE(log.AddEventLogEntry(
                sim::MakeEventRecord("Gate " + std::to_string(i), "", "", "m\xE4rz")));
        }
    }
    std::unique_ptr<EventBrowserDialog> Open() {
        return std::make_unique<EventBrowserDialog>(log, CodePage());
    }
    QStringList StoredIds() const {
        std::vector<EventLogEntry> entries;
        log.LoadEventLog(entries);
        QStringList ids;
        for (const EventLogEntry& entry : entries) {
            ids << entry.id;
        }
        return ids;
    }
    static QStringList Rows(const EventBrowserDialog& dialog, int column = 0) {
        QStringList texts;
        for (int row = 0; row < dialog.list()->topLevelItemCount(); ++row) {
            texts << dialog.list()->topLevelItem(row)->text(column);
        }
        return texts;
    }
    static void Select(const EventBrowserDialog& dialog, std::initializer_list<int> rows) {
        for (int row : rows) {
            dialog.list()->topLevelItem(row)->setSelected(true);
        }
    }
};

// One row per entry in the log's order; deleting asks once (nothing to delete: no question),
// then removes the rows and their entries, also a row whose entry is already gone.
TEST_F(EventBrowserTest, DeletingSelectedRowsAsksOnceAndRemovesRowsAndEntries) {
    const auto empty = Open();
    empty->deleteButton()->click();
    EXPECT_TRUE(prompts.shown().empty());

    Store(5);
    const auto dialog = Open();
    EXPECT_EQ(Rows(*dialog), (QStringList{"20021105143007", "20021105143007-2", "20021105143008",
                                          "20021105143009", "20021105143010"}));
    EXPECT_EQ(Rows(*dialog, 1).first(), "Gate 0");
    EXPECT_EQ(Rows(*dialog, 4), (QStringList(5, QString::fromUtf8("m\u00e4rz"))));
    Select(*dialog, {0, 1, 2});
    prompts.Queue(PromptAnswer::Cancel);
    dialog->DeleteSelected();
    EXPECT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(StoredIds().size(), 5);

    ASSERT_TRUE(log.DeleteEventLogEntry("20021105143007"));
    dialog->list()->clearSelection();
    Select(*dialog, {0, 1, 3});
    dialog->deleteButton()->click();
    ASSERT_EQ(prompts.shown().size(), 2u);
    EXPECT_EQ(prompts.shown()[1].text, "\n\n Delete select item(s) ? \n\n");
    EXPECT_EQ(prompts.shown()[1].buttons, PromptButtons::OkCancel);
    const QStringList kept{"20021105143008", "20021105143010"};
    EXPECT_EQ(Rows(*dialog), kept);
    EXPECT_EQ(StoredIds(), kept);
}

}  // namespace
}  // namespace orvane
