#include "app/main_frame.h"

#include "app/about_dialog.h"
#include "app/app_texts.h"
#include "app/prompt_service.h"
#include "app/resource_ids.h"
#include "app/tool_icons.h"
#include "app/viewer_app.h"
#include "common/command_ids.h"
#include "common/event_pump.h"
#include "common/log.h"
#include "net/connect_flow.h"
#include "net/remote_control_dialogs.h"
#include "site/blocking_connect.h"
#include "video/open_channel_dialog.h"
#include "video/video_area.h"
#include "video/video_channel_window.h"
#include "video/video_tiling.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

namespace orvane {
namespace {

// Between failed reconnect attempts: an instantly refused connect must not spin a core or
// flood the site. The event loop keeps running meanwhile.
constexpr int kReconnectPauseMs = 1000;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kUpdateIntervalMs = 250;
constexpr int kDiskPaneChars = 50;
constexpr int kIndicatorWidth = 32;

}  // namespace

// Status pane 1: the disk indicator (the disk watch sets its warning state).
class IndicatorPane : public QWidget {
  public:
    explicit IndicatorPane(QWidget* parent) : QWidget(parent) { setFixedSize(kIndicatorWidth, 18); }
    bool diskLow = false;
    bool blink = false;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(60, 60, 60));
        p.setBrush(QColor(150, 160, 175));
        p.drawRoundedRect(QRectF(1, 2, 14, 14), 2, 2);
        p.setBrush(QColor(60, 60, 60));
        p.drawEllipse(QRectF(5, 6, 6, 6));
        if (diskLow) {
            p.setBrush(blink ? QColor(230, 40, 40) : QColor(120, 20, 20));
            p.drawEllipse(QRectF(18, 3, 12, 12));
        }
    }
};

MainFrame::MainFrame(ViewerApp& app, QWidget* parent) : QMainWindow(parent), app_(app) {
    setWindowTitle(text::kAppTitle);
    setWindowIcon(QIcon(res::kAppIcon));
    videoArea_ = new VideoArea(this);
    setCentralWidget(videoArea_);
    BuildMenus();
    BuildToolBars();
    BuildStatusBar();
    OpenListener();

    updateTimer_ = new QTimer(this);
    connect(updateTimer_, &QTimer::timeout, this, &MainFrame::UpdateCommandStates);
    updateTimer_->start(kUpdateIntervalMs);
    UpdateCommandStates();
}

MainFrame::~MainFrame() {
    // Windows go before the connection that refers to them does.
    connection_.reset();
}

QAction* MainFrame::MakeCommand(int commandId, const QString& text, const QString& prompt) {
    auto* a = new QAction(text, this);
    a->setData(commandId);
    a->setStatusTip(prompt);
    a->setToolTip(prompt);
    connect(a, &QAction::triggered, this, [this, commandId] { RunCommand(commandId); });
    actions_[commandId] = a;
    return a;
}

QAction* MainFrame::action(int commandId) const {
    const auto it = actions_.find(commandId);
    return it == actions_.end() ? nullptr : it->second;
}

void MainFrame::BuildMenus() {
    QMenu* connectMenu = menuBar()->addMenu(tr("Connect"));
    connectMenu->addAction(
        MakeCommand(cmd::kConnect, tr("Connect to local site"), tr("Connect to local site")));
    connectMenu->addAction(MakeCommand(cmd::kDisconnect, tr("Disconnect"), tr("Disconnect")));
    connectMenu->addSeparator();
    connectMenu->addAction(
        MakeCommand(cmd::kSetupSiteBook, tr("Setup site book"), tr("Setup site book")));

    QMenu* videoMenu = menuBar()->addMenu(tr("Video channel"));
    videoMenu->addAction(MakeCommand(cmd::kOpenChannel, tr("Open local site video channel"),
                                     tr("Open local site video channel")));
    videoMenu->addSeparator();
    videoMenu->addAction(MakeCommand(cmd::kArrangeVideoWindows, tr("Arrange video window"),
                                     tr("Arrange video window")));
    videoMenu->addSeparator();
    QAction* sizeMode =
        MakeCommand(cmd::kChangeVideoSize, tr("Change video size"), tr("Change video size"));
    sizeMode->setCheckable(true);
    videoMenu->addAction(sizeMode);

    QMenu* viewMenu = menuBar()->addMenu(tr("View"));
    QAction* toolbar = MakeCommand(cmd::kToggleToolbar, tr("Toolbar"), tr("Toolbar"));
    toolbar->setCheckable(true);
    toolbar->setShortcut(Qt::Key_Escape);
    viewMenu->addAction(toolbar);
    viewMenu->addSeparator();
    viewMenu->addAction(
        MakeCommand(cmd::kBrowseEvents, tr("Browse event notify"), tr("Browse event notify")));

    QMenu* clipMenu = menuBar()->addMenu(tr("Video clip"));
    clipMenu->addAction(
        MakeCommand(cmd::kPlaybackVideo, tr("Playback video"), tr("Playback video")));

    QMenu* setupMenu = menuBar()->addMenu(tr("Setup"));
    setupMenu->addAction(MakeCommand(cmd::kOptions, tr("Options"), tr("Options")));
    setupMenu->addSeparator();
    setupMenu->addAction(MakeCommand(cmd::kSetupRecordPath, tr("Setup video record path"),
                                     tr("Setup video record path")));
    setupMenu->addSeparator();
    setupMenu->addAction(
        MakeCommand(cmd::kSetupPassword, tr("Setup password"), tr("Setup password")));

    QMenu* aboutMenu = menuBar()->addMenu(tr("About"));
    aboutMenu->addAction(MakeCommand(cmd::kOnlineHelp, tr("Online help"), tr("Online help")));
    aboutMenu->addSeparator();
    aboutMenu->addAction(MakeCommand(cmd::kAbout, tr("About Orvane ..."), tr("About Orvane")));

    // The menu bar's own Exit item shows its text; the toolbar button uses the command's icon.
    QAction* exitCommand = MakeCommand(cmd::kExit, tr("Exit"), tr("Exit Orvane"));
    QAction* exitItem = menuBar()->addAction(tr("Exit"));
    exitItem->setStatusTip(exitCommand->statusTip());
    connect(exitItem, &QAction::triggered, exitCommand, &QAction::trigger);

    // Commands without a menu item.
    MakeCommand(cmd::kVideoWindowMenu, tr("Video window"), tr("Video window"));
    MakeCommand(cmd::kStopAlarm, tr("Stop sound alarm"), tr("Stop sound alarm"));
    QAction* remote = MakeCommand(cmd::kRemoteControl, tr("Remote control"), QString());
    remote->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F10));
    addAction(remote);
    const std::pair<int, ToolGlyph> glyphs[] = {{cmd::kConnect, ToolGlyph::Connect},
                                                {cmd::kDisconnect, ToolGlyph::Disconnect},
                                                {cmd::kSetupSiteBook, ToolGlyph::SiteBook},
                                                {cmd::kOpenChannel, ToolGlyph::OpenChannel},
                                                {cmd::kPlaybackVideo, ToolGlyph::Playback},
                                                {cmd::kSetupRecordPath, ToolGlyph::RecordPath},
                                                {cmd::kSetupPassword, ToolGlyph::Password},
                                                {cmd::kExit, ToolGlyph::Exit},
                                                {cmd::kStopAlarm, ToolGlyph::StopAlarm},
                                                {cmd::kVideoWindowMenu, ToolGlyph::VideoWindow}};
    for (const auto& [id, glyph] : glyphs) {
        action(id)->setIcon(ToolIcon(glyph));
    }
}

void MainFrame::BuildToolBars() {
    mainToolBar_ = addToolBar(tr("Toolbar"));
    mainToolBar_->setObjectName("toolbar115");
    mainToolBar_->setMovable(false);
    mainToolBar_->setIconSize(QSize(32, 32));
    for (int id : {cmd::kConnect, cmd::kDisconnect, cmd::kSetupSiteBook}) {
        mainToolBar_->addAction(action(id));
    }
    mainToolBar_->addSeparator();
    mainToolBar_->addAction(action(cmd::kStopAlarm));
    mainToolBar_->addSeparator();
    mainToolBar_->addAction(action(cmd::kOpenChannel));
    // "Video window": a drop-down with Arrange and Change video size.
    auto* dropDown = new QMenu(this);
    dropDown->addAction(action(cmd::kArrangeVideoWindows));
    dropDown->addSeparator();
    dropDown->addAction(action(cmd::kChangeVideoSize));
    action(cmd::kVideoWindowMenu)->setMenu(dropDown);
    mainToolBar_->addAction(action(cmd::kVideoWindowMenu));
    if (auto* button = qobject_cast<QToolButton*>(
            mainToolBar_->widgetForAction(action(cmd::kVideoWindowMenu)))) {
        button->setPopupMode(QToolButton::InstantPopup);
    }
    mainToolBar_->addSeparator();
    mainToolBar_->addAction(action(cmd::kPlaybackVideo));
    mainToolBar_->addSeparator();
    mainToolBar_->addAction(action(cmd::kSetupRecordPath));
    mainToolBar_->addSeparator();
    mainToolBar_->addAction(action(cmd::kSetupPassword));
    mainToolBar_->addSeparator();
    mainToolBar_->addAction(action(cmd::kExit));

    // The dialog bar, on a row of its own: the status line the connection writes.
    addToolBarBreak();
    dialogBar_ = addToolBar(tr("Status line"));
    dialogBar_->setObjectName("dialogBar115");
    dialogBar_->setMovable(false);
    statusLine_ = new QLabel(tr(sitetext::kDisconnect), dialogBar_);
    statusLine_->setObjectName("statusLine");
    statusLine_->setProperty("controlId", 1001);
    statusLine_->setMinimumWidth(400);
    dialogBar_->addWidget(statusLine_);
}

void MainFrame::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    indicatorPane_ = new IndicatorPane(bar);
    diskPane_ = new QLabel(bar);
    diskPane_->setObjectName("diskPane");
    diskPane_->setMinimumWidth(fontMetrics().averageCharWidth() * kDiskPaneChars);
    bar->addPermanentWidget(indicatorPane_);
    bar->addPermanentWidget(diskPane_);
    bar->showMessage(frametext::kReady);
    connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& message) {
        if (message.isEmpty()) {
            bar->showMessage(frametext::kReady);
        }
    });
}

void MainFrame::OpenListener() {
    listener_ = new QTcpServer(this);
    const quint16 port = app_.settings().LoadNet().listenPort;
    if (!listener_->listen(QHostAddress::Any, port)) {
        qCWarning(lcApp) << "cannot listen for call-backs on port" << port
                         << listener_->errorString();
        delete listener_;
        listener_ = nullptr;
        QTimer::singleShot(0, this,
                           [this] { PromptService::Show(this, frametext::kListenFailed); });
        return;
    }
    // Sites' call-backs are taken with the event listener; until then they are refused.
    connect(listener_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = listener_->nextPendingConnection()) {
            socket->abort();
            socket->deleteLater();
        }
    });
}

QString MainFrame::statusLine() const {
    return statusLine_->text();
}

void MainFrame::SetStatusLine(const QString& text) {
    statusLine_->setText(text);
}

void MainFrame::PostCommand(int commandId) {
    QMetaObject::invokeMethod(
        this, [this, commandId] { RunCommand(commandId); }, Qt::QueuedConnection);
}

void MainFrame::UpdateCommandStates() {
    const bool hasConnection = connection_ != nullptr;
    const bool active = hasConnection && connection_->active();
    const bool anyWindow = windowState_.openWindows > 0;
    action(cmd::kConnect)->setEnabled(!hasConnection);
    action(cmd::kDisconnect)->setEnabled(hasConnection);
    action(cmd::kOpenChannel)
        ->setEnabled(hasConnection && connection_->channelOpenPermission() &&
                     !app_.channelTable().empty());
    action(cmd::kVideoWindowMenu)->setEnabled(active);
    action(cmd::kArrangeVideoWindows)->setEnabled(anyWindow);
    action(cmd::kChangeVideoSize)->setEnabled(anyWindow);
    action(cmd::kChangeVideoSize)->setChecked(videoSizeMode_);
    action(cmd::kToggleToolbar)->setChecked(toolbarsVisible_);
    action(cmd::kStopAlarm)->setEnabled(false);  // the alarm comes with the event listener
    for (VideoChannelWindow* window : channelWindows()) {
        window->UpdateCommands();
    }
}

void MainFrame::RunCommand(int commandId) {
    switch (commandId) {
        case cmd::kConnect:
            OnConnect();
            break;
        case cmd::kDisconnect:
            OnDisconnect();
            break;
        case cmd::kOpenChannel:
            OnOpenChannel();
            break;
        case cmd::kArrangeVideoWindows:
            if (connection_ && connection_->active()) {
                ArrangeVideoWindows();
            }
            break;
        case cmd::kChangeVideoSize:
            videoSizeMode_ = !videoSizeMode_;
            break;
        case cmd::kToggleToolbar:
            OnToggleToolbar();
            break;
        case cmd::kSetupPassword:
            app_.OnSetupPassword(this);
            break;
        case cmd::kAbout: {
            AboutDialog dialog(this);
            dialog.exec();
            break;
        }
        case cmd::kOnlineHelp:
            OnOnlineHelp();
            break;
        case cmd::kExit:
            close();
            break;
        case cmd::kRemoteControl:
            OnRemoteControl();
            break;
        case cmd::kLoginError:
        case cmd::kLimitError:
        case cmd::kCodecError:
            OnErrorCommand(commandId);
            break;
        case cmd::kReconnect:
            Reconnect();
            break;
        default:
            // Site book, event browser, playback, options and the record path arrive with
            // their own windows.
            break;
    }
    UpdateCommandStates();
}

void MainFrame::OnConnect() {
    RunConnectFlow(*this, app_);
}

bool MainFrame::ConnectToSite(const QString& host) {
    TearDownConnection();
    connection_ = std::make_unique<SiteConnection>(SiteConnection::Services{
        app_.settings(), app_.channelTable(), windowState_, *this, *this, nullptr});
    const quint16 port = app_.settings().LoadNet().sitePort;
    if (!ConnectBlocking(connection_->socket(), host, port, kConnectTimeoutMs)) {
        return false;
    }
    if (connection_->Start(false)) {
        siteAddress = host;
    }
    return true;
}

void MainFrame::TearDownConnection() {
    if (connection_) {
        connection_->socket().abort();
        connection_.reset();
    }
}

void MainFrame::OnDisconnect() {
    stopReconnect = true;
    if (!reconnecting) {
        TearDownConnection();
        siteAddress.clear();
    }
}

void MainFrame::OnOpenChannel() {
    if (!connection_) {
        return;
    }
    OpenChannelDialog dialog(app_.channelTable(), this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    if (connection_ && connection_->active()) {
        connection_->OpenChannel(static_cast<std::uint32_t>(dialog.selectedChannelId()));
    }
}

void MainFrame::OnToggleToolbar() {
    toolbarsVisible_ = !toolbarsVisible_;
    mainToolBar_->setVisible(toolbarsVisible_);
    dialogBar_->setVisible(toolbarsVisible_);
    statusBar()->setVisible(toolbarsVisible_);
    if (connection_ && connection_->active()) {
        ArrangeVideoWindows();
    }
}

void MainFrame::OnErrorCommand(int commandId) {
    TearDownConnection();
    const char* message = commandId == cmd::kLoginError   ? frametext::kLoginError
                          : commandId == cmd::kLimitError ? frametext::kLimitError
                                                          : frametext::kCodecError;
    PromptService::Show(this, message);
}

void MainFrame::Reconnect() {
    reconnecting = true;
    stopReconnect = false;
    if (!connection_) {
        reconnecting = false;
        return;
    }
    connection_->RecreateSocket();
    const quint16 port = app_.settings().LoadNet().sitePort;
    while (!stopReconnect && connection_) {
        if (ConnectBlocking(connection_->socket(), siteAddress, port, kConnectTimeoutMs)) {
            connection_->Start(false);
            reconnecting = false;
            return;
        }
        PumpEventsFor(kReconnectPauseMs, [this] { return stopReconnect; });
    }
    TearDownConnection();
    reconnecting = false;
}

void MainFrame::OnRemoteControl() {
    if (connection_ && connection_->active()) {
        RunRemoteControl(*connection_, this);
    }
}

void MainFrame::OnOnlineHelp() {
    // The guide ships inside the program; the browser gets a copy it can open.
    const QString target = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                               .filePath("orvane-help.html");
    QFile::remove(target);
    if (QFile::copy(":/help/index.html", target)) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(target));
    }
}

void MainFrame::closeEvent(QCloseEvent* event) {
    stopReconnect = true;
    if (reconnecting) {
        event->ignore();  // the loop ends and the window stays; a second close exits
        return;
    }
    updateTimer_->stop();
    TearDownConnection();
    QMainWindow::closeEvent(event);
}

ChannelWindow* MainFrame::CreateChannelWindow(const ChannelWindowParams& params) {
    const QString name =
        QString::fromStdString(app_.GetChannelName(static_cast<std::int32_t>(params.channelId)));
    auto* window = new VideoChannelWindow(params, name, *this);
    videoArea_->addSubWindow(window);
    window->show();
    window->SetVideoSize(params.pictureSize.width(), params.pictureSize.height());
    window->move(params.position);
    window->raise();
    return window;
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
    if (!connection_ || !VideoTiling::For(windowState_.openWindows, VideoAreaSize())) {
        return;
    }
    if (!isMaximized()) {
        showMaximized();
    }
    const auto tiling = VideoTiling::For(windowState_.openWindows, VideoAreaSize());
    int index = 0;
    for (const ChannelLink& link : connection_->links()) {
        if (!link.hasWindow() || index >= tiling->cols * tiling->rows) {
            continue;
        }
        auto* window = static_cast<VideoChannelWindow*>(link.window);
        window->ShowCaption(toolbarsVisible_);
        window->setGeometry(tiling->Cell(index++));
    }
}

}  // namespace orvane
