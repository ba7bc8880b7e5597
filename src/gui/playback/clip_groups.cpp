#include "playback/clip_groups.h"

#include "shared/list_colours.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTreeView>

#include <algorithm>

namespace orvane {
namespace {

// The list icons are 20 x 20, the tree's 16 x 16, drawn rather than loaded.
constexpr int kListIconSize = 20;
constexpr int kTreeIconSize = 16;

QPixmap DrawFilmFrame(const QColor& body, const QColor& mark) {
    QPixmap pixmap(kListIconSize, kListIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(body);
    painter.drawRect(QRectF(2.5, 3.5, 15, 13));
    painter.setBrush(Qt::white);
    painter.setPen(Qt::NoPen);
    for (int y : {5, 13}) {
        for (int x = 4; x < 17; x += 3) {
            painter.drawRect(x, y, 2, 2);
        }
    }
    painter.setBrush(mark);
    painter.drawEllipse(QRectF(7, 7.5, 6, 5));
    return pixmap;
}

QPixmap DrawCamera() {
    QPixmap pixmap(kTreeIconSize, kTreeIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(70, 110, 170));
    painter.drawRoundedRect(QRectF(1.5, 4.5, 10, 8), 1.5, 1.5);
    painter.drawPolygon(
        QPolygonF{QPointF(11.5, 7), QPointF(14.5, 5), QPointF(14.5, 12), QPointF(11.5, 10)});
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(4.5, 6.5, 4, 4));
    return pixmap;
}

}  // namespace

QString ChannelKey(const ClipRecord& clip) {
    return QString::asprintf("%04d", clip.channel) + QLatin1Char(' ') + clip.location;
}

ClipGroup* FindGroup(const ClipGroups& groups, const QString& key) {
    for (const auto& group : groups) {
        if (group->key == key) {
            return group.get();
        }
    }
    return nullptr;
}

ClipRecord* FindRecord(const ClipGroups& groups, const QString& key, const QString& fileName) {
    ClipGroup* group = FindGroup(groups, key);
    if (!group) {
        return nullptr;
    }
    const auto found =
        std::find_if(group->clips.begin(), group->clips.end(),
                     [&](const ClipRecord& clip) { return clip.fileName == fileName; });
    return found != group->clips.end() ? &*found : nullptr;
}

bool RemoveRecord(const ClipGroups& groups, const QString& key, const QString& fileName) {
    ClipGroup* group = FindGroup(groups, key);
    if (!group) {
        return false;
    }
    const auto found =
        std::find_if(group->clips.begin(), group->clips.end(),
                     [&](const ClipRecord& clip) { return clip.fileName == fileName; });
    if (found == group->clips.end()) {
        return false;
    }
    group->clips.erase(found);
    return true;
}

QIcon ClipIcon(ClipIconKind kind) {
    switch (kind) {
        case ClipIconKind::Channel:
            return QIcon(DrawCamera());
        case ClipIconKind::Unread:
            return QIcon(DrawFilmFrame(QColor(60, 60, 60), QColor(255, 200, 0)));
        case ClipIconKind::Read:
            return QIcon(DrawFilmFrame(QColor(150, 150, 150), QColor(220, 220, 220)));
    }
    return {};
}

ClipRow MakeClipRow(const ClipRecord& clip, const QString& groupKey) {
    ClipRow row;
    row.fileName = clip.fileName;
    row.start = clip.startDate + QLatin1Char(' ') + clip.startTime;
    row.end = clip.endDate + QLatin1Char(' ') + clip.endTime;
    row.path = clip.path;
    row.groupKey = groupKey;
    row.entryKey = clip.key();
    row.read = clip.open != 0;
    row.keep = clip.keep != 0;
    return row;
}

ClipListModel::ClipListModel(QStringList headings, QObject* parent)
    : QAbstractTableModel(parent),
      headings_(std::move(headings)),
      unread_(ClipIcon(ClipIconKind::Unread)),
      read_(ClipIcon(ClipIconKind::Read)) {}

void ClipListModel::SetRows(std::vector<ClipRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void ClipListModel::RemoveRowAt(int row) {
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void ClipListModel::SetKeep(int row, bool keep) {
    rows_[static_cast<std::size_t>(row)].keep = keep;
    emit dataChanged(index(row, 0), index(row, 0));
}

void ClipListModel::SetRead(int row) {
    rows_[static_cast<std::size_t>(row)].read = true;
    const QModelIndex cell = index(row, 0);
    emit dataChanged(cell, cell, {Qt::DecorationRole});
}

int ClipListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ClipListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
}

QVariant ClipListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const ClipRow& clip = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DecorationRole && index.column() == 0) {
        return clip.read ? read_ : unread_;
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case 0:
            return clip.keep ? clip.fileName + QStringLiteral("  (Keep)") : clip.fileName;
        case 1:
            return clip.start;
        case 2:
            return clip.end;
        case 3:
            return clip.path;
        case 4:
            return clip.channelText;
        default:
            return {};
    }
}

QVariant ClipListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= headings_.size()) {
        return {};
    }
    return headings_[section];
}

void ShowClipCounts(QLabel* const (&counts)[3], int total, int read) {
    const int values[] = {total, read, total - read};
    for (int i = 0; i < 3; ++i) {
        counts[i]->setText(QString::asprintf("%6d", values[i]));
    }
}

void SetUpClipList(QTreeView* list, ClipListModel* model) {
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setIconSize(QSize(20, 20));
    list->header()->setSectionsClickable(false);
    list->header()->setStretchLastSection(false);
    PaintListBackground(list);
}

}  // namespace orvane
