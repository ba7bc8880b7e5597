// Recording and snapshots from the live channel windows, against the simulated site.
#include "common/outage_notice.h"
#include "media/clip_recorder.h"
#include "support/independent_readers.h"
#include "support/running_app.h"

#include <QDir>

#include <algorithm>

namespace orvane {
namespace {

using test::WaitUntil;

class Recording : public test::RunningApp {
  protected:
    void SetUp() override {
        Start();
        ASSERT_TRUE(window = WatchFirstChannel());
    }
    VideoChannelWindow* window = nullptr;
};

// Record writes the buffered frames at once and shows its mark; Stop or Disconnect ends the clip.
TEST_F(Recording, RecordWritesTheBufferedFrameAtOnceShowsItsMarkAndStopEndsTheClip) {
    window->action(cmd::kStartRecord)->trigger();
    ASSERT_TRUE(window->recording());
    // The frames already received since the latest key frame went in at once.
    EXPECT_GE(window->recorder()->frameIndex(), 1u);
    const QString avi = window->recorder()->aviFilePath();
    // The mark: a red dot at the top right inside a dark ring, seen on a red corner too.
    const QImage shown = window->pictureView()->grab().toImage();
    const QColor mark = shown.pixelColor(shown.width() - 12, 12);
    EXPECT_GT(mark.red(), 200);
    EXPECT_LT(mark.green(), 60);
    int darkest = 255;
    for (int x = shown.width() - 12; x < shown.width(); ++x) {
        darkest = std::min(darkest, shown.pixelColor(x, 12).red());
    }
    EXPECT_LT(darkest, 80);
    EXPECT_GT(shown.pixelColor(shown.width() - 1, 12).red(), 200);

    ASSERT_TRUE(WaitUntil([&] { return window->recorder()->frameIndex() >= 20; }));
    window->action(cmd::kStopRecord)->trigger();
    EXPECT_FALSE(window->recording());
    EXPECT_GE(test::ProbeVideo(avi.toStdString()).packetKeys.size(), 20u);

    SCOPED_TRACE("a Disconnect while recording leaves a closed complete clip and its entry");
    window->action(cmd::kStartRecord)->trigger();
    const QString second = window->recorder()->aviFilePath();
    ASSERT_TRUE(WaitUntil([&] { return window->recorder()->frameIndex() >= 10; }));
    frame->RunCommand(cmd::kDisconnect);
    ASSERT_TRUE(WaitUntil([&] { return frame->channelWindows().isEmpty(); }));
    const auto riff = test::RiffFile::Load(second.toStdString());
    ASSERT_TRUE(riff);
    EXPECT_EQ(riff->FindAll("idx1").size(), 1u);  // written only by an orderly end
    EXPECT_EQ(Index().size(), 2u);
}

TEST_F(Recording, AFolderRemovedWhileRecordingGoesOnInTheDefaultFolderToldOnce) {
    const QString videos = QString::fromStdString(temp.folder()) + "/videos/";
    app.settings().SetDefaultRecordFolder(videos.toStdString());
    window->action(cmd::kStartRecord)->trigger();
    ASSERT_TRUE(window->recording());
    ASSERT_TRUE(QDir(folder).removeRecursively());

    ASSERT_TRUE(WaitUntil([&] { return window->recorder()->aviFilePath().startsWith(videos); }));
    EXPECT_TRUE(window->recording());
    EXPECT_FALSE(QDir(folder).exists()) << "a missing folder is never made again";
    ASSERT_TRUE(WaitUntil([&] { return Index().size() == 1u; }));
    EXPECT_EQ(Index()[0].path, videos) << "no entry for the clip that went";
    // Told once no other recording has failed for a while.
    EXPECT_TRUE(WaitUntil([&] { return frame->statusLine().contains("Writing resumed at"); },
                          OutageNotice::SettleMs(OutageKind::Recording) + 3000))
        << frame->statusLine().toStdString();
    EXPECT_TRUE(prompts.shown().empty());
}

// A second channel dialog never stacks on the first; Snapshot freezes the picture in a window
// of its own, over the middle of the main window, and the next a step down and right.
TEST_F(Recording, ALoginAgainWhileTheChannelDialogIsOpenStacksNoSecondDialogAndSnapshot) {
    test::ModalScript script;
    script.Then<OpenChannelDialog>([&](OpenChannelDialog* dialog) {
        frame->RunCommand(cmd::kOpenChannel);  // what a site's next login asks for
        dialog->reject();
    });
    frame->RunCommand(cmd::kOpenChannel);
    EXPECT_EQ(script.unexpected(), 0) << "a second dialog opened over the first";
    script.Then<OpenChannelDialog>(Reject);
    frame->RunCommand(cmd::kOpenChannel);  // closed, the command opens the dialog again
    EXPECT_TRUE(script.finished());

    window->action(cmd::kSnapshot)->trigger();
    ASSERT_EQ(SnapshotWindows().size(), 1);
    SnapshotWindow* snapshot = SnapshotWindows()[0];
    EXPECT_TRUE(snapshot->isVisible());
    EXPECT_LE((snapshot->geometry().center() - frame->geometry().center()).manhattanLength(), 2);
    EXPECT_EQ(snapshot->picture().size(), QSize(320, 240));
    // The next one a step down and right, so that it hides none of the one before.
    window->action(cmd::kSnapshot)->trigger();
    const auto both = SnapshotWindows();
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ((both[0] == snapshot ? both[1] : both[0])->pos() - snapshot->pos(), QPoint(24, 24));
}

}  // namespace
}  // namespace orvane
