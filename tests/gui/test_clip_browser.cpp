// The clip browser and the clip search dialog: grouping, lists and counts, playing, deleting
// (files and index entries), the preview, and the search bounds.
#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "media/decoded_picture.h"
#include "playback/clip_browser_dialog.h"
#include "playback/clip_search_dialog.h"
#include "shared/command_ids.h"
#include "store/clip_removal.h"
#include "store/clips_in_use.h"
#include "store/registry_layout.h"
#include "support/event_loop.h"
#include "support/modal_script.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
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

QStringList TreeTextsOf(const ClipBrowserDialog& dialog) {
    QStringList texts;
    for (int i = 0; i < dialog.channelTree()->topLevelItemCount(); ++i) {
        texts << dialog.channelTree()->topLevelItem(i)->text(0);
    }
    return texts;
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
        ClipRecord record;
        record.fileName = clip.fileName;
        record.open = clip.open ? 1 : 0;
        record.channel = clip.channel;
        record.startDate = record.endDate = clip.date;
        record.startTime = clip.start;
        record.endTime = clip.end;
        record.imageName = ImageNameOf(clip.fileName);
        record.path = folder_;
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
        for (const ClipRecord& record : Entries()) {
            if (record.key() == fileName) {
                return record;
            }
        }
        return std::nullopt;
    }

    // Players are windows of their own, owned by the browser, of clips marked read; the clips
    // played, in order.
    ClipPlayerFactory Players() {
        return [this](const ClipRecord& clip, QWidget* owner) {
            EXPECT_EQ(clip.open, 1u);
            EXPECT_EQ(clip.path, folder_);
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
    // A disk check with room enough, on 2002/12/10, that deletes clips older than 30 days.
    DiskCheck PastKeepDays() const {
        DiskCheck check;
        check.folder = folder_.toStdString();
        check.freeSpace = [](const std::string&) { return FreeSpace{4096, "/"}; };
        check.rule.keepDays = 30;
        check.now = QDateTime(QDate(2002, 12, 10), QTime(12, 0));
        return check;
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

TEST_F(ClipBrowserTest, GroupsByNumberAndLocationAndListsAChannelsClipsNewestFirstWithCounts) {
    Add(Clip{.channel = 3, .location = "Yard", .start = "08:00"});
    Add(Clip{.channel = 1, .location = "Door", .start = "08:00"});
    Add(Clip{.start = "09:00", .fileName = "20021203090000000003.avi"});
    Add(Clip{.start = "11:00", .open = true, .fileName = "20021203110000000003.avi"});
    Add(Clip{.start = "10:00", .end = "10:07", .fileName = "20021203100000000003.avi"});
    auto dialog = Open("");
    EXPECT_EQ(TreeTextsOf(*dialog), QStringList({"0001 Door", "0003 Gate", "0003 Yard"}));
    EXPECT_EQ(FindGroup(dialog->groups(), "0003 gate"), nullptr);
    EXPECT_TRUE(dialog->channelTree()->selectedItems().isEmpty());
    EXPECT_EQ(dialog->clipModel()->rowCount(), 0);
    EXPECT_EQ(Counts(*dialog), QStringList({"", "", ""}));

    dialog->SelectChannel("0003 Gate");
    const ClipListModel& model = *dialog->clipModel();
    EXPECT_EQ(Column(model, 0), QStringList({"20021203110000000003.avi", "20021203100000000003.avi",
                                             "20021203090000000003.avi"}));
    EXPECT_EQ(model.index(1, 1).data().toString(), "2002/12/03 10:00");
    EXPECT_EQ(model.index(1, 2).data().toString(), "2002/12/03 10:07");
    EXPECT_EQ(model.index(1, 3).data().toString(), folder_);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Start time");
    EXPECT_EQ(Counts(*dialog), QStringList({"     3", "     1", "     2"}));
    dialog->SelectChannel("0003 Yard");
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(Counts(*dialog), QStringList({"     1", "     0", "     1"}));

    // Search offers the browser's channels.
    QStringList items;
    test::ModalScript script;
    script.Then<ClipSearchDialog>([&](ClipSearchDialog* search) {
        for (int i = 0; i < search->channelList()->count(); ++i) {
            items << search->channelList()->itemText(i);
        }
        search->reject();
    });
    dialog->OpenSearch();
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(items.join(", ").toStdString(), "All video channel, 0003 Yard, 0001 Door, 0003 Gate");
}

// At most six players at once; each marks its clip read, is owned by the browser and closes
// with it or when its clip is deleted (it holds the file open), and only then.
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
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(dialog->clipModel()->row(row).read, row < 6) << row;
        EXPECT_EQ(Entry(names[row])->open, row < 6 ? 1u : 0u) << row;
    }
    EXPECT_EQ(Counts(*dialog), QStringList({"     8", "     6", "     2"}));

    // A clip already read plays again and counts nothing new; a double click plays too.
    played_.clear();
    SelectRows(dialog->clipList(), 0, 0);
    dialog->PlaySelected();
    SelectRows(dialog->clipList(), 7, 7);
    QTest::mouseDClick(dialog->clipList()->viewport(), Qt::LeftButton);
    EXPECT_EQ(played_, QStringList({names[0], names[7]}));
    EXPECT_EQ(Counts(*dialog), QStringList({"     8", "     7", "     1"}));
    EXPECT_EQ(players_[names[7]]->parentWidget(), dialog.get());

    // A right double click deletes, after the question.
    SelectRows(dialog->clipList(), 0, 0);
    QTest::mouseDClick(dialog->clipList()->viewport(), Qt::RightButton);
    Settle();
    EXPECT_EQ(prompts_.shown().size(), 1u);
    EXPECT_FALSE(Entry(names[0]));
    EXPECT_TRUE(Entry(names[1]));
    EXPECT_FALSE(players_[names[0]]->isVisible());
    EXPECT_TRUE(players_[names[1]]->isVisible());

    dialog.reset();
    EXPECT_EQ(players_[names[7]], nullptr);
}

TEST_F(ClipBrowserTest, DeletingSelectedRowsRemovesFilesEntriesAndCountsAfterOk) {
    const QString older = Add(Clip{.start = "09:00"});
    const QString read = Add(Clip{.start = "10:00", .open = true});
    const QString newest = Add(Clip{.start = "11:00"});
    auto dialog = Open();
    SelectRows(dialog->clipList(), 1, 1);
    prompts_.Queue(PromptAnswer::Cancel);
    dialog->DeleteSelected();
    Settle();
    ASSERT_EQ(prompts_.shown().size(), 1u);
    EXPECT_EQ(prompts_.shown()[0].text, "\n\n Delete select item(s) ? \n\n");
    EXPECT_EQ(prompts_.shown()[0].buttons, PromptButtons::OkCancel);
    EXPECT_TRUE(Exists(read));
    EXPECT_EQ(Entries().size(), 3u);

    dialog->DeleteSelected();
    Settle();
    EXPECT_FALSE(Exists(read) || Exists(ImageNameOf(read)));
    EXPECT_FALSE(Entry(read));
    EXPECT_TRUE(Exists(older) && Exists(newest) && Exists(ImageNameOf(older)));
    EXPECT_EQ(Entries().size(), 2u);
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({newest, older}));
    EXPECT_EQ(FindRecord(dialog->groups(), "0003 Gate", read), nullptr);
    EXPECT_EQ(Counts(*dialog), QStringList({"     2", "     0", "     2"}));

    // Nothing selected: no question, nothing gone.
    dialog->clipList()->clearSelection();
    dialog->DeleteSelected();
    Settle();
    EXPECT_EQ(prompts_.shown().size(), 2u);
}

TEST_F(ClipBrowserTest, DeletingNeverRemovesADirectory) {
    // No "." in the name: the preview's path is the record folder itself, which is empty
    // once the clip has gone.
    const QString bare = Add(Clip{.fileName = "20021203100000000003"});
    // Directories carrying a clip's and a preview's names stay; the entry goes.
    const QString named = Add(Clip{.start = "09:00", .files = false});
    ASSERT_TRUE(QDir().mkpath(folder_ + named) && QDir().mkpath(folder_ + ImageNameOf(named)));
    // A name another tool wrote that reaches outside the folder: the entry goes, no file.
    test::WriteFileBytes(Path("../outside.avi"), "kept");
    Add(Clip{.start = "08:00", .files = false, .fileName = "../outside.avi"});
    auto dialog = Open();
    ASSERT_EQ(Column(*dialog->clipModel(), 0), QStringList({bare, named, "../outside.avi"}));
    SelectRows(dialog->clipList(), 0, 0);
    dialog->DeleteSelected();
    Settle();
    EXPECT_FALSE(Exists(bare));
    EXPECT_FALSE(Entry(bare));
    EXPECT_TRUE(QFileInfo(folder_).isDir());

    dialog->DeleteChannelClips();
    Settle();
    EXPECT_TRUE(QFileInfo(folder_ + named).isDir());
    EXPECT_TRUE(QFileInfo(folder_ + ImageNameOf(named)).isDir());
    EXPECT_TRUE(Exists("../outside.avi"));
    EXPECT_TRUE(Entries().empty());
}

// Where the disk work of a deletion runs: the GUI thread never waits for it.
std::thread::id guiThread;
std::atomic<int> commits, commitsOnGui, unlinks, unlinksOnGui;
void CountCommit() {
    ++commits;
    commitsOnGui += std::this_thread::get_id() == guiThread ? 1 : 0;
}
void CountUnlink() {
    ++unlinks;
    unlinksOnGui += std::this_thread::get_id() == guiThread ? 1 : 0;
}

// A channel's clips go after one question, in one commit, off the GUI thread; the channel
// stays in the tree, empty.
TEST_F(ClipBrowserTest, DeletingAChannelIsOneCommitAndNoDiskWorkOnTheGuiThread) {
    constexpr int kClips = 40;
    QStringList names;
    for (int i = 0; i < kClips; ++i) {
        names << Add(Clip{.start = QString::asprintf("%02d:%02d", i / 60, i % 60)});
    }
    const QString other = Add(Clip{.channel = 5, .location = "Dock"});
    auto dialog = Open("");
    dialog->DeleteChannelClips();  // no channel selected: nothing asked
    dialog->SelectChannel("0003 Gate");
    prompts_.Queue(PromptAnswer::Cancel);
    dialog->DeleteChannelClips();
    Settle();
    EXPECT_EQ(Entries().size(), std::size_t(kClips + 1));

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
    EXPECT_EQ(unlinks, 2 * kClips);
    EXPECT_EQ(dialog->deleting(), 0);
    EXPECT_FALSE(Exists(names[0]) || Exists(ImageNameOf(names[0])));
    ASSERT_EQ(Entries().size(), 1u);
    EXPECT_EQ(Entries()[0].fileName, other);
    EXPECT_TRUE(Exists(other));
    EXPECT_EQ(TreeTextsOf(*dialog), QStringList({"0003 Gate", "0005 Dock"}));
    EXPECT_EQ(Counts(*dialog), QStringList({"     0", "     0", "     0"}));
    dialog->SelectChannel("0005 Dock");
    dialog->SelectChannel("0003 Gate");
    EXPECT_EQ(dialog->clipModel()->rowCount(), 0);
    dialog->DeleteChannelClips();  // an empty list: nothing asked
    Settle();
    EXPECT_EQ(prompts_.shown().size(), 2u);
}

// A file that cannot be removed (here under a regular file, which root is refused too) keeps
// its entry and its row, and the operator is told which; an entry without a file name goes
// without anything unlinked; a clip whose file is gone still plays and goes.
TEST_F(ClipBrowserTest, AFileThatStaysKeepsItsEntryAndAnEntryWithoutAFileNameGoes) {
    const QString blocked = Add(Clip{.start = "09:00", .files = false});
    const QString nameless = Add(Clip{.start = "10:00"});
    const QString plain = Add(Clip{.start = "11:00"});
    const QString gone = Add(Clip{.start = "12:00", .files = false});
    test::WriteFileBytes(Path("not-a-folder"), "x");
    const RegKey root = store_.OpenKey(KeyStore::kRoot, kClipIndexKeyPath).value;
    ASSERT_EQ(store_.SetString(store_.OpenKey(root, blocked.toStdString()).value, "Path",
                               (folder_ + "not-a-folder/").toStdString()),
              StoreStatus::Ok);
    ASSERT_EQ(store_.DeleteValue(store_.OpenKey(root, nameless.toStdString()).value, "FileName"),
              StoreStatus::Ok);
    auto dialog = Open();
    SelectRows(dialog->clipList(), 0, 0);
    EXPECT_FALSE(dialog->previewValid());
    dialog->PlaySelected();
    EXPECT_EQ(played_, QStringList({gone}));

    SelectRows(dialog->clipList(), 0, 3);
    dialog->DeleteSelected();
    Settle();
    EXPECT_FALSE(Entry(gone));
    EXPECT_FALSE(Entry(nameless));
    EXPECT_TRUE(Exists(nameless));  // an entry without a file name unlinks nothing
    EXPECT_FALSE(Entry(plain));
    EXPECT_FALSE(Exists(plain));
    ASSERT_TRUE(Entry(blocked));
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({blocked}));
    EXPECT_EQ(Counts(*dialog), QStringList({"     1", "     0", "     1"}));
    EXPECT_TRUE(
        dialog->noticeText().startsWith("Could not delete " + folder_ + "not-a-folder/" + blocked))
        << dialog->noticeText().toStdString();
    EXPECT_TRUE(dialog->findChild<QLabel*>("deleteNotice")->isVisibleTo(dialog.get()));
}

TEST_F(ClipBrowserTest, TheListsMenuMarksClipsToKeepAndTheMarkIsShownAndStored) {
    const QString older = Add(Clip{.start = "09:00"});
    const QString newer = Add(Clip{.start = "10:00"});
    auto dialog = Open();
    SelectRows(dialog->clipList(), 1, 1);
    emit dialog->clipList()->customContextMenuRequested(QPoint(4, 4));
    auto* menu = dialog->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Keep");
    EXPECT_EQ(menu->actions()[1]->text(), "Export...");
    menu->actions()[0]->trigger();
    menu->close();
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({newer, older + "  (Keep)"}));
    EXPECT_EQ(Entry(older)->keep, 1u);
    EXPECT_EQ(Entry(newer)->keep, 0u);
    dialog->KeepSelected(false);
    EXPECT_EQ(Entry(older)->keep, 0u);
}

TEST_F(ClipBrowserTest, OldClipsDeletedToMakeRoomLeaveTheOpenBrowser) {
    const QString old = Add(Clip{.date = "2002/11/01", .open = true});
    const QString kept = Add(Clip{.date = "2002/11/02"});
    const QString recent = Add(Clip{.date = "2002/12/03"});
    auto dialog = Open();
    SelectRows(dialog->clipList(), 0, 0);
    DiskCheck check = PastKeepDays();
    check.inUse = {folder_ + kept};
    housekeeper_.Check(std::move(check), nullptr, {});
    Settle();
    EXPECT_FALSE(Exists(old));
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({recent, kept}));
    EXPECT_EQ(Counts(*dialog), QStringList({"     2", "     0", "     2"}));
    EXPECT_EQ(dialog->clipList()->selectionModel()->selectedRows().size(), 1);
}

// A check waits behind a long deletion: a clip played meanwhile is in use when it runs.
TEST_F(ClipBrowserTest, AClipPlayedWhileADiskCheckWaitsIsNotDeletedByIt) {
    const QString old = Add(Clip{.date = "2002/11/01"});
    Add(Clip{.date = "2002/12/09"});
    static std::atomic<bool> blocked;
    blocked = true;
    SetClipUnlinkObserver([] {
        while (blocked) {
            std::this_thread::yield();
        }
    });
    std::vector<ClipRecord> deleting = Entries();
    std::erase_if(deleting, [&](const ClipRecord& clip) { return clip.fileName == old; });
    housekeeper_.Remove(deleting, nullptr, {}, {});
    housekeeper_.Check(PastKeepDays(), nullptr, {});
    const ClipUse playing(folder_ + old);
    blocked = false;
    Settle();
    SetClipUnlinkObserver(nullptr);
    EXPECT_TRUE(Exists(old));
    EXPECT_TRUE(Entry(old));
}

// The preview is the clip's first frame, read once per clip; a preview that is cut off,
// garbage, longer than the buffer or a FIFO (reading it would wait for a writer for ever)
// shows nothing.
TEST_F(ClipBrowserTest, BrokenPreviewsShowNothing) {
    const QString blue = Add(Clip{.start = "07:00"});
    const QString truncated = Add(Clip{.start = "09:00"});
    const QString garbage = Add(Clip{.start = "10:00"});
    const QString oversized = Add(Clip{.start = "11:00"});
    const QString good = Add(Clip{.start = "12:00"});
    test::WriteFileBytes(Path(ImageNameOf(blue)), Preview(40, 30, qRgb(0, 0, 255)));
    const std::string frame = Preview(32, 24, qRgb(1, 2, 3));
    test::WriteFileBytes(Path(ImageNameOf(truncated)), frame.substr(0, frame.size() / 2));
    test::WriteFileBytes(Path(ImageNameOf(garbage)), std::string(5000, '\xA7'));
    const std::string big = Preview(320, 320, qRgb(9, 9, 9));  // whole, but too long
    ASSERT_GT(big.size(), ClipBrowserDialog::kPreviewBufferSize);
    test::WriteFileBytes(Path(ImageNameOf(oversized)), big);
    const QString fifo = Add(Clip{.start = "08:00", .files = false});
    ASSERT_EQ(::mkfifo(Path(ImageNameOf(fifo)).c_str(), 0600), 0);

    auto dialog = Open();
    ASSERT_EQ(Column(*dialog->clipModel(), 0),
              QStringList({good, oversized, garbage, truncated, fifo, blue}));
    SelectRows(dialog->clipList(), 0, 0);
    const QImage first = dialog->previewFrame()->picture();
    ASSERT_EQ(first.size(), QSize(32, 24));
    EXPECT_EQ(first.pixel(5, 5), qRgb(200, 40, 10));
    // Re-selected, the same clip's preview is not read again.
    test::WriteFileBytes(Path(ImageNameOf(good)), Preview(16, 16, qRgb(0, 255, 0)));
    dialog->clipList()->clearSelection();
    SelectRows(dialog->clipList(), 0, 0);
    EXPECT_EQ(dialog->previewFrame()->picture(), first);
    SelectRows(dialog->clipList(), 5, 5);
    EXPECT_EQ(dialog->previewFrame()->picture().pixel(1, 1), qRgb(0, 0, 255));
    dialog->previewFrame()->resize(80, 60);  // the picture drawn over the frame's cross
    EXPECT_EQ(dialog->previewFrame()->grab().toImage().pixel(40, 20), qRgb(0, 0, 255));

    SelectRows(dialog->clipList(), 4, 4);  // returns at once, with nothing to show
    EXPECT_TRUE(dialog->previewFrame()->picture().isNull());
    for (int row = 1; row < 4; ++row) {
        SelectRows(dialog->clipList(), row, row);
        EXPECT_TRUE(dialog->previewValid()) << row;
        EXPECT_TRUE(dialog->previewFrame()->picture().isNull()) << row;
        dialog->previewFrame()->grab();
    }
    SelectRows(dialog->clipList(), 0, 0);
    SelectRows(dialog->clipList(), 1, 1);
    EXPECT_EQ(dialog->previewLength(), ClipBrowserDialog::kPreviewBufferSize);
}

TEST(ClipBrowserCommand, PlaybackVideoOpensTheBrowserModallyOnTheProgramsIndex) {
    test::TempStore temp;
    test::UseFreeListenPort(temp.path());
    test::ScriptedPrompts prompts;
    ViewerApp app;
    ASSERT_EQ(app.InitInstance({"orvane", "/Embedding"}), ViewerApp::StartResult::Started);
    MainFrame* frame = app.mainFrame();
    ClipRecord clip;
    clip.fileName = "200212031000000003.avi";
    clip.channel = 3;
    ClipIndex(frame->store(), [](std::int32_t) { return QString("Gate"); }).AddClipRecord(clip);
    QStringList channels;
    test::ModalScript script;
    script.Then<ClipBrowserDialog>([&](ClipBrowserDialog* browser) {
        EXPECT_TRUE(browser->isModal());
        EXPECT_EQ(browser->parentWidget(), frame);
        channels = TreeTextsOf(*browser);
        browser->accept();
    });
    frame->RunCommand(cmd::kPlaybackVideo);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(script.unexpected(), 0);
    EXPECT_EQ(channels, QStringList({"0003 Gate"}));
}

class ClipSearchTest : public ClipBrowserTest {
  protected:
    std::unique_ptr<ClipSearchDialog> Search(ClipGroups& groups) {
        return std::make_unique<ClipSearchDialog>(groups, index_, Players());
    }
    static void SetBound(QCheckBox* check, QDateEdit* date, QTimeEdit* time, QTime at) {
        check->setChecked(true);
        date->setDate(QDate(2002, 12, 3));
        time->setTime(at);
    }
};

// Only the start counts, and bounds equal to it pass; bounds the wrong way round list nothing
// and say why. All channels fill the channel column; one channel leaves it empty.
TEST_F(ClipSearchTest, BoundsEqualToTheStartPassAndOnlyTheStartCounts) {
    const QString atTen = Add(Clip{.start = "10:00", .end = "10:20"});
    Add(Clip{.start = "09:50", .end = "10:30", .open = true});  // runs across the after bound
    Add(Clip{.start = "10:01"});
    Add(Clip{.date = "2002/12/02", .start = "23:59"});
    Add(Clip{.channel = 4, .location = "Yard"});
    auto browser = Open();
    auto search = Search(browser->groups());
    QTest::mouseClick(search->afterCheck(), Qt::LeftButton);
    EXPECT_TRUE(search->afterDate()->isEnabled() && search->afterTime()->isEnabled());
    EXPECT_FALSE(search->beforeDate()->isEnabled());
    search->afterCheck()->setChecked(false);
    search->Search();
    EXPECT_EQ(Column(*search->resultModel(), 4),
              QStringList({"0003 Gate", "0003 Gate", "0003 Gate", "0003 Gate", "0004 Yard"}));
    EXPECT_EQ(Counts(*search), QStringList({"     5", "     1", "     4"}));
    EXPECT_EQ(search->resultModel()->headerData(1, Qt::Horizontal, Qt::DisplayRole), "start time");

    search->channelList()->setCurrentIndex(1);
    SetBound(search->afterCheck(), search->afterDate(), search->afterTime(), QTime(10, 0));
    SetBound(search->beforeCheck(), search->beforeDate(), search->beforeTime(), QTime(10, 0));
    search->Search();
    EXPECT_EQ(Column(*search->resultModel(), 0), QStringList({atTen}));
    EXPECT_EQ(Column(*search->resultModel(), 4), QStringList({""}));
    EXPECT_EQ(Counts(*search), QStringList({"     1", "     0", "     1"}));
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
}

TEST_F(ClipSearchTest, PlayingMarksReadInGroupsAndIndexAndStopsAtSix) {
    for (int minute = 0; minute < 8; ++minute) {
        Add(Clip{.channel = minute % 2 + 1,
                 .location = "Cam",
                 .start = QString::asprintf("10:%02d", minute)});
    }
    auto browser = Open();
    auto search = Search(browser->groups());
    search->Search();
    SelectRows(search->resultList(), 0, 7);
    search->show();
    search->resultList()->setFocus();
    QTest::keyClick(search->resultList(), Qt::Key_Return);
    ASSERT_EQ(played_.size(), 6);
    EXPECT_TRUE(search->isVisible());
    for (int row = 0; row < 8; ++row) {
        const ClipRow& shown = search->resultModel()->row(row);
        const ClipRecord* record = FindRecord(browser->groups(), shown.groupKey, shown.fileName);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(shown.read, row < 6) << row;
        EXPECT_EQ(record->open, row < 6 ? 1u : 0u) << row;
        EXPECT_EQ(Entry(shown.fileName)->open, row < 6 ? 1u : 0u) << row;
        if (row < 6) {
            EXPECT_EQ(played_[row], shown.fileName);
        }
    }
    EXPECT_EQ(Counts(*search), QStringList({"     8", "     6", "     2"}));
}

}  // namespace
}  // namespace orvane
