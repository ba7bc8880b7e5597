#include "app/main_frame.h"

#include "app/about_dialog.h"
#include "app/app_texts.h"
#include "app/resource_ids.h"
#include "app/viewer_app.h"
#include "common/command_ids.h"

#include <QAction>
#include <QIcon>
#include <QMdiArea>
#include <QMenuBar>

namespace orvane {

MainFrame::MainFrame(ViewerApp& app, QWidget* parent) : QMainWindow(parent), app_(app) {
    setWindowTitle(text::kAppTitle);
    setWindowIcon(QIcon(res::kAppIcon));
    videoArea_ = new QMdiArea(this);
    videoArea_->setObjectName("videoArea");
    setCentralWidget(videoArea_);
    BuildMenus();
}

void MainFrame::BuildMenus() {
    auto addCommand = [this](QMenu* menu, const QString& text, int id, auto slot) {
        QAction* action = menu->addAction(text);
        action->setData(id);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QMenu* setup = menuBar()->addMenu(tr("Setup"));
    addCommand(setup, tr("Setup password"), cmd::kSetupPassword,
               [this] { app_.OnSetupPassword(this); });
    QMenu* about = menuBar()->addMenu(tr("About"));
    addCommand(about, tr("About Orvane ..."), cmd::kAbout, [this] {
        AboutDialog dialog(this);
        dialog.exec();
    });
    QAction* exitAction = menuBar()->addAction(tr("Exit"));
    exitAction->setData(cmd::kExit);
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
}

}  // namespace orvane
