// The record path dialog: the folder tree, opening on the record folder and storing the
// choice. (The main frame's command that runs it is with the frame's disk check.)
#include "store/record_path_dialog.h"
#include "store/settings.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
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
    QTreeWidgetItem* Volume(const RecordPathDialog& dialog) const {
        return dialog.tree()->topLevelItem(dialog.tree()->topLevelItemCount() - 1);
    }
    std::string StoredPath() const {
        return settings.GetProfileString(section::kKey, keyvalue::kRecPath, "<none>");
    }
};

TEST_F(RecordPathTest, OpensOnTheRecordFolderAndStoresTheChosenFolderWithItsSeparator) {
    settings.SetRecordPath((root + "/a/b").toStdString());
    auto dialog = Open({{"/", false}});
    QTreeWidgetItem* b = Child(Child(Volume(*dialog), "a"), "b");
    ASSERT_TRUE(b);
    EXPECT_EQ(dialog->tree()->currentItem(), b);
    EXPECT_EQ(dialog->pathText()->text(), root + "/a/b/");
    // Each folder along the way was listed, the chosen one too, but nothing below it.
    EXPECT_EQ(Names(b), QStringList{"c"});
    EXPECT_EQ(Child(b, "c")->childCount(), 0);
    EXPECT_EQ(dialog->tree()->topLevelItem(0)->childCount(), 0);  // nor "/", until opened

    // Cancel keeps the folder whatever was chosen.
    dialog->tree()->setCurrentItem(Child(Volume(*dialog), "z"));
    dialog->cancelButton()->click();
    EXPECT_EQ(StoredPath(), (root + "/a/b").toStdString());
    // A volume's root is stored with one separator, "/" too.
    for (const QString& top : {QString("/"), root + "/"}) {
        dialog = Open({{"/", false}});
        dialog->tree()->setCurrentItem(dialog->tree()->topLevelItem(top == "/" ? 0 : 1));
        dialog->okButton()->click();
        EXPECT_EQ(StoredPath(), top.toStdString());
    }
    // Kept outside the tree: the dialog opens with nothing chosen, and OK keeps the folder
    // rather than storing the text's template.
    const std::string kept = temp.File("kept") + "/";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(kept)));
    settings.SetRecordPath(kept);
    dialog = Open();
    EXPECT_EQ(dialog->tree()->currentItem(), nullptr);
    dialog->okButton()->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(StoredPath(), kept);

    // Components match in their exact case only, and a miss skips only that component.
    dialog->ExpandAlong(root + "/x/Rec/day/");
    QTreeWidgetItem* x = Child(Volume(*dialog), "x");
    EXPECT_EQ(dialog->tree()->currentItem(), x);
    dialog->ExpandAlong(root + "/x/Rec/rec/");
    EXPECT_EQ(dialog->tree()->currentItem(), Child(x, "rec"));
}

// Nor are devices and pipes folders, which a listing of "system" entries would offer; a link
// back into its own ancestry is not opened, and a folder that went away has nothing below.
TEST_F(RecordPathTest, AFolderThatHasGoneOpensAtItsParentAndLinksToNothingAreNoFolders) {
    ASSERT_TRUE(QFile::link(root + "/nowhere", root + "/x/broken"));
    ASSERT_TRUE(QFile::link("/dev/null", root + "/x/device"));
    ASSERT_EQ(mkfifo(QFile::encodeName(root + "/x/pipe").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(root + "/x", root + "/x/loop") && QDir(root).mkpath("x/gone/in"));
    settings.SetRecordPath((root + "/x/rec/removed/").toStdString());
    auto dialog = Open();
    QTreeWidgetItem* x = Child(Volume(*dialog), "x");
    ASSERT_TRUE(x);
    EXPECT_EQ(dialog->tree()->currentItem(), Child(x, "rec"));
    EXPECT_EQ(Names(x), (QStringList{"gone", "loop", "rec"}));
    ASSERT_TRUE(QDir(root + "/x/gone").removeRecursively());
    for (const char* name : {"loop", "gone"}) {
        Child(x, name)->setExpanded(true);
        EXPECT_EQ(Child(x, name)->childCount(), 0) << name;
    }
    dialog->tree()->setCurrentItem(Child(x, "gone"));
    dialog->okButton()->click();
    EXPECT_EQ(StoredPath(), (root + "/x/gone/").toStdString());
}

TEST_F(RecordPathTest, AFolderTooLongForTheClipIndexIsRefusedWithAReason) {
    const QString deep =
        root + "/" + QString(100, 'L') + "/" + QString(100, 'M') + "/" + QString(100, 'N');
    ASSERT_TRUE(QDir().mkpath(deep));
    settings.SetRecordPath((deep + "/").toStdString());
    auto chosen = Open();
    ASSERT_EQ(chosen->pathText()->text(), deep + "/");
    settings.SetRecordPath((root + "/a/").toStdString());
    chosen->okButton()->click();
    EXPECT_NE(chosen->result(), QDialog::Accepted);
    EXPECT_EQ(StoredPath(), (root + "/a/").toStdString());
    EXPECT_EQ(prompts.texts().size(), 1);
    EXPECT_TRUE(prompts.texts().value(0).contains("longer than 259 bytes"));
}

// Right lists a folder before the tree acts on the key, so the key opens it; only once.
TEST_F(RecordPathTest, FoldersAreListedOnceOnDemand) {
    settings.SetRecordPath(root.toStdString());
    auto dialog = Open();
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    QTreeWidget* tree = dialog->tree();
    QTreeWidgetItem* d = Child(Volume(*dialog), "d");
    ASSERT_TRUE(d);
    tree->setCurrentItem(d);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Right);
    EXPECT_EQ(Names(d), (QStringList{"one", "two"}));
    EXPECT_TRUE(d->isExpanded());
    ASSERT_TRUE(QDir(root).mkpath("d/three"));
    tree->setCurrentItem(d);
    QTest::keyClick(tree, Qt::Key_Right);
    EXPECT_EQ(Names(d), (QStringList{"one", "two"}));
}

}  // namespace
}  // namespace orvane
