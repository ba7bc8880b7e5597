#include "store/record_path_dialog.h"

#include "shared/prompt_service.h"
#include "store/clip_index.h"

#include "store/registry_layout.h"
#include "store/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace orvane {
namespace {

// Controls of the dialog, by the identifiers the program has always used.
constexpr int kTreeId = 1029;
constexpr int kPathTextId = 1081;
constexpr int kOkId = 1;
constexpr int kCancelId = 2;

// Marks an item whose subfolders have been listed, so they are listed once.
constexpr int kLoadedRole = Qt::UserRole;

const QColor kPathColour(255, 255, 0);
const QColor kPathBackground(128, 128, 128);

VolumeRootSource& DefaultRootSource() {
    static VolumeRootSource source;
    return source;
}

// The same folder is already open further up: a link back into its own ancestry would
// otherwise offer the same folders again at every level.
bool LoopsBack(const QTreeWidgetItem* item) {
    const QString self = QFileInfo(RecordPathDialog::FullPath(item)).canonicalFilePath();
    if (self.isEmpty()) {
        return false;
    }
    for (const QTreeWidgetItem* above = item->parent(); above; above = above->parent()) {
        if (QFileInfo(RecordPathDialog::FullPath(above)).canonicalFilePath() == self) {
            return true;
        }
    }
    return false;
}

}  // namespace

RecordPathDialog::RecordPathDialog(Settings& settings, QWidget* parent, VolumeRootSource roots)
    : QDialog(parent), settings_(settings) {
    setWindowTitle(recordpathtext::kTitle);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    tree_ = new QTreeWidget(this);
    tree_->setProperty("controlId", kTreeId);
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setUniformRowHeights(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    // The selection stays marked when the focus moves to the buttons.
    QPalette treeColours = tree_->palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        treeColours.setColor(QPalette::Inactive, role, treeColours.color(QPalette::Active, role));
    }
    tree_->setPalette(treeColours);
    const int charWidth = fontMetrics().averageCharWidth();
    tree_->setFixedSize(charWidth * 48, fontMetrics().height() * 16);
    tree_->installEventFilter(this);

    pathText_ = new QLabel(recordpathtext::kPathTemplate, this);
    pathText_->setProperty("controlId", kPathTextId);
    pathText_->setAutoFillBackground(true);
    QPalette pathColours = pathText_->palette();
    pathColours.setColor(QPalette::WindowText, kPathColour);
    pathColours.setColor(QPalette::Window, kPathBackground);
    pathText_->setPalette(pathColours);
    // A long path is cut rather than resizing the dialog.
    pathText_->setFixedWidth(tree_->width());
    pathText_->setTextFormat(Qt::PlainText);

    ok_ = new QPushButton(tr("&OK"), this);
    ok_->setProperty("controlId", kOkId);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &RecordPathDialog::accept);
    cancel_ = new QPushButton(tr("&Cancel"), this);
    cancel_->setProperty("controlId", kCancelId);
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &RecordPathDialog::reject);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(tree_);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(new QLabel(tr(recordpathtext::kCurrentPath), this));
    layout->addWidget(pathText_);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    if (!roots) {
        roots = DefaultRootSource() ? DefaultRootSource() : LocalRecordableRoots;
    }
    QList<QTreeWidgetItem*> rootItems;
    for (const VolumeRoot& root : roots()) {
        auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(root.rootPath)});
        item->setIcon(0, style()->standardIcon(root.network ? QStyle::SP_DriveNetIcon
                                                            : QStyle::SP_DriveHDIcon));
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        rootItems.append(item);
    }
    tree_->addTopLevelItems(rootItems);

    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { ShowSelected(current); });
    connect(tree_, &QTreeWidget::itemExpanded, this, &RecordPathDialog::LoadChildren);
    connect(tree_, &QTreeWidget::itemDoubleClicked, this,
            [this] { LoadChildren(tree_->currentItem()); });

    // Along the folder as stored: one that has gone opens at its nearest parent still there,
    // not at the working directory the recorder would fall back to.
    const std::string stored = settings_.GetProfileString(section::kKey, keyvalue::kRecPath, "");
    ExpandAlong(QString::fromStdString(
        QDir::isAbsolutePath(QString::fromStdString(stored)) ? stored : settings_.GetRecordPath()));
}

void RecordPathDialog::SetDefaultRootSource(VolumeRootSource source) {
    DefaultRootSource() = std::move(source);
}

QString RecordPathDialog::FullPath(const QTreeWidgetItem* item) {
    QStringList names;
    for (; item; item = item->parent()) {
        names.prepend(item->text(0));
    }
    QString path;
    for (const QString& name : names) {
        path += name;
        if (!path.endsWith('/')) {
            path += '/';
        }
    }
    return path;
}

void RecordPathDialog::ExpandAlong(const QString& folder) {
    QString path = folder.isEmpty() ? QDir::currentPath() : folder;
    if (!path.endsWith('/')) {
        path += '/';
    }
    std::vector<VolumeRoot> roots;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        roots.push_back({tree_->topLevelItem(i)->text(0).toStdString(), false});
    }
    const int rootIndex = RootHolding(roots, path.toStdString());
    if (rootIndex < 0) {
        return;
    }
    QTreeWidgetItem* selected = tree_->topLevelItem(rootIndex);
    tree_->setCurrentItem(selected);
    LoadChildren(selected);
    const QStringList components =
        path.mid(tree_->topLevelItem(rootIndex)->text(0).size()).split('/', Qt::SkipEmptyParts);
    for (const QString& component : components) {
        // A component that matches nothing is passed over: the next one is looked for below
        // the same item.
        for (int i = 0; i < selected->childCount(); ++i) {
            QTreeWidgetItem* child = selected->child(i);
            if (child->text(0) == component) {
                selected = child;
                tree_->setCurrentItem(selected);
                LoadChildren(selected);
                break;
            }
        }
    }
    for (QTreeWidgetItem* above = selected->parent(); above; above = above->parent()) {
        above->setExpanded(true);
    }
    tree_->scrollToItem(selected);
}

void RecordPathDialog::LoadChildren(QTreeWidgetItem* item) {
    if (!item || item->data(0, kLoadedRole).toBool()) {
        return;
    }
    item->setData(0, kLoadedRole, true);
    QList<QTreeWidgetItem*> children;
    if (!LoopsBack(item)) {
        // A folder that has gone, or cannot be read, simply has nothing below it. Unsorted:
        // the order the file system gives, and no sorting of a huge folder.
        const QFileInfoList entries =
            QDir(FullPath(item))
                // Directories only: "system" entries here are devices, sockets and broken
                // links, none of which can hold a recording. By name, as an operator looks
                // for a folder.
                .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                               QDir::Name | QDir::IgnoreCase);
        const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
        children.reserve(entries.size());
        for (const QFileInfo& entry : entries) {
            // The listing lets a link to a device through with the directories.
            if (!entry.isDir()) {
                continue;
            }
            auto* child = new QTreeWidgetItem(QStringList{entry.fileName()});
            child->setIcon(0, folderIcon);
            // Offered as openable before anything is known of its contents.
            child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
            children.append(child);
        }
    }
    if (children.isEmpty()) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        return;
    }
    item->addChildren(children);
}

void RecordPathDialog::ShowSelected(QTreeWidgetItem* item) {
    if (!item) {
        return;
    }
    pathChosen_ = true;
    pathText_->setText(FullPath(item));
}

void RecordPathDialog::accept() {
    // The text still holds its template: storing it would move recordings into a folder
    // named after it.
    if (!pathChosen_) {
        QDialog::accept();
        return;
    }
    QString path = pathText_->text();
    if (path.isEmpty()) {
        path = QDir::currentPath();
    }
    if (!path.endsWith('/')) {
        path += '/';
    }
    // The clip index could not name clips there: every one would be lost to the browser.
    if (path.toStdString().size() > ClipIndex::kMaxTextBytes) {
        PromptService::Show(this, recordpathtext::TooLong(ClipIndex::kMaxTextBytes),
                            PromptButtons::Ok, PromptIcon::Exclamation);
        return;
    }
    settings_.SetRecordPath(path.toStdString());
    QDialog::accept();
}

bool RecordPathDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tree_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Right) {
        // Listed before the tree acts on the key, so the key opens the folder it lists.
        LoadChildren(tree_->currentItem());
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace orvane
