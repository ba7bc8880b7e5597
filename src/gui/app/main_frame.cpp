#include "app/main_frame.h"

#include "app/about_dialog.h"
#include "app/alarm_sound.h"
#include "app/help_location.h"
#include "app/indicator_pane.h"
#include "app/options_dialog.h"
#include "app/viewer_app.h"
#include "common/log.h"
#include "desktop/desktop_notifier.h"
#include "desktop/screen_inhibitor.h"
#include "playback/clip_browser_dialog.h"
#include "playback/clip_player_factory.h"
#include "shared/app_texts.h"
#include "shared/command_ids.h"
#include "shared/prompt_service.h"
#include "shared/resource_ids.h"
#include "store/clips_in_use.h"
#include "store/event_browser_dialog.h"
#include "store/event_log.h"
#include "store/record_path_dialog.h"
#include "store/site_book_dialog.h"
#include "video/video_area.h"
#include "video/video_channel_window.h"
#include "video/video_tiling.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <algorithm>

namespace orvane {
namespace {

constexpr int kUpdateIntervalMs = 250;
// How long a maximise asked for by a tiling may take to reach the video area.
constexpr int kMaximiseSettleMs = 2000;

}  // namespace

MainFrame::MainFrame(ViewerApp& app, QWidget* parent)
    : QMainWindow(parent), app_(app), diskWatch_(DiskWatch::FromSettings(app.settings())) {
    setWindowTitle(text::kAppTitle);
    setWindowIcon(QIcon(res::kAppIcon));
    session_ = std::make_unique<SiteSession>(
        SiteSession::Services{app_.settings(), app_.channelTable(), *this, &app_});
    connect(session_.get(), &SiteSession::notified, this, &MainFrame::OnSiteNotice);
    connect(session_.get(), &SiteSession::statusLineChanged, this, [this](const QString& text) {
        siteStatus_ = text;
        RefreshStatusLine();
    });
    connect(session_.get(), &SiteSession::stateChanged, this, &MainFrame::OnSessionState);
    // Told from inside the link's dispatch: acted on once it has returned.
    connect(session_.get(), &SiteSession::alarmed, this, &MainFrame::OnAlarmed,
            Qt::QueuedConnection);
    // A channel dead for a minute is one notice with every other dead channel.
    connect(session_.get(), &SiteSession::feedOutage, this, [this](const FeedOutage& outage) {
        if (!outages_) {
            return;
        }
        const QString key = QString::number(outage.channelId);
        switch (outage.change) {
            case FeedOutage::Change::Dead:
                outages_->Report(OutageKind::DeadFeed, key,
                                 FeedOutageText(outage, QDateTime::currentDateTime()),
                                 outage.lastFrame);
                break;
            case FeedOutage::Change::Back:
                outages_->Resolve(OutageKind::DeadFeed, key);
                break;
            case FeedOutage::Change::Closed:
                outages_->Withdraw(OutageKind::DeadFeed, key);
                break;
        }
    });

    alarm_ = new AlarmSound(this);
    connect(alarm_, &AlarmSound::playingChanged, this, &MainFrame::UpdateCommandStates);
    connect(alarm_, &AlarmSound::unavailable, this, &MainFrame::OnAlarmSoundUnavailable);

    outages_ = new OutageNotice({}, this);
    connect(outages_, &OutageNotice::changed, this, [this](OutageKind kind) {
        RefreshStatusLine();
        // Many recordings fail within one turn of the loop: the desktop hears it once.
        bool& queued = outageShowQueued_[static_cast<int>(kind)];
        if (!queued) {
            queued = true;
            QTimer::singleShot(0, this, [this, kind] { ShowOutageOnDesktop(kind); });
        }
    });
    notifier_ = new DesktopNotifier(QDBusConnection::sessionBus(), this);
    connect(notifier_, &DesktopNotifier::activated, this, &MainFrame::BringToFront);
    screenInhibitor_ = new ScreenInhibitor(QDBusConnection::sessionBus(), this);

    videoArea_ = new VideoArea(this);
    videoArea_->viewport()->installEventFilter(this);
    setCentralWidget(videoArea_);
    // Focus given to the frame goes on to the video area, and from there to its windows.
    setFocusProxy(videoArea_);
    BuildMenus();
    BuildToolBars();
    BuildStatusBar();
    siteStatus_ = statusLine_->text();
    RegisterFrameCommands();
    RegisterSiteCommands();
    listenFailed_ = !session_->OpenListener();
    housekeeper_ = std::make_unique<ClipHousekeeper>(store());
    UpdateDiskStatus();
    diskTimer_ = new QTimer(this);
    connect(diskTimer_, &QTimer::timeout, this, &MainFrame::DiskTick);
    diskTimer_->start(static_cast<int>(diskWatch_.periodMs()));

    updateTimer_ = new QTimer(this);
    connect(updateTimer_, &QTimer::timeout, this, &MainFrame::UpdateCommandStates);
    // What works again soon after a failure ends its outage only once the failures stop.
    connect(updateTimer_, &QTimer::timeout, outages_, &OutageNotice::Settle);
    updateTimer_->start(kUpdateIntervalMs);
    UpdateCommandStates();
}

MainFrame::~MainFrame() {
    // The session goes first: its connection closes windows and tells this frame as it goes.
    session_.reset();
    housekeeper_.reset();
}

void MainFrame::ReportStartProblems(QObject* splash) {
    if (!listenFailed_) {
        return;
    }
    listenFailed_ = false;
    auto show = [frame = QPointer<MainFrame>(this)] {
        if (frame) {
            PromptService::Show(frame, frametext::kListenFailed);
        }
    };
    // Never over the splash: its first input would close it and be swallowed, and a modal
    // box inside its start would keep it up for good.
    if (splash) {
        connect(splash, &QObject::destroyed, this, show, Qt::QueuedConnection);
    } else {
        QTimer::singleShot(0, this, show);
    }
}

QAction* MainFrame::action(int commandId) const {
    const auto it = actions_.find(commandId);
    return it == actions_.end() ? nullptr : it->second;
}

QString MainFrame::statusLine() const {
    return statusLine_->text();
}

void MainFrame::UpdateCommandStates() {
    // The screen stays on while live video is shown.
    screenInhibitor_->SetWanted(session_->linkActive() && session_->OpenWindowCount() > 0);
    commands_.Update(actions_);
    for (VideoChannelWindow* window : channelWindows()) {
        window->UpdateCommands();
    }
}

void MainFrame::RunCommand(int commandId) {
    commands_.Run(commandId);
    UpdateCommandStates();
}

void MainFrame::RegisterFrameCommands() {
    auto anyWindow = [this] { return session_->OpenWindowCount() > 0; };
    commands_.Register(cmd::kArrangeVideoWindows, {[this] {
                                                       if (session_->linkActive()) {
                                                           ArrangeVideoWindows();
                                                       }
                                                   },
                                                   anyWindow,
                                                   {}});
    commands_.Register(cmd::kChangeVideoSize, {[this] { videoSizeMode_ = !videoSizeMode_; },
                                               anyWindow, [this] { return videoSizeMode_; }});
    commands_.Register(cmd::kToggleToolbar,
                       {[this] { OnToggleToolbar(); }, {}, [this] { return toolbarsVisible_; }});
    commands_.Register(cmd::kSetupPassword, {[this] { app_.OnSetupPassword(this); }, {}, {}});
    commands_.Register(cmd::kAbout, {[this] {
                                         AboutDialog dialog(this);
                                         dialog.exec();
                                     },
                                     {},
                                     {}});
    commands_.Register(cmd::kOnlineHelp, {[this] { OnOnlineHelp(); }, {}, {}});
    commands_.Register(cmd::kExit, {[this] { close(); }, {}, {}});
    commands_.Register(cmd::kStopAlarm,
                       {[this] { StopAlarm(); }, [this] { return alarmStanding_; }, {}});
    commands_.Register(cmd::kBrowseEvents,
                       {[this] {
                            EventLog log(store());
                            EventBrowserDialog dialog(
                                log, CodePage(app_.settings().LoadNet().codePage), this);
                            dialog.exec();
                        },
                        {},
                        {}});
    commands_.Register(cmd::kOptions, {[this] { OnOptions(); }, {}, {}});
    commands_.Register(cmd::kPlaybackVideo, {[this] {
                                                 ClipIndex index(store(), {});
                                                 ClipBrowserDialog dialog(index, *housekeeper_,
                                                                          MakeClipPlayer, this);
                                                 dialog.exec();
                                             },
                                             {},
                                             {}});
    // The site book (maintenance).
    commands_.Register(cmd::kSetupSiteBook,
                       {[this] {
                            SiteBook book(store());
                            SiteBookDialog dialog(
                                false, book, CodePage(app_.settings().LoadNet().codePage), this);
                            dialog.exec();
                        },
                        {},
                        {}});
    // The record folder.
    commands_.Register(cmd::kSetupRecordPath, {[this] {
                                                   RecordPathDialog dialog(app_.settings(), this);
                                                   if (dialog.exec() == QDialog::Accepted) {
                                                       UpdateDiskStatus();
                                                   }
                                               },
                                               {},
                                               {}});
}

void MainFrame::PlayAlarm() {
    alarmStanding_ = true;
    alarm_->Play();
    QTimer::singleShot(0, this, &MainFrame::UpdateCommandStates);
}

void MainFrame::StopAlarm() {
    alarmStanding_ = false;
    alarmSoundProblem_.clear();
    alarm_->Stop();
    RefreshStatusLine();
}

void MainFrame::OnAlarmed(const QString& caller, const QString& eventName) {
    const QString text = frametext::AlarmFrom(caller, eventName);
    qCInfo(lcApp).noquote() << text;
    // Until the operator comes to the window; the taskbar shows it too.
    QApplication::alert(this);
    // One notification, replaced while alarms follow: it shows the latest.
    notifier_->Notify(QStringLiteral("alarm"), QString::fromLatin1(frametext::kAlarmSummary), text,
                      DesktopNotifier::Urgency::Critical);
    PlayAlarm();
}

void MainFrame::OnAlarmSoundUnavailable(const QString& reason) {
    if (!alarmStanding_) {
        return;
    }
    alarmSoundProblem_ = reason;
    RefreshStatusLine();
}

void MainFrame::RefreshStatusLine() {
    QStringList parts;
    parts << siteStatus_;
    if (alarmStanding_ && !alarmSoundProblem_.isEmpty()) {
        parts << frametext::AlarmWithoutSound(alarmSoundProblem_);
    }
    parts << outages_->StatusText() << clipsDeletedText_;
    parts.removeAll(QString());
    statusLine_->setText(parts.join(QStringLiteral("    ")));
}

void MainFrame::ShowOutageOnDesktop(OutageKind kind) {
    outageShowQueued_[static_cast<int>(kind)] = false;
    const OutageNotice::Told notice = outages_->Current(kind);
    if (notice.summary.isEmpty()) {
        return;  // nothing affected is left: the last notification stands as it was
    }
    notifier_->Notify(
        QStringLiteral("outage %1").arg(static_cast<int>(kind)), notice.summary, notice.text,
        notice.ended ? DesktopNotifier::Urgency::Normal : DesktopNotifier::Urgency::Critical);
}

void MainFrame::BringToFront() {
    if (isMinimized()) {
        showNormal();
    }
    show();
    raise();
    activateWindow();
}

bool MainFrame::alarmPlaying() const {
    return alarm_->playing();
}

void MainFrame::OnSessionState(SiteSession::State state) {
    if (state == SiteSession::State::Connected && !session_->callBackLink() &&
        app_.settings().ResumeSite() != session_->siteAddress().toStdString()) {
        app_.settings().SetResumeSite(session_->siteAddress().toStdString());
    }
    UpdateCommandStates();
}

bool MainFrame::ConnectToSite(const QString& host) {
    return session_->ConnectTo(host) == SiteSession::ConnectResult::Connected;
}

void MainFrame::TearDownConnection() {
    session_->TearDown();
}

void MainFrame::OnToggleToolbar() {
    toolbarsVisible_ = !toolbarsVisible_;
    mainToolBar_->setVisible(toolbarsVisible_);
    dialogBar_->setVisible(toolbarsVisible_);
    statusBar()->setVisible(toolbarsVisible_);
    if (session_->linkActive()) {
        ArrangeVideoWindows();
    }
}

void MainFrame::OnOnlineHelp() {
    // The operator's guide as installed or as the build rendered it; without either, the
    // page built into the program, copied where the browser can open it.
    QString page = FindHelpIndex(QCoreApplication::applicationDirPath());
    if (page.isEmpty()) {
        const QString copy = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                                 .filePath("orvane-help.html");
        QFile::remove(copy);
        if (QFile::copy(":/help/index.html", copy)) {
            page = copy;
        }
    }
    // A desktop without a browser (or without a way to start one) must not leave the command
    // doing nothing at all: the operator is told where the guide is.
    if (page.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(page))) {
        qCWarning(lcApp) << "cannot open the help" << page;
        PromptService::Show(this, frametext::HelpNotOpened(QDir::toNativeSeparators(page)),
                            PromptButtons::Ok, PromptIcon::Information);
    }
}

void MainFrame::OnOptions() {
    OptionsDialog dialog(
        app_.settings(), [this](bool on) { app_.SetAutoRun(on); }, this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    diskWatch_.ApplyOptions(dialog.limitMB(), dialog.checkSeconds());
    // Restarted, so the next check comes one new period after OK.
    diskTimer_->start(static_cast<int>(diskWatch_.periodMs()));
    UpdateDiskStatus();
    if (app_.settings().VideoArrange() && session_->linkActive()) {
        ArrangeVideoWindows();
    }
}

void MainFrame::UpdateDiskStatus() {
    CheckDisk(false);
}

std::string MainFrame::RecordFolderToWatch() const {
    // The folder clips go to now: the default one while the stored one is missing.
    const RecordFolder folder = app_.settings().ResolveRecordFolder(false);
    TellRecordFolder(folder);
    return folder.path;
}

void MainFrame::DiskTick() {
    CheckDisk(true);
}

void MainFrame::RecordingFailing() {
    // The next check comes soon anyway; one waiting is enough.
    if (app_.settings().DeleteOldClips() && housekeeper_->pending() == 0) {
        CheckDisk(false);
    }
}

std::set<QString> MainFrame::ClipsInUse() const {
    std::set<QString> inUse = ClipUse::Held();
    for (VideoChannelWindow* window : channelWindows()) {
        if (window->recording()) {
            inUse.insert(window->recorder()->aviFilePath());
        }
    }
    return inUse;
}

void MainFrame::CheckDisk(bool tick) {
    DiskCheck check;
    check.folder = RecordFolderToWatch();
    check.freeSpace = freeSpace_;
    const Settings& settings = app_.settings();
    check.rule.deleteOldest = settings.DeleteOldClips() && diskWatch_.checking();
    check.rule.keepDays = static_cast<std::uint32_t>(settings.KeepDays());
    check.rule.limitBytes = std::uint64_t{diskWatch_.limitMB()} << 20;
    if (check.rule.deleteOldest || check.rule.keepDays > 0) {
        check.inUse = ClipsInUse();
    }
    housekeeper_->Check(std::move(check), this, [this, tick](const DiskCheckOutcome& outcome) {
        OnDiskChecked(outcome, tick);
    });
}

void MainFrame::OnDiskChecked(const DiskCheckOutcome& outcome, bool tick) {
    if (const int removed = outcome.removed(); removed > 0) {
        clipsDeletedText_ = frametext::OldClipsDeleted(removed);
        RefreshStatusLine();
    }
    const DiskWatch::TickAction action =
        tick ? diskWatch_.Tick(outcome.space.freeMB) : DiskWatch::TickAction::None;
    // The pane and the lamp first, so the operator sees them behind the message.
    ShowDiskStatus(outcome.space);
    if (action == DiskWatch::TickAction::ShowWarning) {
        PromptService::Show(this, frametext::kDiskLow, PromptButtons::Ok, PromptIcon::Exclamation);
    }
}

void MainFrame::ShowDiskStatus(const FreeSpace& space) {
    diskPane_->setText(
        QString::fromStdString(DiskWatch::StatusText(space.freeMB, space.mountPoint)));
    indicatorPane_->SetDiskState(diskWatch_.ShowsLowIcon(), diskWatch_.blink());
}

void MainFrame::closeEvent(QCloseEvent* event) {
    if (session_->StopReconnect()) {
        event->ignore();  // the loop ends and the window stays; a second close exits
        return;
    }
    updateTimer_->stop();
    diskTimer_->stop();
    session_->TearDown();
    QMainWindow::closeEvent(event);
}

QString MainFrame::recordPath() const {
    const RecordFolder folder = app_.settings().PrepareRecordFolder();
    TellRecordFolder(folder);
    return QString::fromStdString(folder.path);
}

void MainFrame::TellRecordFolder(const RecordFolder& folder) const {
    const std::string notice = folderNotice_.After(folder);
    if (!notice.empty()) {
        const_cast<MainFrame*>(this)->ShowNotice(QString::fromStdString(notice));
    }
}

void MainFrame::ShowNotice(const QString& text) {
    // Told without a box: an unattended workstation must go on recording, and the operator
    // finds it on the status bar or in the log.
    qCWarning(lcApp).noquote() << text;
    statusBar()->showMessage(text);
}

KeyStore& MainFrame::store() {
    return app_.settings().store();
}

QString MainFrame::channelName(std::int32_t channelId) const {
    return QString::fromStdString(app_.GetChannelName(channelId));
}

ChannelWindow* MainFrame::CreateChannelWindow(const ChannelWindowParams& params) {
    const QString name =
        QString::fromStdString(app_.GetChannelName(static_cast<std::int32_t>(params.channelId)));
    auto* window = new VideoChannelWindow(params, name, *this);
    if (const auto it = std::find(resumeRecord_.begin(), resumeRecord_.end(), params.channelId);
        it != resumeRecord_.end()) {
        resumeRecord_.erase(it);
        // Posted, as an alarm's recording: the link is still dispatching the first frame.
        QTimer::singleShot(0, window, [window] { window->OnRecord(); });
    }
    videoArea_->addSubWindow(window);
    window->show();
    window->SetVideoSize(params.pictureSize.width(), params.pictureSize.height());
    window->move(cascade_.Place(params.pictureSize, VideoAreaSize()));
    window->raise();
    return window;
}

void MainFrame::ChannelWindowsChanged() {
    if (app_.settings().VideoArrange()) {
        ScheduleArrange();
    }
    QTimer::singleShot(0, this, &MainFrame::UpdateCommandStates);
}

void MainFrame::ScheduleArrange() {
    if (arrangeQueued_) {
        return;
    }
    arrangeQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        arrangeQueued_ = false;
        ArrangeVideoWindows();
    });
}

QSize MainFrame::VideoAreaSize() const {
    return videoArea_->viewport()->size();
}

QList<VideoChannelWindow*> MainFrame::channelWindows() const {
    QList<VideoChannelWindow*> windows;
    for (QMdiSubWindow* sub : videoArea_->subWindowList()) {
        if (auto* window = qobject_cast<VideoChannelWindow*>(sub)) {
            windows << window;
        }
    }
    return windows;
}

void MainFrame::ArrangeVideoWindows() {
    if (session_->linkId() == 0 ||
        !VideoTiling::For(session_->OpenWindowCount(), VideoAreaSize())) {
        return;
    }
    if (!isMaximized()) {
        // A window manager maximises when it gets to it: tile again once the area has grown.
        tileOnResize_ = true;
        QTimer::singleShot(kMaximiseSettleMs, this, [this] { tileOnResize_ = false; });
        showMaximized();
    }
    // Bars shown or hidden a moment ago change the area only when the layout runs.
    if (layout()) {
        layout()->activate();
    }
    TileVideoWindows();
}

void MainFrame::TileVideoWindows() {
    // In the order the channels came, whichever window shows them.
    const std::vector<std::uint32_t> order = session_->WindowChannelNumbers();
    const auto tiling = VideoTiling::For(static_cast<int>(order.size()), VideoAreaSize());
    if (!tiling) {
        return;
    }
    const QList<VideoChannelWindow*> windows = channelWindows();
    int index = 0;
    for (const std::uint32_t channelNumber : order) {
        if (index >= tiling->cols * tiling->rows) {
            break;
        }
        const auto window = std::find_if(windows.begin(), windows.end(), [&](auto* w) {
            return w->channelNumber() == channelNumber && !w->isClosing();
        });
        if (window == windows.end()) {
            continue;
        }
        (*window)->ShowCaption(toolbarsVisible_);
        (*window)->setGeometry(tiling->Cell(index++));
    }
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == videoArea_->viewport() && event->type() == QEvent::Resize && tileOnResize_) {
        TileVideoWindows();
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace orvane
