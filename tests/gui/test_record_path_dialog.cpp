// The record path dialog: the folder tree, opening on the record folder, storing the choice,
// and the main frame's command that runs it.
#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "shared/command_ids.h"
#include "store/record_path_dialog.h"
#include "store/settings.h"
#include "support/event_loop.h"
#include "support/modal_script.h"
#include "support/scoped_env.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>

namespace orvane {
namespace {

QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& name) {
    for (int i = 0; item && i < item->childCount(); ++i) {
        if (item->child(i)->text(0) == name) {
            return item->child(i);
        }
    }
    return nullptr;
}

QStringList Names(const QTreeWidgetItem* item) {
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i) {
        names << item->child(i)->text(0);
    }
    names.sort();
    return names;
}

class RecordPathTest : public testing::Test {
  protected:
    test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    test::ScriptedPrompts prompts;
    QTemporaryDir disk;  // the volume the tree shows, apart from the store's folder
    QString root = disk.path();

    void SetUp() override {
        ASSERT_TRUE(disk.isValid());
        for (const char* folder : {"a/b/c", "a/other", "x/rec/day", "z", "d/one", "d/two"}) {
            ASSERT_TRUE(QDir(root).mkpath(folder));
        }
    }
    std::unique_ptr<RecordPathDialog> Open(std::vector<VolumeRoot> extra = {}) {
        extra.push_back({root.toStdString(), false});
        return std::make_unique<RecordPathDialog>(settings, nullptr, [extra] { return extra; });
    }
    std::string StoredPath() const {
        return settings.GetProfileString(section::kKey, keyvalue::kRecPath, "<none>");
    }
};

TEST_F(RecordPathTest, OpensOnTheRecordFolderAndStoresTheChosenFolderWithItsSeparator) {
    settings.SetRecordPath((root + "/a/b").toStdString());
    auto dialog = Open({{"/", false}});
    QTreeWidget* tree = dialog->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* volume = tree->topLevelItem(1);
    QTreeWidgetItem* b = Child(Child(volume, "a"), "b");
    ASSERT_TRUE(b);
    EXPECT_EQ(tree->currentItem(), b);
    EXPECT_EQ(dialog->pathText()->text(), root + "/a/b/");
    // Each folder along the way was listed, the chosen one too, but nothing below it.
    EXPECT_EQ(Names(volume), (QStringList{"a", "d", "x", "z"}));
    EXPECT_EQ(Names(b), QStringList{"c"});
    EXPECT_EQ(Child(b, "c")->childCount(), 0);
    EXPECT_EQ(Child(b, "c")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_TRUE(volume->isExpanded() && Child(volume, "a")->isExpanded());
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 0);  // "/" is not listed until opened

    // Cancel keeps the folder whatever was chosen.
    tree->setCurrentItem(Child(volume, "z"));
    EXPECT_EQ(dialog->pathText()->text(), root + "/z/");
    dialog->cancelButton()->click();
    EXPECT_EQ(StoredPath(), (root + "/a/b").toStdString());

    dialog = Open({{"/", false}});
    dialog->tree()->setCurrentItem(dialog->tree()->topLevelItem(0));
    EXPECT_EQ(dialog->pathText()->text(), "/");
    dialog->okButton()->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(StoredPath(), "/");

    dialog = Open();
    dialog->tree()->setCurrentItem(dialog->tree()->topLevelItem(0));
    dialog->okButton()->click();
    EXPECT_EQ(StoredPath(), (root + "/").toStdString());
    EXPECT_TRUE(prompts.texts().isEmpty());
}

// Kept outside the tree: the dialog opens with nothing selected, and OK keeps the folder.
TEST_F(RecordPathTest, ComponentsMatchOnlyInTheirExactCaseAndAMissOnlySkipsThatComponent) {
    const std::string kept = temp.File("kept") + "/";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(kept)));
    settings.SetRecordPath(kept);
    auto dialog = Open();
    EXPECT_EQ(dialog->tree()->currentItem(), nullptr);
    ASSERT_EQ(dialog->pathText()->text(), "Path");
    dialog->okButton()->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(StoredPath(), kept);

    dialog = Open();
    dialog->ExpandAlong(root + "/x/Rec/day/");
    QTreeWidgetItem* x = Child(dialog->tree()->topLevelItem(0), "x");
    EXPECT_EQ(dialog->tree()->currentItem(), x);
    EXPECT_EQ(Names(x), QStringList{"rec"});
    // The component after a miss is still looked for below the last match.
    dialog->ExpandAlong(root + "/x/Rec/rec/");
    EXPECT_EQ(dialog->tree()->currentItem(), Child(x, "rec"));
    EXPECT_EQ(dialog->pathText()->text(), root + "/x/rec/");
}

TEST_F(RecordPathTest, AFolderThatHasGoneOpensAtItsParentAndLinksToNothingAreNoFolders) {
    ASSERT_TRUE(QFile::link(root + "/nowhere", root + "/x/broken"));
    // Nor are devices and pipes, which a listing of "system" entries would offer.
    ASSERT_TRUE(QFile::link("/dev/null", root + "/x/device"));
    ASSERT_EQ(mkfifo(QFile::encodeName(root + "/x/pipe").constData(), 0600), 0);
    settings.SetRecordPath((root + "/x/rec/removed/").toStdString());
    auto dialog = Open();
    QTreeWidgetItem* rec = Child(Child(dialog->tree()->topLevelItem(0), "x"), "rec");
    ASSERT_TRUE(rec);
    EXPECT_EQ(dialog->tree()->currentItem(), rec);
    EXPECT_EQ(Names(Child(dialog->tree()->topLevelItem(0), "x")), QStringList{"rec"});
}

TEST_F(RecordPathTest, AFolderTooLongForTheClipIndexIsRefusedWithAReason) {
    const QString deep =
        root + "/" + QString(100, 'L') + "/" + QString(100, 'M') + "/" + QString(100, 'N');
    ASSERT_TRUE(QDir().mkpath(deep));
    settings.SetRecordPath((deep + "/").toStdString());
    auto chosen = Open();
    QTreeWidgetItem* item = chosen->tree()->currentItem();
    ASSERT_TRUE(item && item->parent());
    chosen->tree()->setCurrentItem(item->parent());
    chosen->tree()->setCurrentItem(item);
    ASSERT_EQ(chosen->pathText()->text(), deep + "/");
    settings.SetRecordPath((root + "/a/").toStdString());
    chosen->okButton()->click();
    EXPECT_NE(chosen->result(), QDialog::Accepted);
    EXPECT_EQ(StoredPath(), (root + "/a/").toStdString());
    ASSERT_EQ(prompts.texts().size(), 1);
    EXPECT_TRUE(prompts.texts()[0].contains("longer than 259 bytes"));
}

TEST_F(RecordPathTest, FoldersAreListedOnceOnDemandAndAFolderThatWentAwayHasNothingBelow) {
    ASSERT_TRUE(QDir(root).mkpath("gone/inner"));
    ASSERT_TRUE(QFile::link(root + "/a", root + "/a/loop"));
    settings.SetRecordPath(root.toStdString());
    auto dialog = Open();
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    QTreeWidget* tree = dialog->tree();
    QTreeWidgetItem* volume = tree->topLevelItem(0);
    ASSERT_EQ(tree->currentItem(), volume);
    QTreeWidgetItem* d = Child(volume, "d");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->childCount(), 0);

    tree->setCurrentItem(d);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Right);
    EXPECT_EQ(Names(d), (QStringList{"one", "two"}));
    EXPECT_TRUE(d->isExpanded());
    ASSERT_TRUE(QDir(root).mkpath("d/three"));  // a second listing would show it
    tree->setCurrentItem(d);
    QTest::keyClick(tree, Qt::Key_Right);
    EXPECT_EQ(Names(d), (QStringList{"one", "two"}));

    // Double click lists the folder too.
    QTreeWidgetItem* z = Child(volume, "z");
    ASSERT_TRUE(QDir(root).mkpath("z/inside"));
    tree->scrollToItem(z);
    const QPoint at = tree->visualItemRect(z).center();
    QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, at);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, at, tree->viewport()->mapToGlobal(at),
                            Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(tree->viewport(), &doubleClick);
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(tree->currentItem(), z);
    EXPECT_EQ(Names(z), QStringList{"inside"});

    // A link listed beside the folders, but not opened back into its own ancestry.
    QTreeWidgetItem* a = Child(volume, "a");
    a->setExpanded(true);
    QTreeWidgetItem* loop = Child(a, "loop");
    ASSERT_TRUE(loop);
    loop->setExpanded(true);
    EXPECT_EQ(loop->childCount(), 0);

    QTreeWidgetItem* gone = Child(volume, "gone");
    ASSERT_TRUE(gone);
    ASSERT_TRUE(QDir(root + "/gone").removeRecursively());
    gone->setExpanded(true);
    EXPECT_EQ(gone->childCount(), 0);
    tree->setCurrentItem(gone);
    dialog->okButton()->click();
    EXPECT_EQ(StoredPath(), (root + "/gone/").toStdString());
    EXPECT_TRUE(prompts.texts().isEmpty());
}

TEST(RecordPathFrame, TheCommandStoresTheFolderAndThePaneNamesItsVolumeAtOnce) {
    test::TempStore temp;
    test::ScopedEnv config{"XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File("config"))};
    test::ScriptedPrompts prompts;
    test::PrepareSiteStore(temp.path(), 1);
    const QString disk = QString::fromStdString(temp.File("disk"));
    ASSERT_TRUE(QDir().mkpath(disk + "/old") && QDir().mkpath(disk + "/new"));
    RecordPathDialog::SetDefaultRootSource([&] {
        return std::vector<VolumeRoot>{{disk.toStdString(), false}};
    });
    ViewerApp app;
    ASSERT_EQ(app.InitInstance({"orvane", "/Embedding"}), ViewerApp::StartResult::Started);
    app.settings().SetRecordPath((disk + "/old/").toStdString());
    MainFrame* frame = app.mainFrame();
    frame->SetFreeSpaceSource([&](const std::string& path) {
        const QString folder = QString::fromStdString(path);
        return folder.startsWith(disk + "/videos/") ? FreeSpace{999, "/mnt/home"}
               : folder.startsWith(disk + "/new")   ? FreeSpace{321, "/mnt/new"}
                                                    : FreeSpace{123, "/mnt/old"};
    });
    const auto settle = [&] {
        EXPECT_TRUE(test::WaitUntil([&] { return frame->housekeeper().pending() == 0; }));
    };
    frame->UpdateDiskStatus();
    settle();
    auto* diskPane = frame->findChild<QLabel*>("diskPane");
    ASSERT_TRUE(diskPane);
    for (const bool ok : {false, true}) {
        test::ModalScript script;
        script.Then<RecordPathDialog>([&](RecordPathDialog* dialog) {
            EXPECT_EQ(dialog->parentWidget(), frame);
            EXPECT_EQ(dialog->pathText()->text(), disk + "/old/");
            dialog->tree()->setCurrentItem(Child(dialog->tree()->topLevelItem(0), "new"));
            ok ? dialog->okButton()->click() : dialog->cancelButton()->click();
        });
        EXPECT_EQ(diskPane->text(), "123 MB Free on /mnt/old");
        frame->RunCommand(cmd::kSetupRecordPath);
        EXPECT_TRUE(script.finished());
        settle();
    }
    EXPECT_EQ(app.GetRecordPath(), (disk + "/new/").toStdString());
    EXPECT_EQ(diskPane->text(), "321 MB Free on /mnt/new");

    // Its volume goes: the pane follows the default folder clips go to now, and the status
    // line says why (when the folder is remade or told again is the settings' rule).
    app.settings().SetDefaultRecordFolder((disk + "/videos/Orvane").toStdString());
    ASSERT_TRUE(QDir(disk + "/new").removeRecursively());
    frame->DiskTick();
    settle();
    EXPECT_EQ(diskPane->text(), "999 MB Free on /mnt/home");
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(disk + "/new/ is missing"));
    EXPECT_EQ(frame->recordPath(), disk + "/videos/Orvane/");
    frame->close();
    RecordPathDialog::SetDefaultRootSource({});
}

}  // namespace
}  // namespace orvane
