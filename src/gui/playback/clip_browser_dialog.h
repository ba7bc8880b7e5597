#pragma once

#include "playback/clip_groups.h"
#include "playback/clip_player_factory.h"

#include <QDialog>
#include <QFrame>
#include <QImage>
#include <QPointer>
#include <QSet>

#include <cstdint>
#include <span>
#include <vector>

class QLabel;
class QPushButton;
class QTreeView;
class QTreeWidget;

namespace orvane {

class ClipHousekeeper;
class ClipIndex;
struct ClipRemoval;

// The first frame of the selected clip, stretched over a cross that shows through when there
// is no picture.
class ClipPreviewFrame : public QFrame {
    Q_OBJECT
  public:
    explicit ClipPreviewFrame(QWidget* parent);
    void SetPicture(QImage picture);
    const QImage& picture() const { return picture_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage picture_;
};

// "Video clips": the clip index read once and grouped by channel, the channels in a tree and
// the clips of the selected one in a list, newest first, with a preview of the selected clip.
// Plays, deletes (files and entries) and searches the clips, and marks clips to be kept.
// Deleting runs off the GUI thread: the rows go at once, and a clip whose file could not be
// removed comes back with its entry, the operator told which file stayed. Players belong to
// the dialog.
class ClipBrowserDialog : public QDialog {
    Q_OBJECT
  public:
    // The preview file of a clip is read into a buffer of this size; anything beyond is cut.
    static constexpr std::size_t kPreviewBufferSize = 307200;
    // Players opened by one Play, however many rows are selected.
    static constexpr int kMaxPlayers = 6;

    ClipBrowserDialog(ClipIndex& index, ClipHousekeeper& housekeeper, ClipPlayerFactory openPlayer,
                      QWidget* parent = nullptr);
    ~ClipBrowserDialog() override;

    ClipGroups& groups() { return groups_; }
    QTreeWidget* channelTree() const { return tree_; }
    QTreeView* clipList() const { return list_; }
    ClipListModel* clipModel() const { return model_; }
    int total() const { return total_; }
    int read() const { return read_; }
    // The three count texts: all clips, read, unread.
    QString countText(int which) const;
    ClipPreviewFrame* previewFrame() const { return preview_; }
    // How many bytes of the last opened preview file were read.
    std::size_t previewLength() const { return previewLength_; }
    bool previewValid() const { return previewValid_; }

    // Selects the tree item of the key (none when empty), as a click on it would.
    void SelectChannel(const QString& key);
    void PlaySelected();
    void DeleteSelected();
    void DeleteChannelClips();
    void OpenSearch();
    // The context menu's "Keep": marks (or unmarks) the selected clips.
    void KeepSelected(bool keep);
    // The context menu's "Export...": the selected clips, or the selected channel's clips
    // between two times.
    void ExportSelected();
    // Clips whose deletion has not come back yet.
    int deleting() const { return deleting_; }
    // Below the list: how a deletion goes, and which file it could not remove.
    QString noticeText() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void LoadGroups();
    void FillClipList(const QString& key);
    void UpdateCounts();
    void ShowPreview();
    // The preview of a clip that is gone goes with it; the first selected clip's follows.
    void ForgetPreviewOf(const QSet<QString>& goneKeys);
    QString SelectedChannelKey() const;
    std::vector<int> SelectedRows() const;
    int FirstSelectedRow() const;
    void DeleteRows(const std::vector<ClipRow>& rows, const QString& key);
    void DeletionDone(const std::vector<ClipRemoval>& removals, const QString& key);
    // Clips deleted elsewhere (old clips making room) leave the groups and the list.
    void ForgetDeleted(const std::vector<ClipRemoval>& removals);
    void ShowListMenu(const QPoint& at);

    ClipIndex& index_;
    ClipHousekeeper& housekeeper_;
    ClipPlayerFactory openPlayer_;
    // The players this browser opened, with the clip each shows.
    std::vector<std::pair<QPointer<QWidget>, QString>> players_;
    ClipGroups groups_;
    QTreeWidget* tree_ = nullptr;
    QTreeView* list_ = nullptr;
    ClipListModel* model_ = nullptr;
    ClipPreviewFrame* preview_ = nullptr;
    QLabel* counts_[3] = {};
    QLabel* notice_ = nullptr;
    int deleting_ = 0;
    int total_ = 0;
    int read_ = 0;
    QString lastPreviewName_;
    QString previewKey_;  // the entry of the clip the preview shows
    std::vector<std::uint8_t> previewBuffer_;
    std::size_t previewLength_ = 0;
    bool previewValid_ = true;
};

namespace browsertext {
inline constexpr const char* kTitle = "Video clips";
inline constexpr const char* kDeleteQuestion = "\n\n Delete select item(s) ? \n\n";
inline constexpr const char* kKeep = "Keep";
inline QString Deleting(std::size_t done, std::size_t total) {
    return QStringLiteral("Deleting clips: %1 of %2").arg(done).arg(total);
}
// A clip file that could not be removed: its entry stays.
inline QString NotDeleted(const QString& file, const QString& reason, std::size_t more) {
    QString text = QStringLiteral("Could not delete %1 (%2)").arg(file, reason);
    if (more > 0) {
        text += QStringLiteral(" and %1 more").arg(more);
    }
    return text + QStringLiteral("; the clip is kept in the list.");
}
}  // namespace browsertext

}  // namespace orvane
