// The playback windows: the clip browser and its search (lists, counts, playing, deleting, the
// preview, the bounds) and the player window around the engine (geometry at every zoom step,
// texts, commands, a clip that cannot be opened), with "Export..." from both.
#include "media/decoded_picture.h"
#include "playback/clip_browser_dialog.h"
#include "playback/clip_player_window.h"
#include "playback/clip_search_dialog.h"
#include "playback/export_dialog.h"
#include "playback/go_to_time_dialog.h"
#include "playback/player_control_bar.h"
#include "shared/command_ids.h"
#include "shared/message_box_placement.h"
#include "store/clip_removal.h"
#include "store/clips_in_use.h"
#include "store/registry_layout.h"
#include "support/event_loop.h"
#include "support/file_gate.h"
#include "support/sample_clips.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"
#include "video/snapshot_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimeEdit>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QWindow>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <thread>

namespace orvane {
namespace {

using test::WaitUntil;

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

// An index entry as the recorder writes it; Add() names the file after the start when empty.
struct Clip {
    std::int32_t channel = 3;
    QString location = "Gate";
    QString date = "2002/12/03";
    QString start = "10:00";
    QString end = "10:05";
    std::uint32_t open = 0;
    bool files = true;  // write the clip and its preview
    QString fileName = {};
};

class ClipBrowserTest : public test::RecordingStoreTest {
  protected:
    // Writes an index entry (and, when asked, its clip and preview files); its file name.
    QString Add(Clip clip) {
        if (clip.fileName.isEmpty()) {
            clip.fileName = QString(clip.date).remove('/') + QString(clip.start).remove(':') +
                            QString::asprintf("%02d%04d.avi", serial_++ % 60, clip.channel);
        }
        location_ = clip.location;
        const QString image = ImageNameOf(clip.fileName);
        EXPECT_TRUE(
            writer_.AddClipRecord({clip.fileName, clip.open, clip.channel, QString(), clip.date,
                                   clip.start, clip.date, clip.end, image, folder_}));
        if (clip.files) {
            test::WriteFileBytes(File(clip.fileName), "RIFF clip");
            test::WriteFileBytes(File(image), Preview(32, 24, qRgb(200, 40, 10)));
        }
        return clip.fileName;
    }

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
        dialog->SelectChannel(channel);
        return dialog;
    }
    // Until the deletions under way have come back.
    void Settle() {
        EXPECT_TRUE(WaitUntil([&] { return housekeeper_.pending() == 0; }));
    }

    QString location_;
    ClipIndex writer_{store_, [this](std::int32_t) { return location_; }};
    ClipIndex index_{store_, {}};
    ClipHousekeeper housekeeper_{store_};
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
    const QString eleven = Add(Clip{.start = "11:00", .open = 1});
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
    EXPECT_TRUE(Entry(nine)->keep == 1 && Entry(ten)->keep == 0);
}

// At most six players at once, each of a clip marked read, owned by the browser; a player
// closes with the browser or when its clip is deleted (it holds the file open), and only then.
TEST_F(ClipBrowserTest, PlayingOpensSixPlayersForTheTopSixAndDeletingAClipClosesItsPlayer) {
    QStringList names;  // newest first
    for (int minute = 7; minute >= 0; --minute) {
        names << Add(Clip{.start = QString::asprintf("10:%02d", minute)});
    }
    auto dialog = Open();
    SelectRows(dialog->clipList(), 0, 7);
    dialog->PlaySelected();
    EXPECT_TRUE(Entry(names[5])->open && !Entry(names[6])->open);
    // A double click plays too; clips already read count nothing new.
    QTest::mouseDClick(dialog->clipList()->viewport(), Qt::LeftButton);
    EXPECT_EQ(played_, names.mid(0, 6) + names.mid(0, 6));
    EXPECT_EQ(Counts(*dialog), QStringList({"     8", "     6", "     2"}));

    // A right double click deletes after the question: files, entry, row, player and preview.
    SelectRows(dialog->clipList(), 0, 0);
    prompts_.Queue(PromptAnswer::Cancel);
    QTest::mouseDClick(dialog->clipList()->viewport(), Qt::RightButton);
    EXPECT_TRUE(Entry(names[0]) && Exists(names[0]) && players_[names[0]]->isVisible());
    EXPECT_FALSE(dialog->previewFrame()->picture().isNull());
    QTest::mouseDClick(dialog->clipList()->viewport(), Qt::RightButton);
    Settle();
    EXPECT_FALSE(Entry(names[0]) || Exists(names[0]) || Exists(ImageNameOf(names[0])));
    EXPECT_EQ(Column(*dialog->clipModel(), 0), names.mid(1));
    EXPECT_EQ(Counts(*dialog), QStringList({"     7", "     5", "     2"}));
    EXPECT_TRUE(!players_[names[0]]->isVisible() && players_[names[1]]->isVisible());
    EXPECT_TRUE(dialog->previewFrame()->picture().isNull());

    dialog->clipList()->clearSelection();
    dialog->DeleteSelected();  // nothing selected: nothing asked
    EXPECT_EQ(prompts_.shown().size(), 2u);
    dialog.reset();
    EXPECT_EQ(players_[names[1]], nullptr);
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
    test::WriteFileBytes(File("../outside.avi"), "kept");
    Add(Clip{.start = "06:00", .files = false, .fileName = "../outside.avi"});
    const QString other = Add(Clip{.channel = 5, .location = "Dock"});
    test::WriteFileBytes(File("not-a-folder"), "x");
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

    // Where each commit and unlink runs: the GUI thread never waits for the disk.
    static std::thread::id gui;
    static std::atomic<int> commits[2], unlinks[2];  // [1]: on the GUI thread
    gui = std::this_thread::get_id();
    commits[0] = commits[1] = unlinks[1] = 0;
    SetStoreCommitObserver([] { ++commits[std::this_thread::get_id() == gui]; });
    SetClipUnlinkObserver([] { ++unlinks[std::this_thread::get_id() == gui]; });
    dialog->DeleteChannelClips();
    EXPECT_EQ(dialog->clipModel()->rowCount(), 0);  // at once, before the disk work is done
    Settle();
    SetStoreCommitObserver(nullptr);
    SetClipUnlinkObserver(nullptr);
    EXPECT_EQ(std::tuple(commits[0].load(), commits[1].load(), unlinks[1].load()),
              std::tuple(1, 0, 0));
    EXPECT_EQ(prompts_.shown().size(), 2u);
    EXPECT_EQ(Entries().size(), 2u);
    ASSERT_TRUE(Entry(blocked) && Entry(other));
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({blocked}));
    EXPECT_FALSE(Exists(plain) || Exists(bare));
    // An entry without a file name unlinks nothing; directories and outsiders stay.
    EXPECT_TRUE(Exists(nameless) && Exists("../outside.avi"));
    for (const QString& dir : {QString(), named, ImageNameOf(named)}) {
        EXPECT_TRUE(QFileInfo(folder_ + dir).isDir()) << dir.toStdString();
    }
    EXPECT_TRUE(
        dialog->noticeText().startsWith("Could not delete " + folder_ + "not-a-folder/" + blocked))
        << dialog->noticeText().toStdString();
    EXPECT_TRUE(dialog->findChild<QLabel*>("deleteNotice")->isVisibleTo(dialog.get()));
}

// Clips a disk check deletes leave the open browser, the selection of the others kept; a clip
// played while the check waited behind a long deletion is in use when it runs, and stays.
TEST_F(ClipBrowserTest, OldClipsDeletedToMakeRoomLeaveTheOpenBrowserButNotAClipPlayedMeanwhile) {
    const QString old = Add(Clip{.date = "2002/11/01", .open = 1});
    const QString kept = Add(Clip{.date = "2002/11/02"});
    const QString played = Add(Clip{.date = "2002/11/03"});
    const QString removed = Add(Clip{.channel = 5, .date = "2002/12/02"});
    const QString recent = Add(Clip{.date = "2002/12/03"});
    auto dialog = Open();
    SelectRows(dialog->clipList(), 0, 0);
    static std::atomic<bool> blocked;
    blocked = true;
    SetClipUnlinkObserver([] { blocked.wait(true); });
    housekeeper_.Remove({*Entry(removed)}, nullptr, {}, {});
    DiskCheck check;  // on 2002/12/10 with room enough: clips older than 30 days go
    check.folder = folder_.toStdString();
    check.freeSpace = [](const std::string&) { return FreeSpace{4096, "/"}; };
    check.rule.keepDays = 30;
    check.now = QDateTime(QDate(2002, 12, 10), QTime(12, 0));
    check.inUse = {folder_ + kept};
    housekeeper_.Check(std::move(check), nullptr, {});
    const ClipUse playing(folder_ + played);
    blocked = false;
    blocked.notify_all();
    Settle();
    SetClipUnlinkObserver(nullptr);
    EXPECT_FALSE(Exists(old) || Exists(removed));
    EXPECT_TRUE(Exists(played) && Entry(played));
    EXPECT_EQ(Column(*dialog->clipModel(), 0), QStringList({recent, played, kept}));
    EXPECT_EQ(Counts(*dialog), QStringList({"     3", "     0", "     3"}));
    EXPECT_EQ(dialog->clipList()->selectionModel()->selectedRows().size(), 1);
}

// The preview is the clip's first frame over the frame's cross; one cut off, garbage, longer
// than the buffer or a FIFO (reading it would wait for a writer for ever) shows nothing.
TEST_F(ClipBrowserTest, BrokenPreviewsShowNothing) {
    const QString fifo = Add(Clip{.start = "08:00", .files = false});
    ASSERT_EQ(::mkfifo(File(ImageNameOf(fifo)).c_str(), 0600), 0);
    const std::string broken[] = {Preview(32, 24, 0).substr(0, 1200), std::string(5000, '\xA7'),
                                  Preview(320, 320, qRgb(9, 9, 9))};  // whole, but too long
    ASSERT_GT(broken[2].size(), ClipBrowserDialog::kPreviewBufferSize);
    for (int minute = 0; minute < 3; ++minute) {
        const QString clip = Add(Clip{.start = QString::asprintf("09:%02d", minute)});
        test::WriteFileBytes(File(ImageNameOf(clip)), broken[minute]);
    }
    Add(Clip{.start = "12:00"});
    auto dialog = Open();
    ClipPreviewFrame* preview = dialog->previewFrame();
    SelectRows(dialog->clipList(), 0, 0);
    EXPECT_EQ(preview->picture().size(), QSize(32, 24));
    preview->resize(80, 60);
    EXPECT_EQ(preview->grab().toImage().pixel(40, 20), qRgb(200, 40, 10));
    for (int row = 1; row < 5; ++row) {  // the FIFO last: it returns at once
        SelectRows(dialog->clipList(), row, row);
        EXPECT_TRUE(preview->picture().isNull()) << row;
        preview->grab();
    }
}

// Only the start counts, and bounds equal to it pass; bounds the wrong way round list nothing
// and say why. All channels fill the channel column; one channel leaves it empty. Return plays
// the first six selected, each marked read in the browser's groups and in the index.
TEST_F(ClipBrowserTest, SearchBoundsEqualToTheStartPassAndOnlyTheStartCounts) {
    const QString atTen = Add(Clip{.start = "10:00", .end = "10:20"});
    Add(Clip{.start = "09:50", .end = "10:30", .open = 1});  // runs across the after bound
    Add(Clip{.start = "10:01"});
    Add(Clip{.date = "2002/12/02", .start = "23:59"});
    for (const char* start : {"10:00", "10:01", "10:02"}) {
        Add(Clip{.channel = 4, .location = "Yard", .date = "2002/12/01", .start = start});
    }
    auto browser = Open();
    ClipSearchDialog search(browser->groups(), index_, Players());
    // The names of the clips found between the times on 2002/12/03 (none: no bound).
    const auto between = [&](QTime after, QTime before) {
        search.afterCheck()->setChecked(after.isValid());
        search.beforeCheck()->setChecked(before.isValid());
        search.afterDate()->setDate(QDate(2002, 12, 3));
        search.beforeDate()->setDate(QDate(2002, 12, 3));
        search.afterTime()->setTime(after);
        search.beforeTime()->setTime(before);
        search.Search();
        return Column(*search.resultModel(), 0);
    };
    between({}, {});  // channels in the index's order
    EXPECT_EQ(Column(*search.resultModel(), 4),
              QStringList(3, "0004 Yard") + QStringList(4, "0003 Gate"));
    EXPECT_EQ(Counts(search), QStringList({"     7", "     1", "     6"}));

    search.channelList()->setCurrentIndex(2);  // 0003 Gate
    EXPECT_EQ(between(QTime(10, 0), QTime(10, 0)), QStringList({atTen}));
    EXPECT_EQ(Column(*search.resultModel(), 4), QStringList({""}));
    EXPECT_EQ(between(QTime(10, 0), {}).size(), 2);
    EXPECT_EQ(between({}, QTime(9, 59)).size(), 2);
    EXPECT_TRUE(between(QTime(10, 0), QTime(9, 59)).isEmpty());
    ASSERT_EQ(prompts_.texts().size(), 1);
    EXPECT_TRUE(prompts_.texts()[0].contains("later than")) << prompts_.texts()[0].toStdString();

    search.channelList()->setCurrentIndex(0);
    between({}, {});
    SelectRows(search.resultList(), 0, 6);
    QTest::keyClick(search.resultList(), Qt::Key_Return);
    EXPECT_EQ(played_.size(), 6);
    EXPECT_EQ(Counts(search), QStringList({"     7", "     6", "     1"}));
    for (const ClipRow& row : search.resultModel()->rows()) {
        const ClipRecord* record = FindRecord(browser->groups(), row.groupKey, row.fileName);
        ASSERT_TRUE(record && Entry(row.fileName)) << row.fileName.toStdString();
        EXPECT_TRUE(record->open == row.read && Entry(row.fileName)->open == row.read);
    }
}

// The range question answers once: the whole clip, the part with the times as typed (its start
// greyed until the part is chosen, and hidden when the part starts at a fixed frame), or nothing.
TEST(ExportRangeDialog, AnswersTheChoiceAndTheTimesOrNothing) {
    QWidget owner;
    owner.show();
    const QDateTime start(QDate(2026, 3, 1), QTime(10, 0));
    for (const bool partHasStart : {true, false}) {
        for (const int button : {0, 1, 2}) {  // whole, part, Cancel
            SCOPED_TRACE(testing::Message() << partHasStart << button);
            std::vector<std::optional<ExportRangeAnswer>> answers;
            ExportDialogs::chooseRange(&owner,
                                       {"Whole", "Part", partHasStart, start, start.addSecs(60)},
                                       [&](auto answer) { answers.push_back(answer); });
            auto* dialog = owner.findChild<QDialog*>();
            ASSERT_NE(dialog, nullptr);
            const auto edits = dialog->findChildren<QDateTimeEdit*>();
            ASSERT_EQ(edits.size(), 2);
            EXPECT_FALSE(edits[0]->isEnabled());
            EXPECT_EQ(edits[0]->isVisibleTo(dialog), partHasStart);
            if (button == 1) {
                dialog->findChildren<QRadioButton*>()[1]->setChecked(true);
                EXPECT_TRUE(edits[1]->isEnabled());
                edits[1]->setDateTime(start.addSecs(30));
            }
            button == 2 ? dialog->reject() : dialog->accept();
            ASSERT_EQ(answers.size(), 1u);
            ASSERT_EQ(answers[0].has_value(), button != 2);
            EXPECT_TRUE(button == 2 || answers[0]->whole == (button == 0));
            EXPECT_TRUE(button != 1 || answers[0]->end == start.addSecs(30));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
}

// Players of recorded clips and of sample clips (50 frames, a key frame every 12), with the
// export's questions answered by the test.
class ClipPlayerWindowTest : public test::RecordingStoreTest {
  protected:
    ClipPlayerWindowTest() {
        ExportDialogs::chooseRange = [this](auto&&, auto&&, auto answer) { answer(range); };
        ExportDialogs::chooseTarget = [this](auto&&, auto&&, auto answer) { answer(target); };
        ExportRun::finished = [this](const std::vector<ExportResult>& done) { results = done; };
    }
    ~ClipPlayerWindowTest() override {
        std::tie(ExportDialogs::chooseRange, ExportDialogs::chooseTarget) = saved;
        ExportRun::finished = nullptr;
    }

    ClipRecord Record(int frames) {
        RecordClip(test::EncodeFrames(sim::SimulatedCodec::Mpeg4, frames, {320, 240}));
        return Index().back();
    }
    ClipRecord Sample(int channel, const QString& location, QTime start = QTime(9, 26, 53)) {
        const QString path = test::WriteSampleClip(
            folder_, {.start = QDateTime(QDate(2026, 3, 14), start), .channel = channel});
        const QString day = "2026/03/14", at = start.toString("hh:mm");
        return {QFileInfo(path).fileName(), 0, channel, location, day, at, day, at, "", folder_};
    }
    bool Running() const { return !qApp->findChildren<ExportRun*>().isEmpty(); }
    bool WaitForResults() {
        return WaitUntil([this] { return !results.empty() && !Running(); }, 60000);
    }

    test::ScriptedPrompts prompts;
    QWidget owner;
    std::pair<ExportDialogs::RangeChooser, ExportDialogs::TargetChooser> saved{
        ExportDialogs::chooseRange, ExportDialogs::chooseTarget};
    std::optional<ExportRangeAnswer> range = ExportRangeAnswer{};
    QString target = folder_ + "gate.mp4";
    std::vector<ExportResult> results;
};

// A dialog-type window over its owner, as snapshots are: kept in front of the main window. It
// shows where the clip is; "Go to time", the speed slider, the zoom and the snapshot act on it.
TEST_F(ClipPlayerWindowTest, ThePlayerShowsItsClipAndItsPosition) {
    owner.show();
    QPointer<ClipPlayerWindow> player = ClipPlayerWindow::Open(Record(10), &owner);
    ASSERT_TRUE(player && WaitUntil([&] { return player->controlBar()->isEnabled(); }));
    EXPECT_EQ(player->windowType(), Qt::Dialog);
    EXPECT_EQ(player->windowHandle()->transientParent(), owner.windowHandle());

    // The counts, then when the frame on show was seen; the window never cuts the line off.
    const ClipTimeline& timeline = player->engine().playback()->timeline();
    const auto seen = [&](int frame) {
        return FrameTimeText(timeline.TimeOf(frame), timeline.utcOffsetSeconds());
    };
    player->RunCommand(cmd::kPlayerLastFrame);
    EXPECT_EQ(player->controlBar()->positionSlider()->value(), 10);
    player->RunCommand(cmd::kPlayerFirstFrame);
    player->RunCommand(cmd::kPlayerForward);
    EXPECT_EQ(player->statusText(), "Total: 1/10 Frame  --   0.5/5.0 Sec  --   " + seen(1));
    EXPECT_LE(player->fontMetrics().horizontalAdvance(player->statusText()), player->width());
    EXPECT_TRUE(WaitUntil([&] { return !player->shownPicture().isNull(); }));

    // "Go to time" starts at the frame on screen, reaches over the clip, and the time shown
    // for a frame (its microseconds dropped) finds that frame.
    player->RunCommand(cmd::kPlayerGoToTime);
    auto* dialog = player->findChild<GoToTimeDialog*>();
    ASSERT_TRUE(dialog);
    QDateTimeEdit* edit = dialog->editor();
    EXPECT_EQ(edit->text(), seen(1));
    const QString format = "yyyy-MM-dd HH:mm:ss.zzz";
    EXPECT_EQ(edit->minimumDateTime().toString(format) + edit->maximumDateTime().toString(format),
              seen(0) + seen(9));
    edit->setDateTime(edit->dateTime().addMSecs(3 * 500));
    dialog->accept();
    EXPECT_EQ(player->engine().currentFrame(), 4);

    // A click in the speed slider's channel moves one row, and the thumb follows the rate.
    player->controlBar()->speedSlider()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(player->engine().rateIndex(), 6);
    EXPECT_EQ(player->controlBar()->rateLabel()->text(), "x1.5");

    // Each zoom step sizes the window around the video (centred, one pixel left of the middle,
    // below the two header lines), the bars and the status line; the bars' width is the least.
    const int bars = player->toolBar()->sizeHint().height() + player->controlBar()->height();
    const int barWidth = player->minimumClientWidth();
    ASSERT_GT(barWidth, kZoomSizeTable[0].width());
    for (int step = 0; step < 6; ++step) {
        player->RunCommand(cmd::kPlayerDecrease);
    }
    for (int zoom = 0; zoom < 5; ++zoom) {
        SCOPED_TRACE(zoom);
        const QSize video = kZoomSizeTable[static_cast<std::size_t>(zoom)];
        const int width = std::max(video.width(), barWidth);
        EXPECT_EQ(player->size(), QSize(width, video.height() + bars + 3 * player->lineHeight()));
        EXPECT_EQ(player->videoRect(),
                  QRect((width - video.width()) / 2 - 1, 2 * player->lineHeight(), video.width(),
                        video.height()));
        player->RunCommand(cmd::kPlayerIncrease);
    }

    // A snapshot of a playing clip pauses it and saves the frame on show.
    const QString path = QString::fromStdString(temp_.File("frame.bmp"));
    SnapshotWindow::chooseSaveFile = [path](QWidget*) { return path; };
    player->engine().Play();
    player->RunCommand(cmd::kPlayerSnapshot);
    EXPECT_EQ(player->engine().state(), PlayerState::Paused);
    EXPECT_EQ(QFileInfo(path).size(), 54 + 320 * 240 * 3);
    player->close();
}

// So is a clip cut short while it plays.
TEST_F(ClipPlayerWindowTest, AClipThatCannotBeOpenedIsToldOverItsOwnWindowWhichCloses) {
    owner.setGeometry(0, 0, 200, 150);
    owner.show();
    const ClipRecord cut = Record(120);
    QPointer<ClipPlayerWindow> healthy = ClipPlayerWindow::Open(cut, &owner);
    QPointer<ClipPlayerWindow> player =
        ClipPlayerWindow::Open({"gone.avi", 0, 7, "Yard", "", "", "", "", "", folder_}, &owner);
    ASSERT_TRUE(healthy && player);
    // Placed beside the list a step apart, so where the box is centred is where the window is.
    const QRect failing = player->frameGeometry();
    EXPECT_FALSE(healthy->frameGeometry().intersects(owner.frameGeometry()));
    EXPECT_EQ(failing.topLeft() - healthy->frameGeometry().topLeft(), QPoint(24, 24));
    ASSERT_TRUE(WaitUntil([&] { return prompts.texts().size() == 1; }));
    EXPECT_EQ(prompts.texts()[0], "\n\n Open file error! \n\n");
    EXPECT_EQ(prompts.parents()[0], player);
    const QSize box(240, 120);
    EXPECT_EQ(QRect(MessageBoxTopLeft(*player, box), box).center(), failing.center());
    EXPECT_TRUE(WaitUntil([&] { return player.isNull() || !player->isVisible(); }));

    QFile file(cut.path + cut.fileName);
    ASSERT_TRUE(file.resize(file.size() / 2));
    healthy->engine().ApplyRate(healthy->engine().SetRateIndex(19));
    ASSERT_TRUE(WaitUntil([&] { return prompts.texts().size() == 2; }, 10000));
    EXPECT_EQ(prompts.texts()[1], "\n\n Open file error! \n\n");
    EXPECT_EQ(prompts.parents()[1], healthy);
    EXPECT_TRUE(WaitUntil([&] { return healthy.isNull() || !healthy->isVisible(); }));
}

TEST_F(ClipPlayerWindowTest, ClosingDoesNotWaitForAnOpenThatDoesNotReturn) {
    // A pipe nobody writes to: opening it waits, as a file on a share that stopped answering.
    const QByteArray stalled = QFile::encodeName(folder_ + "stalled.avi");
    ASSERT_EQ(mkfifo(stalled.constData(), 0600), 0);
    std::promise<void> closed;
    // Lets the open go on (to fail: the file is gone) once the window is closed, or after
    // FileGate's longest hold, so a close that waits fails instead of hanging.
    auto closedFirst = std::async(std::launch::async, [&, closing = closed.get_future()] {
        const auto hold = std::chrono::milliseconds(test::FileGate::kLongestHoldMs);
        const bool first = closing.wait_for(hold) == std::future_status::ready;
        const int fd = ::open(stalled.constData(), O_RDWR);
        ::unlink(stalled.constData());
        ::close(fd);
        return first;
    });
    QPointer<ClipPlayerWindow> player =
        ClipPlayerWindow::Open({"stalled.avi", 0, 7, "Yard", "", "", "", "", "", folder_}, &owner);
    ASSERT_TRUE(player);
    player->close();
    closed.set_value();
    EXPECT_TRUE(closedFirst.get());
    // The worker left behind finishes and frees itself.
    EXPECT_TRUE(WaitUntil([] { return ClipPlayback::workersRunning() == 0; }));
}

// From the player the whole clip, then from the frame on screen on (from the key frame before
// it, one every 12), the second time only once the operator agreed to replace the first file.
TEST_F(ClipPlayerWindowTest, PlayerExportsTheClipOrFromTheCurrentFrame) {
    ClipRecord clip = Sample(1, "Gate");
    clip.site = "[fd00::7]:1000";  // the manifest names the site its entry names
    QPointer<ClipPlayerWindow> player = ClipPlayerWindow::Open(clip, &owner);
    ASSERT_TRUE(player && WaitUntil([&] { return player->engine().isOpen(); }));
    player->RunCommand(cmd::kPlayerExport);
    ASSERT_TRUE(WaitForResults());
    EXPECT_EQ(prompts.texts().last(),
              exporttext::Done(target, 50, target + ExportManifest::kSuffix));
    EXPECT_EQ(results.front().manifest.site, clip.site);

    player->engine().SeekToFrame(30);
    range = ExportRangeAnswer{false, {}, QDateTime(QDate(2030, 1, 1), QTime(0, 0))};
    results.clear();
    prompts.Queue(PromptAnswer::No);
    player->RunCommand(cmd::kPlayerExport);
    EXPECT_EQ(prompts.texts().last(), exporttext::ReplaceQuestion(target));
    EXPECT_FALSE(Running());
    player->RunCommand(cmd::kPlayerExport);  // answered Yes
    ASSERT_TRUE(WaitForResults());
    EXPECT_EQ(results.front().manifest.frames, 50 - 24);

    // Its file cut short: the frames the export lacks are told with the rest.
    ASSERT_TRUE(test::CutClipAtFrame(clip.path + clip.fileName, 40));
    results.clear();
    player->RunCommand(cmd::kPlayerExport);
    ASSERT_TRUE(WaitForResults());
    EXPECT_EQ(prompts.texts().last(),
              exporttext::Done(target, 40 - 24, target + ExportManifest::kSuffix, 10));
}

// For each channel the clips between two times, one file per channel, the first named as
// chosen and the others after their channel; a time that holds no clip is told.
TEST_F(ClipPlayerWindowTest, BrowserExportsEachChannelBetweenTwoTimes) {
    const ClipRecord gate = Sample(1, "Gate");
    const ClipRecord later = Sample(1, "Gate", QTime(9, 40, 0));
    const ClipRecord yard = Sample(2, "Yard");
    const QDateTime nine(QDate(2026, 3, 14), QTime(9, 0));
    range = ExportRangeAnswer{false, nine, nine.addSecs(30 * 60)};
    ExportFromBrowser(&owner, {}, {{gate, later}, {yard}});
    ASSERT_TRUE(WaitForResults());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].file, target);
    EXPECT_EQ(results[0].manifest.sources.size(), 1u);
    EXPECT_EQ(results[1].file, folder_ + "gate-0002.mp4");
    EXPECT_EQ(results[1].manifest.channel, "Yard");

    range = ExportRangeAnswer{false, nine.addDays(1), nine.addDays(1).addSecs(30 * 60)};
    ExportFromBrowser(&owner, {}, {{gate, later}, {yard}});
    EXPECT_EQ(prompts.texts().last(), exporttext::kNoClipsBetween);

    results.clear();
    range = ExportRangeAnswer{};
    target = folder_ + "both.mp4";
    ExportFromBrowser(&owner, {later, gate}, {});
    ASSERT_TRUE(WaitForResults());
    EXPECT_EQ(results.front().manifest.frames, 100);
    EXPECT_EQ(results.front().manifest.sources.front().path, folder_ + gate.fileName);
}

}  // namespace
}  // namespace orvane
