#include "playback/clip_browser_dialog.h"

#include "common/log.h"
#include "media/preview_file.h"
#include "playback/clip_search_dialog.h"
#include "playback/export_dialog.h"
#include "shared/prompt_service.h"
#include "store/clip_index.h"
#include "store/clip_removal.h"

#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSet>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>

namespace orvane {
namespace {

// Controls of the dialog, by the identifiers the program has always used.
constexpr int kListId = 1060;
constexpr int kTotalId = 1061;
constexpr int kReadId = 1062;
constexpr int kUnreadId = 1063;
constexpr int kTreeId = 1064;
constexpr int kPreviewId = 1065;
constexpr int kPlayId = 1057;
constexpr int kDeleteId = 1058;
constexpr int kSearchId = 1059;
constexpr int kExitId = 1;

// The layout in dialog units: a quarter of the font's average character width across, an
// eighth of its height down.
constexpr QSize kDialogSize(267, 220);

// Column widths in average character widths.
constexpr int kColumnChars[] = {26, 18, 18, 30};

QRect FromDialogUnits(const QFontMetrics& metrics, int x, int y, int w, int h) {
    const int baseX = metrics.averageCharWidth();
    const int baseY = metrics.height();
    return QRect(x * baseX / 4, y * baseY / 8, w * baseX / 4, h * baseY / 8);
}

static_assert(ClipBrowserDialog::kPreviewBufferSize == kPreviewFileLimit,
              "the dialog's preview buffer is the most of a preview file that is read");

}  // namespace

ClipPreviewFrame::ClipPreviewFrame(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
}

void ClipPreviewFrame::SetPicture(QImage picture) {
    picture_ = std::move(picture);
    update();
}

void ClipPreviewFrame::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.drawLine(area.topLeft(), area.bottomRight());
    painter.drawLine(area.topRight(), area.bottomLeft());
    if (!picture_.isNull()) {
        painter.drawImage(area, picture_);
    }
}

ClipBrowserDialog::ClipBrowserDialog(ClipIndex& index, ClipHousekeeper& housekeeper,
                                     ClipPlayerFactory openPlayer, QWidget* parent)
    : QDialog(parent),
      index_(index),
      housekeeper_(housekeeper),
      openPlayer_(std::move(openPlayer)) {
    setWindowTitle(browsertext::kTitle);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const QFontMetrics metrics = fontMetrics();
    const auto place = [&](QWidget* widget, int id, int x, int y, int w, int h) {
        widget->setProperty("controlId", id);
        widget->setGeometry(FromDialogUnits(metrics, x, y, w, h));
    };

    tree_ = new QTreeWidget(this);
    place(tree_, kTreeId, 7, 4, 158, 64);
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setIconSize(QSize(16, 16));
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!tree_->selectedItems().isEmpty()) {
            FillClipList(tree_->selectedItems().first()->text(0));
        }
    });
    connect(tree_, &QTreeWidget::customContextMenuRequested, this,
            &ClipBrowserDialog::DeleteChannelClips);

    preview_ = new ClipPreviewFrame(this);
    place(preview_, kPreviewId, 168, 4, 95, 64);

    const struct {
        const char* text;
        int x, w;
    } labels[] = {{"Video clips:", 8, 46}, {"Read:", 108, 28}, {"Unread:", 182, 36}};
    constexpr int kCountIds[] = {kTotalId, kReadId, kUnreadId};
    constexpr int kCountX[] = {56, 138, 220};
    constexpr int kCountW[] = {44, 34, 34};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(tr(labels[i].text), this);
        label->setGeometry(FromDialogUnits(metrics, labels[i].x, 70, labels[i].w, 8));
        counts_[i] = new QLabel(this);
        place(counts_[i], kCountIds[i], kCountX[i], 70, kCountW[i], 8);
    }

    list_ = new QTreeView(this);
    place(list_, kListId, 8, 81, 252, 95);
    model_ =
        new ClipListModel({tr("File name"), tr("Start time"), tr("Ending time"), tr("Path")}, this);
    SetUpClipList(list_, model_);
    // The widths follow the font a plain drawing context has, not the dialog's.
    const int charWidth = QFontMetrics(QFont()).averageCharWidth();
    for (int column = 0; column < 4; ++column) {
        list_->header()->resizeSection(column, kColumnChars[column] * charWidth);
    }
    list_->viewport()->installEventFilter(this);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QTreeView::customContextMenuRequested, this, &ClipBrowserDialog::ShowListMenu);
    notice_ = new QLabel(this);
    notice_->setObjectName("deleteNotice");
    notice_->setGeometry(FromDialogUnits(metrics, 8, 177, 252, 10));
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ClipBrowserDialog::ShowPreview);

    const struct {
        const char* text;
        int id, x;
    } buttons[] = {{"&Play", kPlayId, 20},
                   {"&Delete", kDeleteId, 81},
                   {"&Search", kSearchId, 142},
                   {"E&xit", kExitId, 203}};
    for (const auto& entry : buttons) {
        auto* button = new QPushButton(tr(entry.text), this);
        place(button, entry.id, entry.x, 189, 40, 15);
        button->setAutoDefault(false);
        if (entry.id == kExitId) {
            button->setDefault(true);
            connect(button, &QPushButton::clicked, this, &ClipBrowserDialog::accept);
        }
        if (entry.id == kPlayId) {
            connect(button, &QPushButton::clicked, this, &ClipBrowserDialog::PlaySelected);
        }
        if (entry.id == kDeleteId) {
            connect(button, &QPushButton::clicked, this, &ClipBrowserDialog::DeleteSelected);
        }
        if (entry.id == kSearchId) {
            connect(button, &QPushButton::clicked, this, &ClipBrowserDialog::OpenSearch);
        }
    }
    setFixedSize(FromDialogUnits(metrics, 0, 0, kDialogSize.width(), kDialogSize.height()).size());

    LoadGroups();
    housekeeper_.WatchDeletions(
        this, [this](const std::vector<ClipRemoval>& removals) { ForgetDeleted(removals); });
}

ClipBrowserDialog::~ClipBrowserDialog() = default;

void ClipBrowserDialog::LoadGroups() {
    std::vector<ClipRecord> records;
    index_.LoadClipRecords(records);
    // Groups are looked up by key for every record; the tree is sorted once at the end.
    QHash<QString, ClipGroup*> byKey;
    QList<QTreeWidgetItem*> items;
    const QIcon channelIcon = ClipIcon(ClipIconKind::Channel);
    for (ClipRecord& record : records) {
        const QString key = ChannelKey(record);
        ClipGroup*& group = byKey[key];
        if (!group) {
            groups_.push_back(std::make_unique<ClipGroup>(ClipGroup{key, {}}));
            group = groups_.back().get();
            auto* item = new QTreeWidgetItem(QStringList{key});
            item->setIcon(0, channelIcon);
            items.push_back(item);
        }
        group->clips.push_back(std::move(record));
    }
    tree_->addTopLevelItems(items);
    tree_->sortItems(0, Qt::AscendingOrder);
}

void ClipBrowserDialog::SelectChannel(const QString& key) {
    if (key.isEmpty()) {
        tree_->clearSelection();
        return;
    }
    const auto found = tree_->findItems(key, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!found.isEmpty()) {
        tree_->setCurrentItem(found.first());
    }
}

QString ClipBrowserDialog::SelectedChannelKey() const {
    const auto selected = tree_->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text(0);
}

void ClipBrowserDialog::FillClipList(const QString& key) {
    total_ = 0;
    read_ = 0;
    model_->SetRows({});
    const ClipGroup* group = FindGroup(groups_, key);
    if (!group) {
        return;
    }
    std::vector<ClipRow> rows;
    rows.reserve(group->clips.size());
    for (const ClipRecord& clip : group->clips) {
        rows.push_back(MakeClipRow(clip, key));
        read_ += clip.open != 0 ? 1 : 0;
    }
    std::stable_sort(rows.begin(), rows.end(), [](const ClipRow& a, const ClipRow& b) {
        return NewerClip(a.fileName, b.fileName);
    });
    model_->SetRows(std::move(rows));
    total_ = model_->rowCount();
    UpdateCounts();
}

void ClipBrowserDialog::UpdateCounts() {
    ShowClipCounts(counts_, total_, read_);
}

QString ClipBrowserDialog::countText(int which) const {
    return which >= 0 && which < 3 ? counts_[which]->text() : QString();
}

std::vector<int> ClipBrowserDialog::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

int ClipBrowserDialog::FirstSelectedRow() const {
    int first = -1;
    for (const QItemSelectionRange& range : list_->selectionModel()->selection()) {
        if (first < 0 || range.top() < first) {
            first = range.top();
        }
    }
    return first;
}

void ClipBrowserDialog::PlaySelected() {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        return;
    }
    const QString key = SelectedChannelKey();
    int opened = 0;
    for (int row : rows) {
        if (opened >= kMaxPlayers) {
            break;
        }
        const QString fileName = model_->row(row).fileName;
        if (!model_->row(row).read) {
            ++read_;
            index_.SetClipOpened(fileName, true);
            model_->SetRead(row);
        }
        ClipRecord* record = FindRecord(groups_, key, fileName);
        if (!record) {
            continue;
        }
        record->open = 1;
        // A clip whose file has gone still gets its player, which tells the operator.
        if (QWidget* player = openPlayer_ ? openPlayer_(ClipRecord(*record), this) : nullptr) {
            players_.push_back({player, record->path + record->fileName});
            ++opened;
        }
    }
    UpdateCounts();
}

void ClipBrowserDialog::DeleteRows(const std::vector<ClipRow>& rows, const QString& key) {
    // A whole channel may be thousands of rows: the clips are picked out in one pass.
    QSet<QString> going;
    going.reserve(static_cast<qsizetype>(rows.size()));
    QSet<QString> playing;
    for (const ClipRow& row : rows) {
        --total_;
        if (row.read) {
            --read_;
        }
        going.insert(row.entryKey);
        playing.insert(row.path + row.fileName);
    }
    // A player of the clip goes first: it holds the file open and would go on showing it.
    for (const auto& [player, path] : players_) {
        if (player && playing.contains(path)) {
            player->close();
        }
    }
    std::vector<ClipRecord> clips;
    clips.reserve(rows.size());
    if (ClipGroup* group = FindGroup(groups_, key)) {
        std::vector<ClipRecord> staying;
        staying.reserve(group->clips.size() - std::min(group->clips.size(), rows.size()));
        for (ClipRecord& clip : group->clips) {
            (going.contains(clip.key()) ? clips : staying).push_back(std::move(clip));
        }
        group->clips = std::move(staying);
    }
    ForgetPreviewOf(going);
    if (clips.empty()) {
        return;
    }
    deleting_ += static_cast<int>(clips.size());
    notice_->clear();
    housekeeper_.Remove(
        std::move(clips), this,
        [this](std::size_t done, std::size_t total) {
            notice_->setText(browsertext::Deleting(done, total));
        },
        [this, key](const std::vector<ClipRemoval>& removals) { DeletionDone(removals, key); });
}

void ClipBrowserDialog::DeletionDone(const std::vector<ClipRemoval>& removals, const QString& key) {
    deleting_ -= static_cast<int>(removals.size());
    const ClipRemoval* first = nullptr;
    std::size_t failed = 0;
    ClipGroup* group = FindGroup(groups_, key);
    for (const ClipRemoval& removal : removals) {
        if (removal.removed()) {
            continue;
        }
        first = first ? first : &removal;
        ++failed;
        if (group) {
            group->clips.push_back(removal.clip);
        }
    }
    if (!first) {
        notice_->clear();
        return;
    }
    notice_->setText(browsertext::NotDeleted(first->failedFile, first->reason, failed - 1));
    if (SelectedChannelKey() == key) {
        FillClipList(key);
    }
}

void ClipBrowserDialog::ForgetDeleted(const std::vector<ClipRemoval>& removals) {
    QSet<QString> gone;
    for (const ClipRemoval& removal : removals) {
        if (removal.removed()) {
            gone.insert(removal.clip.key());
        }
    }
    for (const auto& group : groups_) {
        std::erase_if(group->clips,
                      [&](const ClipRecord& clip) { return gone.contains(clip.key()); });
    }
    // Row by row, so that the operator's selection of the others stays.
    for (int row = model_->rowCount() - 1; row >= 0; --row) {
        const ClipRow& clip = model_->row(row);
        if (gone.contains(clip.entryKey)) {
            --total_;
            read_ -= clip.read ? 1 : 0;
            model_->RemoveRowAt(row);
        }
    }
    ForgetPreviewOf(gone);
    UpdateCounts();
}

void ClipBrowserDialog::DeleteSelected() {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        return;
    }
    if (PromptService::Show(this, browsertext::kDeleteQuestion, PromptButtons::OkCancel,
                            PromptIcon::Question) != PromptAnswer::Ok) {
        return;
    }
    const QString key = SelectedChannelKey();
    std::vector<bool> gone(model_->rows().size(), false);
    std::vector<ClipRow> going;
    going.reserve(rows.size());
    for (int row : rows) {
        going.push_back(model_->row(row));
        gone[static_cast<std::size_t>(row)] = true;
    }
    std::vector<ClipRow> kept;
    kept.reserve(model_->rows().size() - rows.size());
    for (std::size_t i = 0; i < gone.size(); ++i) {
        if (!gone[i]) {
            kept.push_back(model_->rows()[i]);
        }
    }
    model_->SetRows(std::move(kept));
    DeleteRows(going, key);
    UpdateCounts();
}

void ClipBrowserDialog::DeleteChannelClips() {
    // The selected channel, wherever the click was.
    if (tree_->selectedItems().isEmpty() || model_->rowCount() == 0) {
        return;
    }
    const QString key = SelectedChannelKey();
    if (PromptService::Show(this, browsertext::kDeleteQuestion, PromptButtons::OkCancel,
                            PromptIcon::Question) != PromptAnswer::Ok) {
        return;
    }
    const std::vector<ClipRow> going = model_->rows();
    model_->SetRows({});
    DeleteRows(going, key);
    UpdateCounts();
}

void ClipBrowserDialog::KeepSelected(bool keep) {
    const QString key = SelectedChannelKey();
    for (const int row : SelectedRows()) {
        const ClipRow& clip = model_->row(row);
        if (clip.fileName.isEmpty() || !index_.SetClipKept(clip.entryKey, keep)) {
            continue;
        }
        if (ClipRecord* record = FindRecord(groups_, key, clip.fileName)) {
            record->keep = keep ? 1 : 0;
        }
        model_->SetKeep(row, keep);
    }
}

void ClipBrowserDialog::ShowListMenu(const QPoint& at) {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty() && SelectedChannelKey().isEmpty()) {
        return;
    }
    // Not exec(): the menu runs no event loop of its own; it goes when closed.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (!rows.empty()) {
        QAction* keep = menu->addAction(tr(browsertext::kKeep));
        keep->setCheckable(true);
        keep->setChecked(std::all_of(rows.begin(), rows.end(),
                                     [this](int row) { return model_->row(row).keep; }));
        connect(keep, &QAction::triggered, this, [this](bool on) { KeepSelected(on); });
    }
    connect(menu->addAction(tr(exporttext::kAction)), &QAction::triggered, this,
            &ClipBrowserDialog::ExportSelected);
    menu->popup(list_->viewport()->mapToGlobal(at));
}

void ClipBrowserDialog::ExportSelected() {
    std::vector<ClipRecord> selected;
    for (const int row : SelectedRows()) {
        const ClipRow& clip = model_->row(row);
        if (const ClipRecord* record = FindRecord(groups_, clip.groupKey, clip.fileName)) {
            selected.push_back(*record);
        }
    }
    std::vector<std::vector<ClipRecord>> channels;
    if (const ClipGroup* group = FindGroup(groups_, SelectedChannelKey())) {
        channels.push_back(group->clips);
    }
    ExportFromBrowser(this, selected, channels);
}

QString ClipBrowserDialog::noticeText() const {
    return notice_->text();
}

void ClipBrowserDialog::OpenSearch() {
    ClipSearchDialog dialog(groups_, index_, openPlayer_, this);
    dialog.exec();
}

void ClipBrowserDialog::ShowPreview() {
    const int first = FirstSelectedRow();
    if (first < 0) {
        return;
    }
    const ClipRecord* record =
        FindRecord(groups_, SelectedChannelKey(), model_->row(first).fileName);
    if (!record || record->imageName == lastPreviewName_) {
        return;
    }
    lastPreviewName_ = record->imageName;
    previewKey_ = record->key();
    auto bytes = IsPlainFileName(record->imageName)
                     ? ReadPreviewFile(record->path + record->imageName)
                     : std::nullopt;
    if (!bytes) {
        previewValid_ = false;
        previewLength_ = 0;
        preview_->SetPicture({});
        return;
    }
    previewBuffer_ = std::move(*bytes);
    previewLength_ = previewBuffer_.size();
    previewValid_ = true;
    preview_->SetPicture(DecodePreviewFile(previewBuffer_));
}

void ClipBrowserDialog::ForgetPreviewOf(const QSet<QString>& goneKeys) {
    if (previewKey_.isEmpty() || !goneKeys.contains(previewKey_)) {
        return;
    }
    previewKey_.clear();
    lastPreviewName_.clear();
    previewLength_ = 0;
    preview_->SetPicture({});
    ShowPreview();
}

bool ClipBrowserDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            PlaySelected();
            return true;
        }
        if (mouse->button() == Qt::RightButton) {
            DeleteSelected();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace orvane
