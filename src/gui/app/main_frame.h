#pragma once

#include "site/site_connection.h"
#include "site/site_interfaces.h"
#include "video/video_window_owner.h"

#include <QMainWindow>
#include <QPointer>

#include <map>
#include <memory>

class QAction;
class QLabel;
class QTcpServer;
class QTimer;

namespace orvane {

class ViewerApp;
class VideoArea;
class VideoChannelWindow;
class IndicatorPane;

// The one top-level window: menus, toolbar, the status line, the status bar and the video
// area that parents every video window. It owns the current site connection, routes every
// command and tiles the video windows. The connection reaches it only through the
// ChannelWindowHost and MainFrameLink interfaces, and posts commands instead of calling.
class MainFrame : public QMainWindow,
                  public ChannelWindowHost,
                  public MainFrameLink,
                  public VideoWindowOwner {
    Q_OBJECT
  public:
    explicit MainFrame(ViewerApp& app, QWidget* parent = nullptr);
    ~MainFrame() override;

    VideoArea* videoArea() const { return videoArea_; }
    QAction* action(int commandId) const;
    QString statusLine() const;
    QLabel* statusLineLabel() const { return statusLine_; }

    // Runs a command as the menu, toolbar or accelerator would.
    void RunCommand(int commandId);
    // Recomputes which commands are enabled and checked (the update handlers).
    void UpdateCommandStates();

    // Connects to a site at host (site port from the settings) and starts a connection, as
    // the connect flow does after its dialog; false when the TCP connect failed.
    bool ConnectToSite(const QString& host);
    void TearDownConnection();
    void ArrangeVideoWindows();
    QList<VideoChannelWindow*> channelWindows() const;

    QString siteAddress;
    bool stopReconnect = false;
    bool reconnecting = false;

    // ChannelWindowHost
    ChannelWindow* CreateChannelWindow(const ChannelWindowParams& params) override;
    QSize VideoAreaSize() const override;
    void PlayAlarm() override {}

    // MainFrameLink
    void PostCommand(int commandId) override;
    void SetStatusLine(const QString& text) override;

    // VideoWindowOwner
    SiteConnection* connection() override { return connection_.get(); }
    VideoWindowState& videoWindowState() override { return windowState_; }
    bool videoSizeMode() const override { return videoSizeMode_; }
    bool toolbarsVisible() const override { return toolbarsVisible_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenus();
    void BuildToolBars();
    void BuildStatusBar();
    void OpenListener();
    QAction* MakeCommand(int commandId, const QString& text, const QString& prompt);

    void OnConnect();
    void OnDisconnect();
    void OnOpenChannel();
    void OnToggleToolbar();
    void OnErrorCommand(int commandId);
    void Reconnect();
    void OnRemoteControl();
    void OnOnlineHelp();

    ViewerApp& app_;
    VideoArea* videoArea_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QLabel* diskPane_ = nullptr;
    IndicatorPane* indicatorPane_ = nullptr;
    QToolBar* mainToolBar_ = nullptr;
    QToolBar* dialogBar_ = nullptr;
    QTcpServer* listener_ = nullptr;
    QTimer* updateTimer_ = nullptr;
    std::map<int, QAction*> actions_;
    std::unique_ptr<SiteConnection> connection_;
    VideoWindowState windowState_;
    bool videoSizeMode_ = false;
    bool toolbarsVisible_ = true;
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
}  // namespace frametext

}  // namespace orvane
