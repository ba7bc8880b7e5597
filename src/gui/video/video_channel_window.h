#pragma once

#include "common/block.h"
#include "media/decoded_picture.h"
#include "site/site_interfaces.h"

#include <QImage>
#include <QMdiSubWindow>
#include <QPointer>

#include <memory>

class QAction;
class QToolBar;

namespace orvane {

class ClipRecorder;
class VideoWindowOwner;
class PictureView;
class SizingFrame;

// The live picture of one channel: a child window of the video area with a caption, a sizing
// border and a narrow toolbar at its left (Record, Stop, Fix, Snapshot, Close). The site
// connection creates it on the channel's first frame, hands it every picture and closes it;
// the channel's frames and state stay the connection's.
class VideoChannelWindow : public QMdiSubWindow, public ChannelWindow {
    Q_OBJECT
  public:
    // Picture sizes of the five size modes; mode 4 fills the video area.
    enum SizeMode { k160x120 = 0, k176x144 = 1, k320x240 = 2, k352x288 = 3, kWholeArea = 4 };
    VideoChannelWindow(const ChannelWindowParams& params, const QString& channelName,
                       VideoWindowOwner& owner, QWidget* parent = nullptr);
    ~VideoChannelWindow() override;

    // "%04d" of the channel id, a blank, and the channel's name.
    static QString TitleFor(std::int32_t channelId, const QString& channelName);
    // The size mode a picture width selects: 160, 176, 352 and 640 have their own, every
    // other width gives 320 x 240.
    static SizeMode SizeModeForWidth(int width);

    void SetVideoSize(int width, int height);
    void ApplySizeMode(SizeMode mode);
    SizeMode sizeMode() const { return sizeMode_; }
    void ShowCaption(bool show);
    bool captionShown() const { return captionShown_; }

    std::int32_t channelId() const { return static_cast<std::int32_t>(params_.channelId); }
    std::uint32_t channelNumber() const { return params_.channelNumber; }
    // The picture shown, made at the size it is shown at (the size of a window resized since
    // it came is caught up with by the next picture).
    const QImage& picture() const { return picture_.image; }
    // The shown picture at the size of its frame: what snapshots are made of. Made from the
    // decoded frame the picture came with, when the two sizes differ.
    QImage fullSizePicture() const;
    // The header of the frame the picture was decoded from.
    const BitmapInfoHeader& pictureSource() const { return picture_.source; }
    const BitmapInfoHeader& format() const { return params_.format; }
    QToolBar* toolBar() const { return toolBar_; }
    QWidget* pictureView() const;
    // The channel's latest frame as received (for snapshots): BITMAPINFOHEADER, colours,
    // data; empty when the window has no channel any more.
    Block latestFrame() const;
    bool IsStopped() const { return stopped_; }
    // The link has closed it; it goes once its close is over.
    bool isClosing() const { return closing_; }
    QAction* action(int commandId) const;
    // Recomputes which of the window's commands are enabled and checked.
    void UpdateCommands();

    // ChannelWindow
    QObject* object() override { return this; }
    void DrawPicture(const DecodedPicture& picture) override;
    QSize displaySize() const override;
    void MarkStopped() override;
    void MarkFeed(const QString& mark) override;
    void MarkReduced(bool reduced) override;
    // The picture carries the "reduced" mark: only the channel's key frames are shown.
    bool markedReduced() const { return reduced_; }
    // "No video since ..." while the feed is dead; empty while it is live.
    const QString& feedMark() const { return feedMark_; }
    FrameSink* StartAlarmActions() override;
    void CloseWindow() override;

    bool recording() const;
    const ClipRecorder* recorder() const { return recorder_.get(); }

    // The window's commands.
    // Starts a clip (the folder's trouble is told); the frame already here goes in first.
    void OnRecord();
    void OnStopRecord();
    void OnSnapshot();
    void OnFix();
    void OnClose();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    friend class PictureView;
    QSize FrameExtra() const;
    // Tells the connection the picture area's size when it changed.
    void PublishDisplaySize();
    // Ends the clip, whoever asked.
    void EndClip();
    // The window's recorder, made on its first recording.
    ClipRecorder& Recorder();
    // What this window's recording tells the main frame's outage notice.
    enum class Told { Failing, Writing, Withdrawn };
    void TellRecording(Told told, const QString& message = {});

    ChannelWindowParams params_;
    VideoWindowOwner& owner_;
    SizingFrame* content_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    PictureView* view_ = nullptr;
    DecodedPicture picture_;
    QSize publishedSize_;
    SizeMode sizeMode_ = k160x120;
    bool stopped_ = false;
    bool reduced_ = false;
    QString feedMark_;
    std::unique_ptr<ClipRecorder> recorder_;
    bool captionShown_ = true;
    bool closing_ = false;
    bool snapshotOnPicture_ = false;  // an alarm's snapshot waits for the first picture
};

namespace videotext {
inline constexpr const char* kCloseQuestion =
    "\n\n Are you sure close local site video channel? \n\n";
inline constexpr const char* kStopMark = "Stop.";
inline constexpr const char* kReducedMark = "reduced";
// Between the channel's name and the time in a snapshot's title.
inline constexpr const char* kSnapshotTimeSeparator = " -- ";
}  // namespace videotext

}  // namespace orvane
