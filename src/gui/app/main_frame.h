#pragma once

#include "app/command_table.h"
#include "common/disk_space.h"
#include "common/outage_notice.h"
#include "site/site_interfaces.h"
#include "site/site_session.h"
#include "store/clip_removal.h"
#include "store/disk_watch.h"
#include "video/video_cascade.h"
#include "video/video_window_owner.h"

#include <QMainWindow>
#include <QString>

#include <map>
#include <memory>
#include <set>
#include <vector>

class QAction;
class QLabel;
class QTimer;

namespace orvane {

class ViewerApp;
class VideoArea;
class VideoChannelWindow;
class IndicatorPane;
class AlarmSound;
class DesktopNotifier;
class ScreenInhibitor;

// The one top-level window: menus, toolbar, the status line, the status bar and the video
// area that parents every video window. It shows what the site session reports, routes
// every command through its command table and tiles the video windows. The link itself is
// the session's.
class MainFrame : public QMainWindow, public ChannelWindowHost, public VideoWindowOwner {
    Q_OBJECT
  public:
    explicit MainFrame(ViewerApp& app, QWidget* parent = nullptr);
    ~MainFrame() override;

    VideoArea* videoArea() const { return videoArea_; }
    QAction* action(int commandId) const;
    QString statusLine() const;
    QLabel* statusLineLabel() const { return statusLine_; }
    CommandTable& commands() { return commands_; }

    // Runs a command as the menu, toolbar or accelerator would.
    void RunCommand(int commandId);
    // Recomputes which commands are enabled and checked (the update handlers).
    void UpdateCommandStates();

    // Connects to a site at host and starts a connection, as the connect flow does after its
    // dialog; false when the TCP connect failed or was abandoned.
    bool ConnectToSite(const QString& host);
    void TearDownConnection();
    // Tiles the open channel windows over the video area, maximising the frame first. The
    // tiles follow the area's settled size: they are laid again once a pending layout or
    // maximise has taken effect.
    void ArrangeVideoWindows();
    QList<VideoChannelWindow*> channelWindows() const;
    QSize VideoAreaSize() const;
    // The message of a start that could not listen for call-backs, shown once the splash
    // has gone; nothing when listening works.
    void ReportStartProblems(QObject* splash);

    // With ResumeAtStart on: connects to the operator's last site in the background; its
    // login opens the channels that were recording when the program last ran, and they
    // record again (resume_run.cpp).
    void ResumeLastRun();
    // The channels recording on the operator's link, as stored for the next start.
    const std::vector<std::uint32_t>& recordingChannels() const { return recordingChannels_; }

    // Status pane 2 and the indicator, from a fresh reading of the record folder's volume;
    // run as well when the record folder has changed. The volume is read off the GUI thread:
    // the pane changes once the reading is back.
    void UpdateDiskStatus();
    // One disk check, as timer 500 runs it: the reading, and, when Options ask for it, old
    // clips deleted to make room, all off the GUI thread; the warning and the pane follow
    // when it is back.
    void DiskTick();
    // The disk work of the clip index (the disk check, deleting clips).
    ClipHousekeeper& housekeeper() { return *housekeeper_; }
    const DiskWatch& diskWatch() const { return diskWatch_; }
    QTimer* diskTimer() const { return diskTimer_; }
    // Where free space is read from; tests put made-up volumes here.
    void SetFreeSpaceSource(FreeSpaceSource source) { freeSpace_ = std::move(source); }
    // How recordings open their clip files from now on; benchmarks put a stalling disk here.
    void SetRecordFileOpener(ClipRecorder::FileOpener opener) {
        recordFileOpener_ = std::move(opener);
    }

    // ChannelWindowHost
    ChannelWindow* CreateChannelWindow(const ChannelWindowParams& params) override;
    void ChannelWindowsChanged() override;
    void ConnectionStarted() override { cascade_.Reset(); }
    // A site's call-in sounds the alarm until the operator stops it; a second call-in
    // neither restarts nor stops it.
    void PlayAlarm() override;

    void StopAlarm();
    // The sound loops.
    bool alarmPlaying() const;
    // An alarm came and the operator has not stopped it yet, sound or no sound.
    bool alarmStanding() const { return alarmStanding_; }
    AlarmSound* alarmSound() const { return alarm_; }
    // What the desktop is told (notifications) and asked (keep the screen on).
    DesktopNotifier* desktopNotifier() const { return notifier_; }
    ScreenInhibitor* screenInhibitor() const { return screenInhibitor_; }

    // VideoWindowOwner
    SiteSession& session() override { return *session_; }
    bool videoSizeMode() const override { return videoSizeMode_; }
    bool toolbarsVisible() const override { return toolbarsVisible_; }
    QString recordPath() const override;
    KeyStore& store() override;
    // A notice that needs no answer: the status bar and the log.
    void ShowNotice(const QString& text);
    QString channelName(std::int32_t channelId) const override;
    ClipRecorder::FileOpener recordFileOpener() const override { return recordFileOpener_; }
    OutageNotice* outages() override { return outages_; }
    void RecordingStarted(std::int32_t channelId) override;
    void RecordingStoppedByOperator(std::int32_t channelId) override;
    void RecordingFailing() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildMenus();
    void BuildToolBars();
    void BuildStatusBar();
    QAction* MakeCommand(int commandId, const QString& text, const QString& promptAndTip);

    void RegisterFrameCommands();
    void RegisterSiteCommands();
    void OnSessionState(SiteSession::State state);
    // What the link told, shown as the operator expects it (site_commands.cpp).
    void OnSiteNotice(SiteNotice notice);
    // The channel dialog a login brings, once no other dialog is open.
    void AskForChannels();
    // A site called in: the alarm stands, the window asks for attention, the desktop is told.
    void OnAlarmed(const QString& caller, const QString& eventName);
    void OnAlarmSoundUnavailable(const QString& reason);
    // The site's line, then what stands: an alarm without sound, outages.
    void RefreshStatusLine();
    void ShowOutageOnDesktop(OutageKind kind);
    // A notification clicked: the operator wants this window.
    void BringToFront();
    void OnToggleToolbar();
    void OnOnlineHelp();
    void OnOptions();
    void ShowDiskStatus(const FreeSpace& space);
    // The login of a resumed run: its channels are asked for instead of the channel dialog.
    void OpenResumedChannels();
    void StoreRecordingChannels();
    std::string RecordFolderToWatch() const;
    // Tells the operator once that the stored record folder is missing and where clips go.
    void TellRecordFolder(const RecordFolder& folder) const;
    void CheckDisk(bool tick);
    void OnDiskChecked(const DiskCheckOutcome& outcome, bool tick);
    // Clips that must not go for room: those recorded, played or exported now.
    std::set<QString> ClipsInUse() const;
    void TileVideoWindows();
    void ScheduleArrange();

    ViewerApp& app_;
    std::unique_ptr<SiteSession> session_;
    CommandTable commands_;
    std::uint64_t channelDialogLink_ = 0;  // the link the open-channel dialog on screen is for
    VideoArea* videoArea_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QLabel* diskPane_ = nullptr;
    IndicatorPane* indicatorPane_ = nullptr;
    QToolBar* mainToolBar_ = nullptr;
    QToolBar* dialogBar_ = nullptr;
    QTimer* updateTimer_ = nullptr;
    AlarmSound* alarm_ = nullptr;  // a child
    bool alarmStanding_ = false;
    QString alarmSoundProblem_;            // why the standing alarm cannot sound
    QString siteStatus_;                   // the link's own status line
    QString clipsDeletedText_;             // how many old clips the last deletion for room took
    OutageNotice* outages_ = nullptr;      // a child, made before the windows that report to it
    DesktopNotifier* notifier_ = nullptr;  // a child
    ScreenInhibitor* screenInhibitor_ = nullptr;  // a child
    bool outageShowQueued_[kOutageKinds] = {};
    std::map<int, QAction*> actions_;
    VideoCascade cascade_;
    DiskWatch diskWatch_;
    mutable RecordFolderNotice folderNotice_;
    std::vector<std::uint32_t> recordingChannels_;  // on the operator's link, stored
    std::vector<std::uint32_t> resumeOpen_;         // asked for once the login is accepted
    std::vector<std::uint32_t> resumeRecord_;       // record as soon as their window comes
    QString resumeNotice_;                          // on the status bar until logged in
    FreeSpaceSource freeSpace_ = QueryFreeSpace;
    ClipRecorder::FileOpener recordFileOpener_;
    QTimer* diskTimer_ = nullptr;  // timer 500
    std::unique_ptr<ClipHousekeeper> housekeeper_;
    bool videoSizeMode_ = false;
    bool toolbarsVisible_ = true;
    bool listenFailed_ = false;
    bool arrangeQueued_ = false;
    // The frame was asked to maximise for a tiling: tile again when the area has its size.
    bool tileOnResize_ = false;
};

// Texts of the main frame's messages.
namespace frametext {
inline constexpr const char* kLoginError =
    "\n\n ** Login Error ** \n\n User name or password invalid.\n\n";
inline constexpr const char* kCodecError =
    "\n\n ** Compression Error ** \n\n Can not found compression.\n\n";
inline constexpr const char* kLimitError = "\n\n ** Limit Error ** \n\n";
inline constexpr const char* kListenFailed = "\n\n Create listen socket fail! \n\n";
inline constexpr const char* kReady = "Ready";
inline constexpr const char* kDiskLow = "\n\n Warning!! \n\n Disk space is low. \n\n";
inline constexpr const char* kAlarmSummary = "Orvane alarm";
// The desktop notification of a site's call-in.
inline QString AlarmFrom(const QString& caller, const QString& eventName) {
    return eventName.isEmpty() ? QStringLiteral("Alarm from %1").arg(caller)
                               : QStringLiteral("Alarm from %1: %2").arg(caller, eventName);
}
// The status line while an alarm stands that no sound announces.
inline QString AlarmWithoutSound(const QString& reason) {
    return QStringLiteral("ALARM - no sound can be played (%1)").arg(reason);
}
// The status line after old clips were deleted, for room or for their age.
inline QString OldClipsDeleted(int count) {
    return count == 1 ? QStringLiteral("Deleted 1 old clip")
                      : QStringLiteral("Deleted %1 old clips").arg(count);
}
// Online help found no browser to show the guide in.
inline QString HelpNotOpened(const QString& page) {
    return QStringLiteral(
               "No web browser could be started to show the help.\n\n"
               "The guide is at\n%1")
        .arg(page.isEmpty() ? QStringLiteral("(not found)") : page);
}
}  // namespace frametext

}  // namespace orvane
