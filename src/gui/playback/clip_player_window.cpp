#include "playback/clip_player_window.h"

#include "media/bmp_file.h"
#include "playback/export_dialog.h"
#include "playback/go_to_time_dialog.h"
#include "playback/player_control_bar.h"
#include "shared/command_ids.h"
#include "shared/prompt_service.h"
#include "shared/tool_icons.h"
#include "shared/window_cascade.h"
#include "video/snapshot_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QToolBar>

#include <algorithm>

namespace orvane {
namespace {

constexpr QColor kHeaderBackground(245, 222, 179);
constexpr QColor kTitleText(0, 0, 240);
constexpr QColor kTitleBackground(224, 224, 224);
constexpr QColor kTealText(0, 128, 128);
constexpr QColor kStatusBackground(245, 245, 220);
constexpr int kIdleSource = 120;

// The picture a player shows while it has no clip: stretched from its top left 120 x 120.
const QImage& IdlePicture() {
    static const QImage picture = [] {
        QImage image(kIdleSource, kIdleSource, QImage::Format_RGB32);
        QPainter p(&image);
        QLinearGradient shade(0, 0, 0, kIdleSource);
        shade.setColorAt(0, QColor(30, 40, 70));
        shade.setColorAt(1, QColor(10, 12, 20));
        p.fillRect(image.rect(), shade);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 110, 150));
        QPolygonF play;
        play << QPointF(48, 40) << QPointF(80, 60) << QPointF(48, 80);
        p.drawPolygon(play);
        return image;
    }();
    return picture;
}

}  // namespace

// The video, drawn from the pictures the graph presents, stretched over the widget.
class PlayerVideoView : public QWidget, public VideoSurface {
  public:
    explicit PlayerVideoView(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    void Present(const QImage& picture) override {
        picture_ = picture;
        update();
    }
    const QImage& picture() const { return picture_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (picture_.isNull()) {
            painter.fillRect(rect(), Qt::black);
        } else {
            painter.drawImage(rect(), picture_);
        }
    }

  private:
    QImage picture_;
};

// A dialog-type window, as snapshots are: only such a window tells the window manager whose it
// is (WM_TRANSIENT_FOR on X11), and so stays in front of the window that opened it and of the
// main window when that comes to the front (a link that logs in again opens the channel dialog
// over it). A plain window would drop behind it.
constexpr Qt::WindowFlags kPlayerWindowFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

ClipPlayerWindow::ClipPlayerWindow(QWidget* owner)
    : QWidget(owner, kPlayerWindowFlags), engine_(*this) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(playertext::kIdleTitle);
    const QFontMetrics metrics = fontMetrics();
    lineHeight_ = metrics.height() + metrics.leading() + 2;
    statusWidth_ = metrics.horizontalAdvance(
                       QStringLiteral("Total: 000000/000000 Frame  --   00000.0/00000.0 Sec  "
                                      "--   0000-00-00 00:00:00.000")) +
                   2 * lineHeight_;

    toolBar_ = new QToolBar(this);
    toolBar_->setIconSize(QSize(24, 24));
    struct Button {
        int id;
        ToolGlyph glyph;
        const char* prompt;
        const char* tip;
    };
    const Button buttons[] = {
        {cmd::kPlayerPlay, ToolGlyph::Play, "Play", "Play"},
        {cmd::kPlayerPause, ToolGlyph::Pause, "Pause", "Pause"},
        {cmd::kPlayerStop, ToolGlyph::StopPlay, "Stop", "Stop"},
        {0, {}, nullptr, nullptr},
        {cmd::kPlayerFirstFrame, ToolGlyph::FirstFrame, "Frist frame", "Go top"},
        {cmd::kPlayerRewind, ToolGlyph::StepBack, "Rewind", "Rewind"},
        {cmd::kPlayerForward, ToolGlyph::StepForward, "Forward", "Forward"},
        {cmd::kPlayerLastFrame, ToolGlyph::LastFrame, "Last frame", "Go bottom"},
        {0, {}, nullptr, nullptr},
        {cmd::kPlayerIncrease, ToolGlyph::ZoomIn, "Increase video window", "Increase"},
        {cmd::kPlayerDecrease, ToolGlyph::ZoomOut, "Decrease video window", "Decrease"},
        {0, {}, nullptr, nullptr},
        {cmd::kPlayerSnapshot, ToolGlyph::Snapshot, "Snapshot", "Snapshot"},
        {cmd::kPlayerGoToTime, ToolGlyph::GoToTime, playertext::kGoToTime, playertext::kGoToTime},
    };
    for (const Button& button : buttons) {
        if (button.id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* a = toolBar_->addAction(ToolIcon(button.glyph), tr(button.tip));
        a->setData(button.id);
        a->setStatusTip(tr(button.prompt));
        a->setToolTip(tr(button.tip));
        const int id = button.id;
        connect(a, &QAction::triggered, this, [this, id] { RunCommand(id); });
    }
    QAction* exportClip = toolBar_->addAction(tr(exporttext::kAction));
    exportClip->setData(cmd::kPlayerExport);
    exportClip->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    connect(exportClip, &QAction::triggered, this, [this] { RunCommand(cmd::kPlayerExport); });
    toolBar_->adjustSize();
    controlBar_ = new PlayerControlBar(engine_, this);
    controlBar_->setEnabled(false);
    video_ = new PlayerVideoView(this);
    video_->hide();
    SetVideoSize(kZoomSizeTable[kDefaultZoomIndex].width(),
                 kZoomSizeTable[kDefaultZoomIndex].height());
}

ClipPlayerWindow::~ClipPlayerWindow() {
    engine_.CloseClip();
}

ClipPlayerWindow* ClipPlayerWindow::Open(const ClipRecord& clip, QWidget* owner) {
    auto* window = new ClipPlayerWindow(owner);
    window->PlaceBesideOwner();
    window->show();
    QPointer<ClipPlayerWindow> alive(window);
    window->OpenClip(clip);
    return alive.data();
}

void ClipPlayerWindow::PlaceBesideOwner() {
    QWidget* owner = parentWidget();
    if (!owner) {
        return;
    }
    int others = 0;
    for (QObject* child : owner->children()) {
        auto* player = qobject_cast<ClipPlayerWindow*>(child);
        others += player && player != this && player->isVisible() ? 1 : 0;
    }
    const QWidget* window = owner->window();
    if (const QScreen* screen = window->screen()) {
        move(BesideTopLeft(window->frameGeometry(), size(), others, screen->availableGeometry()));
    } else {
        move(CascadedTopLeft(window->geometry(), size(), others));
    }
}

bool ClipPlayerWindow::OpenClip(const ClipRecord& clip) {
    inUse_.reset();
    inUse_.emplace(clip.path + clip.fileName);
    clip_ = clip;
    if (!engine_.OpenClip(clip)) {
        ReportOpenError();
        return false;
    }
    return true;
}

void ClipPlayerWindow::OpenFinished(bool opened) {
    setWindowTitle(engine_.windowTitle().isEmpty() ? QString(playertext::kIdleTitle)
                                                   : engine_.windowTitle());
    if (!opened) {
        ReportOpenError();
    }
}

void ClipPlayerWindow::ReportOpenError() {
    if (errorReported_) {
        return;
    }
    errorReported_ = true;
    // Told from the event loop, after the engine's notification has returned; the window
    // closes once the message is over.
    QMetaObject::invokeMethod(
        this,
        [this] {
            QPointer<ClipPlayerWindow> self(this);
            PromptService::Show(this, playertext::kOpenFileError, PromptButtons::Ok,
                                PromptIcon::Exclamation);
            if (self) {
                close();
            }
        },
        Qt::QueuedConnection);
}

int ClipPlayerWindow::BarsHeight() const {
    return toolBar_->sizeHint().height() + controlBar_->sizeHint().height();
}

void ClipPlayerWindow::SetVideoSize(int width, int height) {
    const int widest = std::max(width, minimumClientWidth());
    const QSize client(widest, height + BarsHeight() + 3 * lineHeight_);
    setFixedSize(client);
    const int top = client.height() - BarsHeight();
    controlBar_->setGeometry(0, top, widest, controlBar_->sizeHint().height());
    toolBar_->setGeometry(0, top + controlBar_->sizeHint().height(), widest,
                          toolBar_->sizeHint().height());
    // Centred, one pixel left of the middle, as the player always placed it.
    video_->setGeometry((widest - width) / 2 - 1, 2 * lineHeight_, width, height);
    video_->setVisible(engine_.isOpen());
    update();
}

int ClipPlayerWindow::minimumClientWidth() const {
    return std::max({toolBar_->sizeHint().width(), controlBar_->sizeHint().width(), statusWidth_});
}

QRect ClipPlayerWindow::videoRect() const {
    return video_->geometry();
}

QRect ClipPlayerWindow::HeaderRect() const {
    return QRect(0, 0, width(), 2 * lineHeight_);
}

QRect ClipPlayerWindow::StatusRect() const {
    return QRect(0, height() - BarsHeight() - lineHeight_, width(), lineHeight_);
}

QString ClipPlayerWindow::statusText() const {
    QString text = QString::asprintf("Total: %d/%d Frame  --   %.1f/%.1f Sec",
                                     static_cast<int>(engine_.currentFrame()),
                                     static_cast<int>(engine_.durationFrames()),
                                     engine_.currentSeconds(), engine_.durationSeconds());
    if (engine_.isOpen()) {
        text += QStringLiteral("  --   ") + engine_.currentTimeText();
    }
    return text;
}

void ClipPlayerWindow::ResetZoom() {
    zoomIndex_ = kDefaultZoomIndex;
    SetVideoSize(kZoomSizeTable[kDefaultZoomIndex].width(),
                 kZoomSizeTable[kDefaultZoomIndex].height());
}

void ClipPlayerWindow::UpdatePositionText() {
    engine_.RefreshPosition();
    controlBar_->SetPosition(engine_.currentFrame());
    update(StatusRect());
}

void ClipPlayerWindow::UpdateSpeedText() {
    controlBar_->SetRateLabel(kRateTable[static_cast<std::size_t>(engine_.rateIndex())].label);
    const double perFrame = engine_.averageTimePerFrame();
    controlBar_->SetFpsText(QString::asprintf("FPS: %2.1f", perFrame > 0 ? 1.0 / perFrame : 0.0));
}

void ClipPlayerWindow::EnableControls(std::int64_t durationFrames, int rateIndex) {
    controlBar_->SetPositionRange(durationFrames);
    controlBar_->SetSpeedPosition(rateIndex);
    controlBar_->setEnabled(true);
    video_->show();
}

VideoSurface* ClipPlayerWindow::surface() {
    return video_;
}

const QImage& ClipPlayerWindow::shownPicture() const {
    return video_->picture();
}

QAction* ClipPlayerWindow::action(int commandId) const {
    for (QAction* a : toolBar_->actions()) {
        if (a->data().toInt() == commandId) {
            return a;
        }
    }
    return nullptr;
}

void ClipPlayerWindow::RunCommand(int commandId) {
    switch (commandId) {
        case cmd::kPlayerPlay:
            engine_.Play();
            UpdatePositionText();
            break;
        case cmd::kPlayerPause:
            engine_.Pause();
            UpdatePositionText();
            break;
        case cmd::kPlayerStop:
            engine_.Stop();
            UpdatePositionText();
            break;
        case cmd::kPlayerFirstFrame:
            engine_.GoFirstFrame();
            break;
        case cmd::kPlayerRewind:
            engine_.StepBack();
            break;
        case cmd::kPlayerForward:
            engine_.StepForward();
            break;
        case cmd::kPlayerLastFrame:
            engine_.GoLastFrame();
            break;
        case cmd::kPlayerIncrease:
        case cmd::kPlayerDecrease: {
            const int step = commandId == cmd::kPlayerIncrease ? 1 : -1;
            zoomIndex_ =
                std::clamp(zoomIndex_ + step, 0, static_cast<int>(kZoomSizeTable.size()) - 1);
            const QSize size = kZoomSizeTable[static_cast<std::size_t>(zoomIndex_)];
            SetVideoSize(size.width(), size.height());
            break;
        }
        case cmd::kPlayerSnapshot:
            SaveSnapshot();
            break;
        case cmd::kPlayerGoToTime:
            GoToTime();
            break;
        case cmd::kPlayerExport:
            ExportFromPlayer(this, clip_, engine_.currentFrame());
            break;
        default:
            break;
    }
}

void ClipPlayerWindow::SaveSnapshot() {
    if (!engine_.isOpen()) {
        return;
    }
    engine_.Pause();
    const Block image = engine_.playback()->GetCurrentImage();
    if (image.empty()) {
        return;
    }
    QPointer<ClipPlayerWindow> self(this);
    const QString path = SnapshotWindow::chooseSaveFile(this);
    if (!self || path.isEmpty()) {
        return;
    }
    QString error;
    if (!WriteBmpFile(path, image, error)) {
        PromptService::Show(this, QString(snaptext::kSaveFailed).arg(path, error),
                            PromptButtons::Ok, PromptIcon::Exclamation);
        return;
    }
    PromptService::Show(this, playertext::kSaveOk);
}

void ClipPlayerWindow::GoToTime() {
    if (!engine_.isOpen()) {
        return;
    }
    const ClipTimeline& timeline = engine_.playback()->timeline();
    // Window-modal without a loop of its own: the answer comes back as a notification.
    auto* dialog =
        new GoToTimeDialog(timeline.TimeOf(0), timeline.TimeOf(timeline.frameCount() - 1),
                           engine_.currentUtcMicros(), timeline.utcOffsetSeconds(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const std::int64_t moment = dialog->chosenUtcMicros();
        if (!engine_.isOpen() || engine_.GoToTime(moment)) {
            return;
        }
        const ClipTimeline& shown = engine_.playback()->timeline();
        PromptService::Show(this,
                            QString(playertext::kBeforeFirstFrame)
                                .arg(FrameTimeText(moment, shown.utcOffsetSeconds()),
                                     FrameTimeText(shown.TimeOf(0), shown.utcOffsetSeconds())),
                            PromptButtons::Ok, PromptIcon::Exclamation);
    });
    dialog->open();
}

void ClipPlayerWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect above(0, 0, width(), height() - BarsHeight());
    if (!engine_.isOpen()) {
        painter.drawImage(above, IdlePicture(), QRect(0, 0, kIdleSource, kIdleSource));
        return;
    }
    painter.fillRect(above, QBrush(QColor(96, 96, 104), Qt::Dense4Pattern));
    const QRect header = HeaderRect();
    painter.fillRect(header, kHeaderBackground);
    const QRect titleLine(0, 0, width(), lineHeight_);
    const QRect titleText = painter.boundingRect(titleLine, Qt::AlignCenter, engine_.titleLine());
    painter.fillRect(titleText, kTitleBackground);
    painter.setPen(kTitleText);
    painter.drawText(titleLine, Qt::AlignCenter, engine_.titleLine());
    painter.setPen(kTealText);
    painter.drawText(QRect(0, lineHeight_, width(), lineHeight_), Qt::AlignCenter,
                     engine_.startText() + QStringLiteral("  -  ") + engine_.endText());
    painter.fillRect(StatusRect(), kStatusBackground);
    painter.drawText(StatusRect(), Qt::AlignCenter, statusText());
}

void ClipPlayerWindow::closeEvent(QCloseEvent* event) {
    engine_.CloseClip();
    QWidget::closeEvent(event);
}

}  // namespace orvane
