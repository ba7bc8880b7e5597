#pragma once

#include "store/clip_index.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QLabel;
class QTreeView;

namespace orvane {

// The clips of one channel, in the order the index gave them.
struct ClipGroup {
    QString key;  // ChannelKey of its clips
    std::vector<ClipRecord> clips;
};

// The browser's groups in order of first appearance; the search dialog reads the same array.
using ClipGroups = std::vector<std::unique_ptr<ClipGroup>>;

// "%04d" of the channel, one blank, its location: how the browser names a channel.
QString ChannelKey(const ClipRecord& clip);

// Keys and file names compare exactly, case included.
ClipGroup* FindGroup(const ClipGroups& groups, const QString& key);
ClipRecord* FindRecord(const ClipGroups& groups, const QString& key, const QString& fileName);
bool RemoveRecord(const ClipGroups& groups, const QString& key, const QString& fileName);

enum class ClipIconKind { Channel, Unread, Read };
QIcon ClipIcon(ClipIconKind kind);

// One row of a clip list. groupKey is the group the row's clip is found in; channelText is
// what the Channel column shows (empty in a one-channel list).
struct ClipRow {
    QString fileName;
    QString start;
    QString end;
    QString path;
    QString channelText;
    QString groupKey;
    QString entryKey;  // the key of its index entry
    bool read = false;
    bool keep = false;  // marked "Keep": shown after the file name
};

ClipRow MakeClipRow(const ClipRecord& clip, const QString& groupKey);

// The rows of a report list, shown with the read and unread icons in the first column.
// A model rather than items: a channel may hold tens of thousands of clips.
class ClipListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    ClipListModel(QStringList headings, QObject* parent);

    void SetRows(std::vector<ClipRow> rows);
    void RemoveRowAt(int row);
    void SetRead(int row);
    void SetKeep(int row, bool keep);
    const ClipRow& row(int row) const { return rows_[static_cast<std::size_t>(row)]; }
    const std::vector<ClipRow>& rows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    QStringList headings_;
    std::vector<ClipRow> rows_;
    QIcon unread_;
    QIcon read_;
};

// The three counts both dialogs show, "%6d" each: clips, read, unread.
void ShowClipCounts(QLabel* const (&counts)[3], int total, int read);

// A report list of clips as both dialogs show it: whole rows selected, several at once,
// not editable, the clips' pale yellow, headings that do not sort.
void SetUpClipList(QTreeView* list, ClipListModel* model);

}  // namespace orvane
