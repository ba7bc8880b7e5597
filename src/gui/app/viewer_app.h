#pragma once

#include "app/splash_window.h"
#include "common/quit_signals.h"
#include "site/channel_table.h"
#include "site/site_interfaces.h"
#include "store/program_lock.h"
#include "store/settings.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <optional>
#include <span>

namespace orvane {

class MainFrame;

// The application object: start-up and exit, the settings of the run, the program lock and
// the connected site's channel table. Lives for the whole run, on the GUI thread.
class ViewerApp : public QObject, public EventRecordSink {
    Q_OBJECT
  public:
    enum class StartResult {
        Started,   // the main frame is shown
        Declined,  // the operator cancelled the password prompt
        Failed,    // the program cannot run (no sockets)
    };

    explicit ViewerApp(QObject* parent = nullptr);
    ~ViewerApp() override;

    static ViewerApp* Instance();

    // Runs start-up in order: socket check, command line, settings store, password gate,
    // main frame shown maximised, splash.
    StartResult InitInstance(const QStringList& arguments);
    // Releases what the run held; returns the exit code to use.
    int ExitInstance(int exitCode);

    Settings& settings() { return *settings_; }
    ProgramLock& lock() { return *lock_; }
    ChannelTable& channelTable() { return channelTable_; }
    MainFrame* mainFrame() const { return mainFrame_.get(); }
    SplashWindow* splash() const { return splash_; }
    bool splashEnabled() const { return splashEnabled_; }

    std::int32_t GetSetting(SettingId id) const { return settings_->GetSetting(id); }
    void SetSetting(SettingId id, std::int32_t value) { settings_->SetSetting(id, value); }
    std::string GetRecordPath() const { return settings_->GetRecordPath(); }
    // Stores a site's event record in the event log under the time of arrival.
    bool AddEventLogEntry(std::span<const std::uint8_t> record);
    void AddEventRecord(std::span<const std::uint8_t> record) override { AddEventLogEntry(record); }
    // Free MB on the volume of the record folder; 0 when it cannot be queried.
    std::uint32_t GetFreeDiskMB() const;
    // Starts the program with the desktop session, or no longer; stores "AutoRun" either way.
    void SetAutoRun(bool on);
    std::string GetChannelName(std::int32_t id) const { return channelTable_.GetChannelName(id); }
    bool CheckPassword(std::string_view user, std::string_view password) const {
        return lock_->CheckPassword(user, password);
    }
    void SavePassword(std::string_view user, std::string_view password) {
        lock_->SavePassword(user, password);
    }

    // Opens each clip file in a player window of its own, as the clip browser does; a file that
    // cannot be played is reported by its player. Before the main frame is up the files wait
    // for start-up to finish (and are dropped when the start is declined).
    void OpenClipFiles(const QStringList& paths);
    // Shows the main frame, restored when minimised, in front and active.
    void BringToFront();

    // Command 32788, "Setup password".
    void OnSetupPassword(QWidget* parent);
    // Shows the splash over owner when it is enabled and none is showing.
    void ShowSplash(QWidget* owner);

  protected:
    // Closes the splash on the first key or mouse press and swallows that input.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OpenSettingsStore();
    void CloseSplash();
    // SIGTERM, SIGINT and SIGHUP end the run as the Exit command does, one step per pass of
    // the event loop: open modal dialogs are rejected first, then the main frame closes.
    void OnQuitRequested(int signalNumber);
    void ContinueQuit();

    std::optional<Settings> settings_;
    std::unique_ptr<ProgramLock> lock_;
    ChannelTable channelTable_;
    std::unique_ptr<MainFrame> mainFrame_;
    QPointer<SplashWindow> splash_;
    bool splashEnabled_ = true;
    std::unique_ptr<QuitSignals> quitSignals_;
    int quitSteps_ = 0;  // non-zero while a quit request is being carried out
    QStringList waitingClips_;
};

}  // namespace orvane
