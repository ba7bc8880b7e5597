#include "video/video_channel_window.h"

#include "common/log.h"
#include "common/outage_notice.h"
#include "media/clip_recorder.h"
#include "media/picture_scaler.h"
#include "shared/command_ids.h"
#include "shared/prompt_service.h"
#include "shared/tool_icons.h"
#include "site/site_session.h"
#include "video/sizing_frame.h"
#include "video/snapshot_window.h"
#include "video/video_window_owner.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

namespace orvane {

namespace {

struct ModeSize {
    int width;
    int height;
};
constexpr ModeSize kModeSizes[] = {{160, 120}, {176, 144}, {320, 240}, {352, 288}};
constexpr int kStopMarkOffset = 5;
// The recording mark: a red dot in the picture's top right corner.
constexpr int kRecordMarkDiameter = 12;
constexpr int kRecordMarkMargin = 6;
// How long an alarm's snapshot waits for the window's first picture.
constexpr int kAlarmSnapshotWaitMs = 2000;
// A dead feed's picture is covered by this much black, and its mark sits in the bottom left
// corner on a dark plate, readable over any picture.
constexpr int kDeadFeedDimAlpha = 150;
constexpr int kFeedMarkMargin = 4;
constexpr int kFeedMarkPadding = 3;

}  // namespace

// The picture part of the window, right of its toolbar: draws the latest picture, the stop
// mark, and lets the operator drag the window by it. Pictures are made at the size this
// part has in device pixels and drawn as they are; one made before the window was resized is
// stretched over it until the next one comes.
class PictureView : public QWidget {
  public:
    PictureView(VideoChannelWindow& window, VideoWindowOwner& owner)
        : QWidget(&window), window_(window), owner_(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
    }

  protected:
    void resizeEvent(QResizeEvent*) override { window_.PublishDisplaySize(); }
    void paintEvent(QPaintEvent*) override {
        // A move to a screen of another pixel ratio changes the size without a resize.
        window_.PublishDisplaySize();
        QPainter painter(this);
        const QImage& picture = window_.picture_.image;
        if (picture.isNull()) {
            painter.fillRect(rect(), Qt::black);
        } else if (picture.size() == window_.displaySize()) {
            if (devicePixelRatio() == 1.0) {
                painter.drawImage(QPoint(0, 0), picture);
            } else {
                painter.drawImage(QRectF(rect()), picture, QRectF(picture.rect()));
            }
        } else {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRectF(rect()), picture, QRectF(picture.rect()));
            painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        }
        if (!window_.feedMark_.isEmpty()) {
            PaintFeedMark(painter);
        }
        if (window_.reduced_) {
            PaintReducedMark(painter);
        }
        if (window_.stopped_) {
            painter.setPen(QColor(255, 0, 0));
            painter.drawText(QPoint(kStopMarkOffset, kStopMarkOffset + fontMetrics().ascent()),
                             videotext::kStopMark);
        }
        if (window_.recording()) {
            // Red inside a dark ring: seen on bright and on red pictures alike.
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(QColor(0, 0, 0), 2));
            painter.setBrush(QColor(255, 0, 0));
            painter.drawEllipse(width() - kRecordMarkMargin - kRecordMarkDiameter,
                                kRecordMarkMargin, kRecordMarkDiameter, kRecordMarkDiameter);
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            dragOffset_ = event->globalPosition().toPoint() - window_.pos();
            dragging_ = true;
        }
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        setCursor(owner_.videoSizeMode() ? Qt::SizeFDiagCursor : Qt::ArrowCursor);
        if (dragging_ && (event->buttons() & Qt::LeftButton)) {
            window_.move(event->globalPosition().toPoint() - dragOffset_);
        }
    }
    void mouseReleaseEvent(QMouseEvent*) override { dragging_ = false; }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (!owner_.videoSizeMode()) {
            QWidget::mouseDoubleClickEvent(event);
            return;
        }
        const int next = (static_cast<int>(window_.sizeMode_) + 1) % 5;
        window_.ApplySizeMode(static_cast<VideoChannelWindow::SizeMode>(next));
    }

  private:
    void PaintFeedMark(QPainter& painter) {
        painter.fillRect(rect(), QColor(0, 0, 0, kDeadFeedDimAlpha));
        const QFontMetrics metrics = fontMetrics();
        QRect plate(0, 0, metrics.horizontalAdvance(window_.feedMark_) + 2 * kFeedMarkPadding,
                    metrics.height() + 2 * kFeedMarkPadding);
        plate.moveBottomLeft(QPoint(kFeedMarkMargin, height() - 1 - kFeedMarkMargin));
        painter.fillRect(plate, QColor(0, 0, 0, 200));
        painter.setPen(QColor(255, 255, 0));
        painter.drawText(plate, Qt::AlignCenter, window_.feedMark_);
    }

    // In the bottom right corner, clear of the feed mark, on a dark plate like it.
    void PaintReducedMark(QPainter& painter) {
        const QString mark = QString::fromLatin1(videotext::kReducedMark);
        const QFontMetrics metrics = fontMetrics();
        QRect plate(0, 0, metrics.horizontalAdvance(mark) + 2 * kFeedMarkPadding,
                    metrics.height() + 2 * kFeedMarkPadding);
        plate.moveBottomRight(
            QPoint(width() - 1 - kFeedMarkMargin, height() - 1 - kFeedMarkMargin));
        painter.fillRect(plate, QColor(0, 0, 0, 200));
        painter.setPen(QColor(255, 160, 0));
        painter.drawText(plate, Qt::AlignCenter, mark);
    }

    VideoChannelWindow& window_;
    VideoWindowOwner& owner_;
    QPoint dragOffset_;
    bool dragging_ = false;
};

VideoChannelWindow::VideoChannelWindow(const ChannelWindowParams& params,
                                       const QString& channelName, VideoWindowOwner& owner,
                                       QWidget* parent)
    : QMdiSubWindow(parent), params_(params), owner_(owner) {
    setAttribute(Qt::WA_DeleteOnClose);
    // Caption and sizing border, but no system menu: the window closes only through its
    // Close command or its connection.
    setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setSystemMenu(nullptr);
    setWindowTitle(TitleFor(channelId(), channelName));

    content_ = new SizingFrame(this);
    auto* row = new QHBoxLayout(content_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    toolBar_ = new QToolBar(content_);
    toolBar_->setOrientation(Qt::Vertical);
    toolBar_->setIconSize(QSize(16, 16));
    // Each command's status-bar prompt, and its tooltip.
    auto add = [this](ToolGlyph glyph, const QString& prompt, const QString& tip, int id) {
        QAction* a = toolBar_->addAction(ToolIcon(glyph), tip);
        a->setData(id);
        a->setStatusTip(prompt);
        a->setToolTip(tip);
        return a;
    };
    add(ToolGlyph::Record, tr("Start video channel record"), tr("Record"), cmd::kStartRecord);
    add(ToolGlyph::StopRecord, tr("Stop video channel record"), tr("Stop"), cmd::kStopRecord);
    toolBar_->addSeparator();
    QAction* fix = add(ToolGlyph::Fix, tr("Fix video channel"), tr("Fix"), cmd::kFixChannel);
    fix->setCheckable(true);
    toolBar_->addSeparator();
    add(ToolGlyph::Snapshot, tr("Snapshot"), tr("Snapshot"), cmd::kSnapshot);
    toolBar_->addSeparator();
    add(ToolGlyph::Close, tr("Close video channel"), tr("Close"), cmd::kCloseChannel);
    connect(action(cmd::kStartRecord), &QAction::triggered, this, [this] { OnRecord(); });
    connect(action(cmd::kStopRecord), &QAction::triggered, this, [this] { OnStopRecord(); });
    connect(action(cmd::kSnapshot), &QAction::triggered, this, [this] { OnSnapshot(); });
    connect(action(cmd::kFixChannel), &QAction::triggered, this, [this] { OnFix(); });
    connect(action(cmd::kCloseChannel), &QAction::triggered, this, [this] { OnClose(); });
    view_ = new PictureView(*this, owner_);
    row->addWidget(toolBar_);
    row->addWidget(view_, 1);
    setWidget(content_);
    resize(160, 120);
    ShowCaption(owner_.toolbarsVisible());
    // Made while the link dispatches the channel's first frame, before the link counts this
    // window: the commands that read the link are set once the windows-changed notice comes.
    action(cmd::kStopRecord)->setEnabled(false);
    action(cmd::kFixChannel)->setEnabled(false);
    action(cmd::kCloseChannel)->setEnabled(params_.closePermission);
}

VideoChannelWindow::~VideoChannelWindow() = default;

QString VideoChannelWindow::TitleFor(std::int32_t channelId, const QString& channelName) {
    return QString::asprintf("%04d ", channelId) + channelName;
}

VideoChannelWindow::SizeMode VideoChannelWindow::SizeModeForWidth(int width) {
    switch (width) {
        case 160:
            return k160x120;
        case 176:
            return k176x144;
        case 352:
            return k352x288;
        case 640:
            return kWholeArea;
        default:
            return k320x240;
    }
}

QWidget* VideoChannelWindow::pictureView() const {
    return view_;
}

QAction* VideoChannelWindow::action(int commandId) const {
    for (QAction* a : toolBar_->actions()) {
        if (a->data().toInt() == commandId) {
            return a;
        }
    }
    return nullptr;
}

void VideoChannelWindow::UpdateCommands() {
    const SiteSession& session = owner_.session();
    action(cmd::kStartRecord)->setEnabled(!recording());
    action(cmd::kStopRecord)->setEnabled(recording());
    action(cmd::kFixChannel)->setEnabled(session.OpenWindowCount() > 1);
    action(cmd::kFixChannel)->setChecked(session.fixedWindow() == this);
    action(cmd::kCloseChannel)->setEnabled(params_.closePermission);
}

QSize VideoChannelWindow::FrameExtra() const {
    // Caption and border around the content, and the content's own border in the full view:
    // what the window adds to its toolbar and picture.
    const QSize content = widget() ? widget()->size() : QSize();
    const int border = 2 * content_->border();
    return size() - content + QSize(border, border);
}

void VideoChannelWindow::SetVideoSize(int width, int /*height*/) {
    ApplySizeMode(SizeModeForWidth(width));
}

void VideoChannelWindow::ApplySizeMode(SizeMode mode) {
    sizeMode_ = mode;
    if (mode == kWholeArea) {
        if (QMdiArea* area = mdiArea()) {
            move(0, 0);
            resize(area->viewport()->size());
        }
        return;
    }
    const ModeSize picture = kModeSizes[mode];
    const int toolbarWidth =
        toolBar_->isVisible() || captionShown_ ? toolBar_->sizeHint().width() : 0;
    layout()->activate();
    resize(FrameExtra() + QSize(toolbarWidth + picture.width, picture.height));
}

void VideoChannelWindow::ShowCaption(bool show) {
    captionShown_ = show;
    const QPoint at = pos();
    // A sub-window without title hint still draws an empty title strip, so the full view's
    // window is frameless, and its content draws the sizing border instead.
    Qt::WindowFlags flags = Qt::SubWindow | Qt::CustomizeWindowHint;
    flags |= show ? Qt::WindowTitleHint : Qt::FramelessWindowHint;
    const bool wasVisible = isVisible();
    setWindowFlags(flags);
    content_->SetBorder(
        show ? 0 : style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this));
    toolBar_->setVisible(show);
    move(at);
    if (wasVisible) {
        QMdiSubWindow::show();
    }
}

Block VideoChannelWindow::latestFrame() const {
    return owner_.session().LatestFrame(this);
}

QSize VideoChannelWindow::displaySize() const {
    const qreal ratio = view_->devicePixelRatio();
    return QSize(qRound(view_->width() * ratio), qRound(view_->height() * ratio));
}

void VideoChannelWindow::PublishDisplaySize() {
    const QSize size = displaySize();
    if (size != publishedSize_) {
        publishedSize_ = size;
        owner_.session().SetDisplaySize(this, size);
    }
}

QImage VideoChannelWindow::fullSizePicture() const {
    return FullSizePicture(picture_);
}

void VideoChannelWindow::DrawPicture(const DecodedPicture& picture) {
    picture_ = picture;
    if (snapshotOnPicture_) {
        snapshotOnPicture_ = false;
        QMetaObject::invokeMethod(action(cmd::kSnapshot), &QAction::trigger, Qt::QueuedConnection);
    }
    // A window out of sight keeps its picture (for a snapshot) but is not painted.
    if (view_->isVisible()) {
        view_->update();
    }
}

void VideoChannelWindow::MarkStopped() {
    stopped_ = true;
    view_->update();
}

void VideoChannelWindow::MarkReduced(bool reduced) {
    reduced_ = reduced;
    view_->update();
}

void VideoChannelWindow::MarkFeed(const QString& mark) {
    feedMark_ = mark;
    view_->update();
}

FrameSink* VideoChannelWindow::StartAlarmActions() {
    // The connection is still dispatching the frame that made this window: the clip starts
    // now and takes that frame, and what the operator sees of it follows from a posted call.
    QString error;
    const bool started = !recording() && Recorder().StartRecording(owner_.recordPath(), {}, error);
    QPointer<VideoChannelWindow> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, error] {
            if (!self) {
                return;
            }
            self->UpdateCommands();
            self->view_->update();
            if (!error.isEmpty()) {
                self->TellRecording(Told::Failing, error);
            } else if (self->recording()) {
                self->TellRecording(Told::Writing);
            }
        },
        Qt::QueuedConnection);
    // The snapshot wants that frame's picture, which a decoding thread is still making: it is
    // taken when the picture comes, or from the frame itself if none comes in time.
    snapshotOnPicture_ = true;
    QTimer::singleShot(kAlarmSnapshotWaitMs, this, [this] {
        if (snapshotOnPicture_) {
            snapshotOnPicture_ = false;
            action(cmd::kSnapshot)->trigger();
        }
    });
    return started ? recorder_.get() : nullptr;
}

void VideoChannelWindow::CloseWindow() {
    closing_ = true;
    close();
}

void VideoChannelWindow::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        event->ignore();  // only the Close command or the connection closes a channel window
        return;
    }
    // The window is going: its clip ends, and nothing of the link is asked (the link closes
    // this window while it removes its channels, and detaches the recorder with it).
    if (recorder_) {
        recorder_->StopRecording();
    }
    TellRecording(Told::Withdrawn);
    QMdiSubWindow::closeEvent(event);
}

bool VideoChannelWindow::recording() const {
    return recorder_ && recorder_->recording();
}

ClipRecorder& VideoChannelWindow::Recorder() {
    if (recorder_) {
        return *recorder_;
    }
    VideoWindowOwner& owner = owner_;
    recorder_ = std::make_unique<ClipRecorder>(
        owner_.store(), [&owner](std::int32_t id) { return owner.channelName(id); }, channelId(),
        params_.format);
    if (auto opener = owner_.recordFileOpener()) {
        recorder_->SetFileOpener(std::move(opener));
    }
    // Frames arrive inside the connection's dispatch: what the recorder tells is acted on
    // from a posted call.
    QPointer<VideoChannelWindow> self(this);
    recorder_->SetFailureHandler([self](const QString& message) {
        QMetaObject::invokeMethod(
            self,
            [self, message] {
                if (!self) {
                    return;
                }
                self->TellRecording(Told::Failing, message);
                self->owner_.RecordingFailing();
                // The clip's file or its folder went from under it (deleted by the operator,
                // a volume unmounted): the recording goes on in a new clip, where a start now
                // would put it, so that an unattended window never stops recording. When
                // that start fails too, the failure stands until one records.
                if (self->recorder_ && self->recorder_->endedByFailure()) {
                    self->EndClip();
                    self->OnRecord();
                }
            },
            Qt::QueuedConnection);
    });
    recorder_->SetWritingAgainHandler([self] {
        QMetaObject::invokeMethod(
            self,
            [self] {
                if (self) {
                    self->TellRecording(Told::Writing);
                }
            },
            Qt::QueuedConnection);
    });
    return *recorder_;
}

void VideoChannelWindow::OnRecord() {
    if (recording()) {
        return;
    }
    QString error;
    // The frames already here go in first, from the channel's latest key frame.
    if (!owner_.session().StartRecording(this, Recorder(), owner_.recordPath(), error)) {
        UpdateCommands();
        // Told with every other recording that fails now, never by a box of this window's:
        // an alarm opening many windows into a folder that is gone would stack them.
        TellRecording(Told::Failing, error);
        return;
    }
    TellRecording(Told::Writing);
    UpdateCommands();
    view_->update();
    owner_.RecordingStarted(channelId());
}

void VideoChannelWindow::OnStopRecord() {
    if (!recorder_) {
        return;
    }
    const bool wasRecording = recording();
    EndClip();
    // Stopped by the operator: no longer a recording that fails, nor one a start resumes.
    TellRecording(Told::Withdrawn);
    if (wasRecording) {
        owner_.RecordingStoppedByOperator(channelId());
    }
}

void VideoChannelWindow::EndClip() {
    owner_.session().StopRecording(*recorder_);
    UpdateCommands();
    view_->update();
}

void VideoChannelWindow::TellRecording(Told told, const QString& message) {
    OutageNotice* outages = owner_.outages();
    if (!outages) {
        if (told == Told::Failing) {
            qCWarning(lcMedia).noquote() << message;
        }
        return;
    }
    const QString key = QStringLiteral("recording %1").arg(quintptr(this), 0, 16);
    switch (told) {
        case Told::Failing:
            outages->Report(OutageKind::Recording, key, message);
            break;
        case Told::Writing:
            outages->Resolve(OutageKind::Recording, key);
            break;
        case Told::Withdrawn:
            outages->Withdraw(OutageKind::Recording, key);
            break;
    }
}

void VideoChannelWindow::OnSnapshot() {
    const QString title = windowTitle() + videotext::kSnapshotTimeSeparator +
                          QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    // One conversion of the kept frame on this thread when the picture shown is smaller: a
    // snapshot is a picture of the camera's, not of the window's.
    const QImage picture = fullSizePicture();
    const Block frame = picture.isNull() ? latestFrame() : Block();
    SnapshotWindow::Create(picture, frame, title, parentWidget() ? parentWidget() : this);
}

void VideoChannelWindow::OnFix() {
    owner_.session().FixChannel(this);
    UpdateCommands();
}

void VideoChannelWindow::OnClose() {
    if (owner_.session().linkId() == 0 || !params_.closePermission) {
        return;
    }
    if (stopped_) {
        if (recording()) {
            owner_.RecordingStoppedByOperator(channelId());
        }
        owner_.session().CloseChannel(this, false);
        return;
    }
    // The question runs the event loop: the link may drop and close this window, or the
    // connection may be torn down, before it is answered.
    QPointer<VideoChannelWindow> self(this);
    VideoWindowOwner& owner = owner_;
    const PromptAnswer answer = PromptService::Show(this, videotext::kCloseQuestion,
                                                    PromptButtons::YesNo, PromptIcon::Exclamation);
    if (answer != PromptAnswer::Yes || !self) {
        return;
    }
    if (recording()) {
        owner.RecordingStoppedByOperator(channelId());
    }
    owner.session().CloseChannel(this, true);
}

}  // namespace orvane
