#pragma once

#include "common/volumes.h"

#include <QDialog>

#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace orvane {

class Settings;

// Where the folder tree's roots come from: the machine's volumes in the program, made-up
// ones in tests.
using VolumeRootSource = std::function<std::vector<VolumeRoot>()>;

// "Setup video record path": a tree of the volumes and their folders, each folder listed the
// first time it is opened. It opens on the current record folder and on OK stores the folder
// shown as "RECPath".
class RecordPathDialog : public QDialog {
    Q_OBJECT
  public:
    // An empty source means the source set with SetDefaultRootSource.
    explicit RecordPathDialog(Settings& settings, QWidget* parent = nullptr,
                              VolumeRootSource roots = {});

    // The roots of every dialog built without its own source; an empty source restores the
    // machine's volumes. For tests that reach the dialog through the main frame.
    static void SetDefaultRootSource(VolumeRootSource source);

    QTreeWidget* tree() const { return tree_; }
    QLabel* pathText() const { return pathText_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    // Root path, then each folder's name, each followed by "/": "/home/op/" ("/" for "/").
    static QString FullPath(const QTreeWidgetItem* item);
    // Selects the items along folder as far as its components match the tree exactly,
    // listing each selected folder on the way; the dialog does this on opening.
    void ExpandAlong(const QString& folder);
    // Lists the subfolders of item unless that was done before.
    void LoadChildren(QTreeWidgetItem* item);

    void accept() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowSelected(QTreeWidgetItem* item);

    Settings& settings_;
    QTreeWidget* tree_ = nullptr;
    QLabel* pathText_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool pathChosen_ = false;
};

namespace recordpathtext {
inline constexpr const char* kTitle = "Setup video record path";
inline constexpr const char* kCurrentPath = "Current path:";
inline constexpr const char* kPathTemplate = "Path";
inline QString TooLong(std::size_t limit) {
    return QStringLiteral(
               "\n\n The folder's path is longer than %1 bytes: the clip index could not name "
               "clips recorded there. \n\n Please choose a folder with a shorter path. \n\n")
        .arg(limit);
}
}  // namespace recordpathtext

}  // namespace orvane
