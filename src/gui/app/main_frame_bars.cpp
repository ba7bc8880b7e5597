// The main frame's menus, bars and status panes.
#include "app/indicator_pane.h"
#include "app/main_frame.h"
#include "shared/command_ids.h"
#include "shared/tool_icons.h"
#include "site/site_connection.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

namespace orvane {
namespace {

constexpr int kDiskPaneChars = 50;

}  // namespace

QAction* MainFrame::MakeCommand(int commandId, const QString& text, const QString& promptAndTip) {
    // As a string resource: the status-bar prompt, then after a line break the tooltip (the
    // prompt itself when there is no line break).
    const QString prompt = promptAndTip.section('\n', 0, 0);
    const QString tip = promptAndTip.contains('\n') ? promptAndTip.section('\n', 1) : prompt;
    auto* a = new QAction(text, this);
    a->setData(commandId);
    a->setStatusTip(prompt);
    a->setToolTip(tip);
    connect(a, &QAction::triggered, this, [this, commandId] { RunCommand(commandId); });
    actions_[commandId] = a;
    return a;
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
                                     tr("Open local site video channel\nOpen video channel")));
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

}  // namespace orvane
