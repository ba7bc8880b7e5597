#pragma once

#include "playback/clip_groups.h"
#include "playback/clip_player_factory.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QTimeEdit;
class QTreeView;

namespace orvane {

class ClipIndex;

// "Search video clips": the clips of one channel, or of all, whose start lies after and/or
// before a chosen moment, taken from the browser's groups rather than the index. Plays the
// picked clips, marking them read in the groups and in the index; the players belong to this
// dialog.
class ClipSearchDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kMaxPlayers = 6;

    ClipSearchDialog(ClipGroups& groups, ClipIndex& index, ClipPlayerFactory openPlayer,
                     QWidget* parent = nullptr);

    QComboBox* channelList() const { return channels_; }
    QCheckBox* afterCheck() const { return afterCheck_; }
    QCheckBox* beforeCheck() const { return beforeCheck_; }
    QDateEdit* afterDate() const { return afterDate_; }
    QTimeEdit* afterTime() const { return afterTime_; }
    QDateEdit* beforeDate() const { return beforeDate_; }
    QTimeEdit* beforeTime() const { return beforeTime_; }
    QTreeView* resultList() const { return list_; }
    ClipListModel* resultModel() const { return model_; }
    int total() const { return total_; }
    int read() const { return read_; }
    // The three count texts: clips listed, read, unread.
    QString countText(int which) const;

    void Search();
    void PlaySelected();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ApplyChecks();
    void ListGroup(const ClipGroup& group, bool withChannel, std::vector<ClipRow>& rows);
    void UpdateCounts();

    ClipGroups& groups_;
    ClipIndex& index_;
    ClipPlayerFactory openPlayer_;
    QComboBox* channels_ = nullptr;
    QCheckBox* afterCheck_ = nullptr;
    QCheckBox* beforeCheck_ = nullptr;
    QDateEdit* afterDate_ = nullptr;
    QTimeEdit* afterTime_ = nullptr;
    QDateEdit* beforeDate_ = nullptr;
    QTimeEdit* beforeTime_ = nullptr;
    QTreeView* list_ = nullptr;
    ClipListModel* model_ = nullptr;
    QLabel* counts_[3] = {};
    int total_ = 0;
    int read_ = 0;
    bool afterEnabled_ = false;
    bool beforeEnabled_ = false;
};

namespace searchtext {
inline constexpr const char* kTitle = "Search video clips";
inline constexpr const char* kAllChannels = "All video channel";
inline constexpr const char* kInvertedRange =
    "\n\n \"After\" is later than \"Before\": no clip can start between them. \n\n";
}  // namespace searchtext

}  // namespace orvane
