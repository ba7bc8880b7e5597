// The clip browser and the clip search dialog: grouping, lists and counts, playing, deleting
// (files and index entries), the preview, and the search bounds.
#include "media/decoded_picture.h"
#include "playback/clip_browser_dialog.h"
#include "playback/clip_search_dialog.h"
#include "store/clip_removal.h"
#include "store/clips_in_use.h"
#include "store/registry_layout.h"
#include "support/event_loop.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimeEdit>
#include <QTreeView>
#include <QTreeWidget>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

namespace orvane {
namespace {

// A preview file: a packed 24-bit picture of one colour.
std::string Preview(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    const Block dib = ToPackedDib24(image);
    return {dib.begin(), dib.end()};
}

QStringList Column(const QAbstractItemModel& model, int column) {
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row) {
        texts << model.index(row, column).data().toString();
    }
    return texts;
}

// The total, read and unread counts under the list.
template <typename Dialog>
QStringList Counts(const Dialog& dialog) {
    return {dialog.countText(0), dialog.countText(1), dialog.countText(2)};
}

void SelectRows(QTreeView* view, int first, int last) {
    const QAbstractItemModel* model = view->model();
    view->selectionModel()->select(QItemSelection(model->index(first, 0), model->index(last, 0)),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// An index entry as the recorder writes it; Add() makes the file name from the start when it
// is empty.
struct Clip {
    std::int32_t channel = 3;
    QString location = "Gate";
    QString date = "2002/12/03";
    QString start = "10:00";
    QString end = "10:05";
    bool open = false;
    bool files = true;  // write the clip and its preview
    QString fileName = {};
};

class ClipBrowserTest : public testing::Test {
  protected:
    ClipBrowserTest() { QDir().mkpath(folder_); }

    // Writes an index entry (and, when asked, its clip and preview files); its file name.
    QString Add(Clip clip) {
        if (clip.fileName.isEmpty()) {
            clip.fileName = QString(clip.date).remove('/') + QString(clip.start).remove(':') +
                            QString::asprintf("%02d%04d.avi", serial_++ % 60, clip.channel);
        }
        location_ = clip.location;
        const ClipRecord record{clip.fileName,
                                clip.open ? 1u : 0u,
                                clip.channel,
                                QString(),
                                clip.date,
                                clip.start,
                                clip.date,
                                clip.end,
                                ImageNameOf(clip.fileName),
                                folder_};
        EXPECT_TRUE(writer_.AddClipRecord(record));
        if (clip.files) {
            test::WriteFileBytes(Path(clip.fileName), "RIFF clip");
            test::WriteFileBytes(Path(record.imageName), Preview(32, 24, qRgb(200, 40, 10)));
        }
        return clip.fileName;
    }

    std::string Path(const QString& name) const { return (folder_ + name).toStdString(); }
    bool Exists(const QString& name) const { return QFileInfo::exists(folder_ + name); }

    std::vector<ClipRecord> Entries() const {
        std::vector<ClipRecord> records;
        index_.LoadClipRecords(records);
        return records;
    }
    std::optional<ClipRecord> Entry(const QString& fileName) const {
        const std::vector<ClipRecord> records = Entries();
        const auto found = std::ranges::find(records, fileName, &ClipRecord::key);
        return found == records.end() ? std::nullopt : std::optional(*found);
    }

    // Players are windows of their own, owned by the browser; the clips played, in order.
    ClipPlayerFactory Players() {
        return [this](const ClipRecord& clip, QWidget* owner) {
            played_ << clip.fileName;
            auto* player = new QWidget(owner, Qt::Window);
            player->show();
            players_[clip.fileName] = player;
            return player;
        };
    }
    std::unique_ptr<ClipBrowserDialog> Open(const QString& channel = "0003 Gate") {
        auto dialog = std::make_unique<ClipBrowserDialog>(index_, housekeeper_, Players());
        if (!channel.isEmpty()) {
            dialog->SelectChannel(channel);
        }
        return dialog;
    }
    // Until the deletions under way have come back.
    void Settle() {
        EXPECT_TRUE(test::WaitUntil([&] { return housekeeper_.pending() == 0; }));
    }

    test::TempStore temp_;
    KeyStore store_{std::move(*KeyStore::Open(temp_.path()).store)};
    QString location_;
    ClipIndex writer_{store_, [this](std::int32_t) { return location_; }};
    ClipIndex index_{store_, {}};
    ClipHousekeeper housekeeper_{store_};
    QString folder_ = QString::fromStdString(temp_.folder()) + "/clips/";
    test::ScriptedPrompts prompts_;
    QStringList played_;
    std::map<QString, QPointer<QWidget>> players_;
    int serial_ = 0;
};

// Channels by number and location; a channel's clips newest first, with their counts; the
// list's menu marks the selected clips to keep, shown in the list and stored in the index.
TEST_F(ClipBrowserTest, GroupsByNumberAndLocationAndListsAChannelsClipsNewestFirstWithCounts) {
    Add(Clip{.location = "Yard", .start = "08:00"});
    Add(Clip{.channel = 1, .location = "Door", .start = "08:00"});
    const QString nine = Add(Clip{.start = "09:00"});
    const QString eleven = Add(Clip{.start = "11:00", .open = true});
    const QString ten = Add(Clip{.start = "10:00"});
    auto dialog = Open("");
    EXPECT_EQ(Column(*dialog->channelTree()->model(), 0),
              QStringList({"0001 Door", "0003 Gate", "0003 Yard"}));
    dialog->SelectChannel("0003 Gate");
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({eleven, ten, nine}));
    EXPECT_EQ(Counts(*dialog), QStringList({"     3", "     1", "     2"}));

    SelectRows(dialog->clipList(), 2, 2);
    emit dialog->clipList()->customContextMenuRequested(QPoint(4, 4));
    auto* menu = dialog->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    menu->actions()[0]->trigger();
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({eleven, ten, nine + "  (Keep)"}));
    EXPECT_EQ(Entry(nine)->keep, 1u);
    EXPECT_EQ(Entry(ten)->keep, 0u);
}

// At most six players at once, each of a clip marked read, owned by the browser; a player
// closes with the browser or when its clip is deleted (it holds the file open), and only then.
TEST_F(ClipBrowserTest, PlayingOpensSixPlayersForTheTopSixAndDeletingAClipClosesItsPlayer) {
    QStringList names;
    for (int minute = 0; minute < 8; ++minute) {
        names << Add(Clip{.start = QString::asprintf("10:%02d", minute)});
    }
    std::sort(names.begin(), names.end(), std::greater<>());
    auto dialog = Open();
    SelectRows(dialog->clipList(), 0, 7);
    dialog->PlaySelected();
    EXPECT_EQ(played_, names.mid(0, 6));
    EXPECT_TRUE(Entry(names[5])->open && !Entry(names[6])->open);

    // A double click plays too; clips already read count nothing new.
    played_.clear();
    QTest::mouseDClick(dialog->clipList()->viewport(), Qt::LeftButton);
    EXPECT_EQ(played_, names.mid(0, 6));
    EXPECT_EQ(Counts(*dialog), QStringList({"     8", "     6", "     2"}));

    // A right double click deletes after the question: files, entry, row and player.
    SelectRows(dialog->clipList(), 0, 0);
    prompts_.Queue(PromptAnswer::Cancel);
    QTest::mouseDClick(dialog->clipList()->viewport(), Qt::RightButton);
    EXPECT_TRUE(Entry(names[0]) && Exists(names[0]) && players_[names[0]]->isVisible());
    QTest::mouseDClick(dialog->clipList()->viewport(), Qt::RightButton);
    Settle();
    EXPECT_FALSE(Entry(names[0]) || Exists(names[0]) || Exists(ImageNameOf(names[0])));
    EXPECT_EQ(Column(*dialog->clipModel(), 0), names.mid(1));
    EXPECT_EQ(Counts(*dialog), QStringList({"     7", "     5", "     2"}));
    EXPECT_FALSE(players_[names[0]]->isVisible());
    EXPECT_TRUE(players_[names[1]]->isVisible());

    dialog->clipList()->clearSelection();
    dialog->DeleteSelected();  // nothing selected: nothing asked
    EXPECT_EQ(prompts_.shown().size(), 2u);
    dialog.reset();
    EXPECT_EQ(players_[names[7]], nullptr);
}

// Where the disk work of a deletion runs: the GUI thread never waits for it.
std::thread::id guiThread;
std::atomic<int> commits, commitsOnGui, unlinksOnGui;
void CountCommit() {
    ++commits;
    commitsOnGui += std::this_thread::get_id() == guiThread ? 1 : 0;
}
void CountUnlink() {
    unlinksOnGui += std::this_thread::get_id() == guiThread ? 1 : 0;
}

// A channel's clips go after one question, in one commit, off the GUI thread, and only their
// own files: never a directory carrying a clip's or a preview's name (nor, for a name without
// ".", the folder itself as the preview), nor a file outside the folder that another tool's
// entry names. A file that cannot be removed (here under a regular file, which root is refused
// too) keeps its entry and its row, and the operator is told which; an entry without a file
// name goes without anything unlinked; a clip whose file is gone still plays and goes.
TEST_F(ClipBrowserTest, DeletingAChannelIsOneCommitOffTheGuiThreadAndUnlinksOnlyClipFiles) {
    const QString blocked = Add(Clip{.start = "09:00", .files = false});
    const QString nameless = Add(Clip{.start = "10:00"});
    const QString plain = Add(Clip{.start = "11:00"});
    const QString gone = Add(Clip{.start = "12:00", .files = false});
    const QString bare = Add(Clip{.start = "08:00", .fileName = "20021203080000000003"});
    const QString named = Add(Clip{.start = "07:00", .files = false});
    ASSERT_TRUE(QDir().mkpath(folder_ + named) && QDir().mkpath(folder_ + ImageNameOf(named)));
    test::WriteFileBytes(Path("../outside.avi"), "kept");
    Add(Clip{.start = "06:00", .files = false, .fileName = "../outside.avi"});
    const QString other = Add(Clip{.channel = 5, .location = "Dock"});
    test::WriteFileBytes(Path("not-a-folder"), "x");
    const RegKey root = store_.OpenKey(KeyStore::kRoot, kClipIndexKeyPath).value;
    ASSERT_EQ(store_.SetString(store_.OpenKey(root, blocked.toStdString()).value, "Path",
                               (folder_ + "not-a-folder/").toStdString()),
              StoreStatus::Ok);
    ASSERT_EQ(store_.DeleteValue(store_.OpenKey(root, nameless.toStdString()).value, "FileName"),
              StoreStatus::Ok);
    auto dialog = Open("");
    dialog->DeleteChannelClips();  // no channel selected: nothing asked
    dialog->SelectChannel("0003 Gate");
    SelectRows(dialog->clipList(), 0, 0);
    dialog->PlaySelected();
    EXPECT_EQ(played_, QStringList({gone}));
    prompts_.Queue(PromptAnswer::Cancel);
    dialog->DeleteChannelClips();
    Settle();
    EXPECT_EQ(Entries().size(), 8u);

    guiThread = std::this_thread::get_id();
    SetStoreCommitObserver(&CountCommit);
    SetClipUnlinkObserver(&CountUnlink);
    dialog->DeleteChannelClips();
    EXPECT_EQ(dialog->clipModel()->rowCount(), 0);  // at once, before the disk work is done
    Settle();
    SetStoreCommitObserver(nullptr);
    SetClipUnlinkObserver(nullptr);
    EXPECT_EQ(commitsOnGui, 0);
    EXPECT_EQ(unlinksOnGui, 0);
    EXPECT_EQ(commits, 1);
    EXPECT_EQ(prompts_.shown().size(), 2u);
    EXPECT_EQ(Entries().size(), 2u);
    ASSERT_TRUE(Entry(blocked) && Entry(other));
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({blocked}));
    EXPECT_FALSE(Exists(plain) || Exists(bare));
    EXPECT_TRUE(Exists(nameless));  // an entry without a file name unlinks nothing
    EXPECT_TRUE(QFileInfo(folder_).isDir());
    EXPECT_TRUE(QFileInfo(folder_ + named).isDir());
    EXPECT_TRUE(QFileInfo(folder_ + ImageNameOf(named)).isDir());
    EXPECT_TRUE(Exists("../outside.avi"));
    EXPECT_TRUE(
        dialog->noticeText().startsWith("Could not delete " + folder_ + "not-a-folder/" + blocked))
        << dialog->noticeText().toStdString();
    EXPECT_TRUE(dialog->findChild<QLabel*>("deleteNotice")->isVisibleTo(dialog.get()));
}

// Clips a disk check deletes for their age leave the open browser, the operator's selection
// of the others kept. The check waits behind a long deletion: a clip played meanwhile is in
// use when it runs and stays.
TEST_F(ClipBrowserTest, OldClipsDeletedToMakeRoomLeaveTheOpenBrowserButNotAClipPlayedMeanwhile) {
    const QString old = Add(Clip{.date = "2002/11/01", .open = true});
    const QString kept = Add(Clip{.date = "2002/11/02"});
    const QString played = Add(Clip{.date = "2002/11/03"});
    const QString removed = Add(Clip{.channel = 5, .date = "2002/12/02"});
    const QString recent = Add(Clip{.date = "2002/12/03"});
    auto dialog = Open();
    SelectRows(dialog->clipList(), 0, 0);
    static std::atomic<bool> blocked;
    blocked = true;
    SetClipUnlinkObserver([] {
        while (blocked) {
            std::this_thread::yield();
        }
    });
    housekeeper_.Remove({*Entry(removed)}, nullptr, {}, {});
    DiskCheck check;  // room enough, on 2002/12/10, clips older than 30 days go
    check.folder = folder_.toStdString();
    check.freeSpace = [](const std::string&) { return FreeSpace{4096, "/"}; };
    check.rule.keepDays = 30;
    check.now = QDateTime(QDate(2002, 12, 10), QTime(12, 0));
    check.inUse = {folder_ + kept};
    housekeeper_.Check(std::move(check), nullptr, {});
    const ClipUse playing(folder_ + played);
    blocked = false;
    Settle();
    SetClipUnlinkObserver(nullptr);
    EXPECT_FALSE(Exists(old) || Exists(removed));
    EXPECT_TRUE(Exists(played) && Entry(played));
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({recent, played, kept}));
    EXPECT_EQ(Counts(*dialog), QStringList({"     3", "     0", "     3"}));
    EXPECT_EQ(dialog->clipList()->selectionModel()->selectedRows().size(), 1);
}

// The preview is the clip's first frame, drawn over the frame's cross; a preview that is cut
// off, garbage, longer than the buffer or a FIFO (reading it would wait for a writer for ever)
// shows nothing.
TEST_F(ClipBrowserTest, BrokenPreviewsShowNothing) {
    const QString fifo = Add(Clip{.start = "08:00", .files = false});
    ASSERT_EQ(::mkfifo(Path(ImageNameOf(fifo)).c_str(), 0600), 0);
    const std::string big = Preview(320, 320, qRgb(9, 9, 9));  // whole, but too long
    ASSERT_GT(big.size(), ClipBrowserDialog::kPreviewBufferSize);
    const std::string broken[] = {Preview(32, 24, 0).substr(0, 1200), std::string(5000, '\xA7'),
                                  big};
    for (int minute = 0; minute < 3; ++minute) {
        const QString clip = Add(Clip{.start = QString::asprintf("09:%02d", minute)});
        test::WriteFileBytes(Path(ImageNameOf(clip)), broken[minute]);
    }
    Add(Clip{.start = "12:00"});
    auto dialog = Open();
    SelectRows(dialog->clipList(), 0, 0);
    EXPECT_EQ(dialog->previewFrame()->picture().size(), QSize(32, 24));
    dialog->previewFrame()->resize(80, 60);
    EXPECT_EQ(dialog->previewFrame()->grab().toImage().pixel(40, 20), qRgb(200, 40, 10));

    for (int row = 1; row < 5; ++row) {  // the FIFO last: it returns at once
        SelectRows(dialog->clipList(), row, row);
        EXPECT_TRUE(dialog->previewFrame()->picture().isNull()) << row;
        dialog->previewFrame()->grab();
    }
}

using ClipSearchTest = ClipBrowserTest;

void SetBound(QCheckBox* check, QDateEdit* date, QTimeEdit* time, QTime at) {
    check->setChecked(true);
    date->setDate(QDate(2002, 12, 3));
    time->setTime(at);
}

// Only the start counts, and bounds equal to it pass; bounds the wrong way round list nothing
// and say why. All channels fill the channel column; one channel leaves it empty. Return plays
// the first six selected, each marked read in the browser's groups and in the index.
TEST_F(ClipSearchTest, BoundsEqualToTheStartPassAndOnlyTheStartCounts) {
    const QString atTen = Add(Clip{.start = "10:00", .end = "10:20"});
    Add(Clip{.start = "09:50", .end = "10:30", .open = true});  // runs across the after bound
    Add(Clip{.start = "10:01"});
    Add(Clip{.date = "2002/12/02", .start = "23:59"});
    for (int minute = 0; minute < 3; ++minute) {
        const QString start = QString::asprintf("10:%02d", minute);
        Add(Clip{.channel = 4, .location = "Yard", .date = "2002/12/01", .start = start});
    }
    auto browser = Open();
    auto search = std::make_unique<ClipSearchDialog>(browser->groups(), index_, Players());
    EXPECT_EQ(Column(*search->channelList()->model(), 0),
              QStringList({"All video channel", "0004 Yard", "0003 Gate"}));  // the index's order
    search->Search();
    EXPECT_EQ(Column(*search->resultModel(), 4),
              QStringList(3, "0004 Yard") + QStringList(4, "0003 Gate"));
    EXPECT_EQ(Counts(*search), QStringList({"     7", "     1", "     6"}));

    search->channelList()->setCurrentIndex(2);
    SetBound(search->afterCheck(), search->afterDate(), search->afterTime(), QTime(10, 0));
    SetBound(search->beforeCheck(), search->beforeDate(), search->beforeTime(), QTime(10, 0));
    search->Search();
    EXPECT_EQ(Column(*search->resultModel(), 0), QStringList({atTen}));
    EXPECT_EQ(Column(*search->resultModel(), 4), QStringList({""}));
    search->beforeCheck()->setChecked(false);
    search->Search();
    EXPECT_EQ(search->resultModel()->rowCount(), 2);
    search->afterCheck()->setChecked(false);
    SetBound(search->beforeCheck(), search->beforeDate(), search->beforeTime(), QTime(9, 59));
    search->Search();
    EXPECT_EQ(search->resultModel()->rowCount(), 2);

    SetBound(search->afterCheck(), search->afterDate(), search->afterTime(), QTime(10, 0));
    search->Search();
    EXPECT_EQ(search->resultModel()->rowCount(), 0);
    ASSERT_EQ(prompts_.texts().size(), 1);
    EXPECT_TRUE(prompts_.texts()[0].contains("later than")) << prompts_.texts()[0].toStdString();

    search->afterCheck()->setChecked(false);
    search->beforeCheck()->setChecked(false);
    search->channelList()->setCurrentIndex(0);
    search->Search();
    SelectRows(search->resultList(), 0, 6);
    QTest::keyClick(search->resultList(), Qt::Key_Return);
    EXPECT_EQ(played_.size(), 6);
    EXPECT_EQ(Counts(*search), QStringList({"     7", "     6", "     1"}));
    for (const ClipRow& shown : search->resultModel()->rows()) {
        const ClipRecord* record = FindRecord(browser->groups(), shown.groupKey, shown.fileName);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->open, shown.read ? 1u : 0u) << shown.fileName.toStdString();
        EXPECT_EQ(Entry(shown.fileName)->open, shown.read ? 1u : 0u);
    }
}

}  // namespace
}  // namespace orvane
