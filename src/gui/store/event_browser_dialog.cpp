#include "store/event_browser_dialog.h"

#include "shared/list_colours.h"
#include "shared/prompt_service.h"
#include "store/event_log.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <vector>

namespace orvane {
namespace {

// Controls of the dialog, by the identifiers the program has always used.
constexpr int kListId = 1071;
constexpr int kDeleteId = 1072;
constexpr int kExitId = 2;

// A row's key is read into a buffer of this many characters; no stored key comes near it.
constexpr int kMaxKeyChars = 260;

// The list shows this many average characters across and this many rows down before it
// scrolls.
constexpr int kVisibleChars = 100;
constexpr int kVisibleRows = 16;

}  // namespace

EventBrowserDialog::EventBrowserDialog(EventLog& log, const CodePage& codePage, QWidget* parent)
    : QDialog(parent), log_(log) {
    setWindowTitle(tr(eventbrowsertext::kTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    list_ = new QTreeWidget(this);
    list_->setProperty("controlId", kListId);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHeaderLabels({tr("Event"), tr("Name"), tr("Phone"), tr("Address"), tr("Memo")});
    list_->header()->setSectionsClickable(false);
    list_->header()->setStretchLastSection(false);
    list_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int charWidth = fontMetrics().averageCharWidth();
    for (int column = 0; column < static_cast<int>(std::size(kColumnChars)); ++column) {
        list_->header()->resizeSection(column, kColumnChars[column] * charWidth);
    }
    PaintListBackground(list_);
    list_->setMinimumSize(kVisibleChars * charWidth, kVisibleRows * fontMetrics().height());

    deleteButton_ = new QPushButton(tr("&Delete"), this);
    deleteButton_->setProperty("controlId", kDeleteId);
    deleteButton_->setAutoDefault(false);
    connect(deleteButton_, &QPushButton::clicked, this, &EventBrowserDialog::DeleteSelected);
    auto* exitButton = new QPushButton(tr("E&xit"), this);
    exitButton->setProperty("controlId", kExitId);
    exitButton->setDefault(true);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(deleteButton_);
    buttons->addWidget(exitButton);
    auto* column = new QVBoxLayout(this);
    column->addWidget(list_);
    column->addLayout(buttons);

    FillList(codePage);
}

void EventBrowserDialog::FillList(const CodePage& codePage) {
    std::vector<EventLogEntry> entries;
    log_.LoadEventLog(entries, codePage);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(entries.size()));
    for (const EventLogEntry& entry : entries) {
        auto* item = new QTreeWidgetItem(
            QStringList{entry.id, entry.name, entry.tel, entry.address, entry.memo});
        // The text's own background, which the list's colour alone does not set.
        for (int column = 0; column < item->columnCount(); ++column) {
            item->setBackground(column, ListBackground());
        }
        items.push_back(item);
    }
    // The list takes the items over.
    list_->addTopLevelItems(items);
    // Digits are wider than the average character: the Event column grows, never shrinks,
    // until a stamp with its same-second suffix shows whole.
    const int designed = list_->header()->sectionSize(0);
    list_->resizeColumnToContents(0);
    list_->header()->resizeSection(0, std::max(designed, list_->header()->sectionSize(0)));
}

void EventBrowserDialog::DeleteSelected() {
    std::vector<int> rows;
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        if (list_->topLevelItem(row)->isSelected()) {
            rows.push_back(row);
        }
    }
    if (rows.empty()) {
        return;
    }
    if (PromptService::Show(window(), eventbrowsertext::kDeleteQuestion, PromptButtons::OkCancel,
                            PromptIcon::Question) != PromptAnswer::Ok) {
        return;
    }
    // From the last row up, so that the rows still to go keep their numbers. The result is of
    // no interest: the row goes either way (the store has logged why).
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        const std::unique_ptr<QTreeWidgetItem> item(list_->takeTopLevelItem(*row));
        log_.DeleteEventLogEntry(item->text(0).left(kMaxKeyChars));
    }
}

}  // namespace orvane
