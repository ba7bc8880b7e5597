#include "playback/clip_search_dialog.h"

#include "shared/prompt_service.h"
#include "store/clip_index.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimeEdit>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace orvane {
namespace {

// Controls of the dialog, by the identifiers the program has always used.
constexpr int kChannelId = 1051;
constexpr int kAfterCheckId = 1030;
constexpr int kBeforeCheckId = 1031;
constexpr int kAfterDateId = 1083;
constexpr int kAfterTimeId = 1085;
constexpr int kBeforeDateId = 1084;
constexpr int kBeforeTimeId = 1086;
constexpr int kSearchId = 1035;
constexpr int kExitId = 2;
constexpr int kListId = 1047;
constexpr int kCountIds[] = {1048, 1049, 1050};

// Column widths in average character widths of the dialog's font.
constexpr int kColumnChars[] = {26, 18, 18, 30, 30};

// The picker shows the whole year; "yyy" in the old picker's format meant the same.
constexpr const char* kDateFormat = "yyyy / MM / dd";
constexpr const char* kTimeFormat = "HH : mm";

// A bound as clip start keys are written: date and time run together, 2002/12/0300:00.
QString BoundKey(const QDate& date, const QTime& time) {
    return QString::asprintf("%04d/%02d/%02d", date.year(), date.month(), date.day()) +
           QString::asprintf("%02d:%02d", time.hour(), time.minute());
}

}  // namespace

ClipSearchDialog::ClipSearchDialog(ClipGroups& groups, ClipIndex& index,
                                   ClipPlayerFactory openPlayer, QWidget* parent)
    : QDialog(parent), groups_(groups), index_(index), openPlayer_(std::move(openPlayer)) {
    setWindowTitle(searchtext::kTitle);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    channels_ = new QComboBox(this);
    channels_->setProperty("controlId", kChannelId);
    channels_->addItem(searchtext::kAllChannels);
    for (const auto& group : groups_) {
        channels_->addItem(group->key);
    }
    channels_->setCurrentIndex(0);

    afterCheck_ = new QCheckBox(tr("After date:"), this);
    afterCheck_->setProperty("controlId", kAfterCheckId);
    beforeCheck_ = new QCheckBox(tr("Before date:"), this);
    beforeCheck_->setProperty("controlId", kBeforeCheckId);
    const QDate today = QDate::currentDate();
    const auto makeDate = [&](int id) {
        auto* edit = new QDateEdit(today, this);
        edit->setProperty("controlId", id);
        edit->setDisplayFormat(kDateFormat);
        return edit;
    };
    const auto makeTime = [&](int id, QTime time) {
        auto* edit = new QTimeEdit(time, this);
        edit->setProperty("controlId", id);
        edit->setDisplayFormat(kTimeFormat);
        return edit;
    };
    afterDate_ = makeDate(kAfterDateId);
    afterTime_ = makeTime(kAfterTimeId, QTime(0, 0));
    beforeDate_ = makeDate(kBeforeDateId);
    beforeTime_ = makeTime(kBeforeTimeId, QTime(23, 59));
    connect(afterCheck_, &QCheckBox::clicked, this, &ClipSearchDialog::ApplyChecks);
    connect(beforeCheck_, &QCheckBox::clicked, this, &ClipSearchDialog::ApplyChecks);
    ApplyChecks();

    auto* search = new QPushButton(tr("&Search"), this);
    search->setProperty("controlId", kSearchId);
    search->setAutoDefault(false);
    connect(search, &QPushButton::clicked, this, &ClipSearchDialog::Search);
    auto* exit = new QPushButton(tr("E&xit"), this);
    exit->setProperty("controlId", kExitId);
    exit->setDefault(true);
    connect(exit, &QPushButton::clicked, this, &ClipSearchDialog::reject);

    list_ = new QTreeView(this);
    list_->setProperty("controlId", kListId);
    model_ = new ClipListModel(
        {tr("File name"), tr("start time"), tr("Ending time"), tr("Path"), tr("Channel")}, this);
    SetUpClipList(list_, model_);
    const int charWidth = fontMetrics().averageCharWidth();
    for (int column = 0; column < 5; ++column) {
        list_->header()->resizeSection(column, kColumnChars[column] * charWidth);
    }
    list_->setMinimumSize(charWidth * 90, fontMetrics().height() * 14);
    list_->installEventFilter(this);
    list_->viewport()->installEventFilter(this);

    auto* bounds = new QGridLayout;
    bounds->addWidget(channels_, 0, 0, 1, 3);
    bounds->addWidget(afterCheck_, 1, 0);
    bounds->addWidget(afterDate_, 1, 1);
    bounds->addWidget(afterTime_, 1, 2);
    bounds->addWidget(beforeCheck_, 2, 0);
    bounds->addWidget(beforeDate_, 2, 1);
    bounds->addWidget(beforeTime_, 2, 2);
    auto* actions = new QVBoxLayout;
    actions->addWidget(search);
    actions->addWidget(exit);
    actions->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(bounds);
    top->addStretch();
    top->addLayout(actions);

    auto* countRow = new QHBoxLayout;
    const char* labels[] = {"Video clips:", "Read:", "Unread:"};
    for (int i = 0; i < 3; ++i) {
        countRow->addWidget(new QLabel(tr(labels[i]), this));
        counts_[i] = new QLabel(this);
        counts_[i]->setProperty("controlId", kCountIds[i]);
        countRow->addWidget(counts_[i]);
        countRow->addSpacing(charWidth * 4);
    }
    countRow->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(countRow);
    layout->addWidget(list_);
}

void ClipSearchDialog::ApplyChecks() {
    afterEnabled_ = afterCheck_->isChecked();
    beforeEnabled_ = beforeCheck_->isChecked();
    afterDate_->setEnabled(afterEnabled_);
    afterTime_->setEnabled(afterEnabled_);
    beforeDate_->setEnabled(beforeEnabled_);
    beforeTime_->setEnabled(beforeEnabled_);
}

void ClipSearchDialog::Search() {
    ApplyChecks();
    const int item = channels_->currentIndex();
    if (item < 0) {
        return;
    }
    // An item that names no group searches everything, as "All video channel" does.
    const ClipGroup* one = item == 0 ? nullptr : FindGroup(groups_, channels_->currentText());
    total_ = 0;
    read_ = 0;
    std::vector<ClipRow> rows;
    // An empty list alone would read as "no clips recorded then".
    if (afterEnabled_ && beforeEnabled_ &&
        BoundKey(beforeDate_->date(), beforeTime_->time()) <
            BoundKey(afterDate_->date(), afterTime_->time())) {
        model_->SetRows({});
        UpdateCounts();
        PromptService::Show(this, searchtext::kInvertedRange);
        return;
    }
    if (one) {
        ListGroup(*one, false, rows);
    } else {
        for (const auto& group : groups_) {
            ListGroup(*group, true, rows);
        }
    }
    model_->SetRows(std::move(rows));
    total_ = model_->rowCount();
    UpdateCounts();
}

void ClipSearchDialog::ListGroup(const ClipGroup& group, bool withChannel,
                                 std::vector<ClipRow>& rows) {
    const QString after = BoundKey(afterDate_->date(), afterTime_->time());
    const QString before = BoundKey(beforeDate_->date(), beforeTime_->time());
    for (const ClipRecord& clip : group.clips) {
        // Fixed-width parts make text order the order in time; only the start counts.
        const QString start = clip.startDate + clip.startTime;
        if (afterEnabled_ && start < after) {
            continue;
        }
        if (beforeEnabled_ && before < start) {
            continue;
        }
        ClipRow row = MakeClipRow(clip, group.key);
        if (withChannel) {
            row.channelText = group.key;
        }
        read_ += row.read ? 1 : 0;
        rows.push_back(std::move(row));
    }
}

void ClipSearchDialog::PlaySelected() {
    std::vector<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    if (rows.empty()) {
        return;
    }
    std::sort(rows.begin(), rows.end());
    int opened = 0;
    for (int row : rows) {
        if (opened >= kMaxPlayers) {
            break;
        }
        const ClipRow& clipRow = model_->row(row);
        if (!clipRow.read) {
            ++read_;
            index_.SetClipOpened(clipRow.fileName, true);
            model_->SetRead(row);
        }
        // The row remembers its group: the channel chosen now may not be the one searched.
        ClipRecord* record = FindRecord(groups_, clipRow.groupKey, clipRow.fileName);
        if (!record) {
            continue;
        }
        record->open = 1;
        if (openPlayer_ && openPlayer_(ClipRecord(*record), this)) {
            ++opened;
        }
    }
    UpdateCounts();
}

void ClipSearchDialog::UpdateCounts() {
    ShowClipCounts(counts_, total_, read_);
}

QString ClipSearchDialog::countText(int which) const {
    return which >= 0 && which < 3 ? counts_[which]->text() : QString();
}

bool ClipSearchDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            PlaySelected();
            return true;
        }
    }
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        PlaySelected();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace orvane
