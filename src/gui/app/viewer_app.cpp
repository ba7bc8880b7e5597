#include "app/viewer_app.h"

#include "app/command_line.h"
#include "app/main_frame.h"
#include "app/password_dialogs.h"
#include "app/splash_window.h"
#include "common/disk_space.h"
#include "common/log.h"
#include "common/memory_policy.h"
#include "media/clip_playback.h"
#include "playback/clip_player_factory.h"
#include "shared/app_texts.h"
#include "shared/prompt_service.h"
#include "site/socket_layer.h"
#include "store/auto_run.h"
#include "store/clip_index.h"
#include "store/event_log.h"
#include "store/store_location.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

namespace orvane {
namespace {

ViewerApp* g_instance = nullptr;

// A quit request retries while a dialog or the reconnect loop still holds on; after this long
// it gives up rather than spin for the rest of the run.
constexpr int kQuitStepMs = 20;
constexpr int kMaxQuitSteps = 250;

QString DescribeProblem(OpenProblem problem) {
    switch (problem) {
        case OpenProblem::Unreadable:
            return QObject::tr("it cannot be opened for reading and writing");
        case OpenProblem::NotADatabase:
            return QObject::tr("it is not a settings store");
        case OpenProblem::NewerSchema:
            return QObject::tr("it was written by a newer version of Orvane");
        case OpenProblem::ForeignDatabase:
            return QObject::tr("it belongs to another program");
        case OpenProblem::Damaged:
            return QObject::tr("it is damaged");
        case OpenProblem::None:
            break;
    }
    return {};
}

bool ClosesSplash(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonDblClick:
            return true;
        default:
            return false;
    }
}

}  // namespace

ViewerApp::ViewerApp(QObject* parent) : QObject(parent) {
    g_instance = this;
    // Until start-up opens the store, settings come from memory; the ProgramLock refers to
    // the optional's storage, which keeps its address when the store is replaced.
    settings_.emplace(KeyStore::OpenInMemory());
    lock_ = std::make_unique<ProgramLock>(*settings_);
}

ViewerApp::~ViewerApp() {
    if (qApp) {
        qApp->removeEventFilter(this);
    }
    mainFrame_.reset();
    if (g_instance == this) {
        g_instance = nullptr;
    }
}

ViewerApp* ViewerApp::Instance() {
    return g_instance;
}

ViewerApp::StartResult ViewerApp::InitInstance(const QStringList& arguments) {
    // FFmpeg needs no start-up call; its log is routed when the first decoder opens.
    ReturnLargeBlocksToTheSystem();
    if (!SocketLayerUsable()) {
        PromptService::Show(nullptr, text::kSocketsFailed);
        return StartResult::Failed;
    }
    splashEnabled_ = !IsEmbeddedStart(arguments);
    // Before the first prompt, so that a logout during the password gate ends the run too.
    quitSignals_ = std::make_unique<QuitSignals>();
    connect(quitSignals_.get(), &QuitSignals::quitRequested, this, &ViewerApp::OnQuitRequested);
    OpenSettingsStore();

    if (!PassStartupGate(*lock_)) {
        return StartResult::Declined;
    }

    qApp->installEventFilter(this);
    mainFrame_ = std::make_unique<MainFrame>(*this);
    mainFrame_->showMaximized();
    mainFrame_->repaint();
    ShowSplash(mainFrame_.get());
    mainFrame_->ReportStartProblems(splash_);
    mainFrame_->ResumeLastRun();
    OpenClipFiles(std::exchange(waitingClips_, {}));
    return StartResult::Started;
}

int ViewerApp::ExitInstance(int exitCode) {
    channelTable_.Clear();
    // A player closed a moment ago may still be finishing a frame or a scan on its own thread.
    ClipPlayback::WaitForWorkers(2000);
    return exitCode;
}

void ViewerApp::OpenSettingsStore() {
    const std::string path = KeyStorePath();
    auto opened = OpenSettings(path);
    settings_.emplace(std::move(opened.settings));
    if (opened.problem != OpenProblem::None) {
        PromptService::Show(
            nullptr,
            tr("\n\n The settings file %1 cannot be used: %2 (%3). \n\n Orvane starts with "
               "default settings and keeps changes only until it closes; the file is left "
               "as it is. \n\n")
                .arg(QString::fromStdString(path), DescribeProblem(opened.problem),
                     QString::fromStdString(opened.detail)));
    }
}

bool ViewerApp::AddEventLogEntry(std::span<const std::uint8_t> record) {
    return EventLog(settings_->store()).AddEventLogEntry(record);
}

std::uint32_t ViewerApp::GetFreeDiskMB() const {
    return orvane::GetFreeDiskMB(GetRecordPath());
}

void ViewerApp::SetAutoRun(bool on) {
    // The program as it runs now, wherever it was started from.
    orvane::SetAutoRun(on, *settings_, QCoreApplication::applicationFilePath().toStdString());
}

void ViewerApp::OpenClipFiles(const QStringList& paths) {
    if (!mainFrame_) {
        waitingClips_ << paths;
        return;
    }
    // A clip Orvane recorded is shown with its channel and times, as the clip browser shows it.
    std::vector<ClipRecord> indexed;
    if (!paths.isEmpty()) {
        ClipIndex(settings_->store(), {}).LoadClipRecords(indexed);
    }
    for (const QString& path : paths) {
        qCInfo(lcApp).noquote() << "opens the clip" << path << "from the command line";
        const QFileInfo file(path);
        const auto entry = std::find_if(indexed.begin(), indexed.end(), [&](const ClipRecord& r) {
            return r.fileName == file.fileName() && QFileInfo(r.path + r.fileName) == file;
        });
        ClipRecord clip;
        if (entry != indexed.end()) {
            clip = *entry;
        } else {
            clip.fileName = file.fileName();
            clip.path = file.absolutePath() + QLatin1Char('/');
        }
        // Owned by the main frame, as the clip browser's players are by their dialog.
        MakeClipPlayer(clip, mainFrame_.get());
    }
}

void ViewerApp::BringToFront() {
    if (!mainFrame_) {
        return;  // still starting: the password prompt is in front already
    }
    mainFrame_->setWindowState((mainFrame_->windowState() & ~Qt::WindowMinimized) |
                               Qt::WindowActive);
    mainFrame_->show();
    mainFrame_->raise();
    mainFrame_->activateWindow();
}

void ViewerApp::OnSetupPassword(QWidget* parent) {
    RunSetupPasswordCommand(*lock_, parent);
}

void ViewerApp::ShowSplash(QWidget* owner) {
    if (!splashEnabled_ || splash_) {
        return;
    }
    splash_ = SplashWindow::Create(owner);
}

void ViewerApp::CloseSplash() {
    if (splash_) {
        splash_->close();
        splash_ = nullptr;
    }
    if (mainFrame_) {
        mainFrame_->repaint();
    }
}

void ViewerApp::OnQuitRequested(int /*signalNumber*/) {
    if (quitSteps_ > 0) {
        return;  // already on its way
    }
    quitSteps_ = 1;
    // Queued: the signal may arrive inside a dialog's exec(), whose caller must unwind first.
    QTimer::singleShot(0, this, &ViewerApp::ContinueQuit);
}

void ViewerApp::ContinueQuit() {
    if (quitSteps_++ > kMaxQuitSteps) {
        qCWarning(lcApp) << "a quit request could not close the program";
        quitSteps_ = 0;
        return;
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        // The dialog's caller may open another one once exec() returns; the next step sees it.
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        QTimer::singleShot(kQuitStepMs, this, &ViewerApp::ContinueQuit);
        return;
    }
    if (!mainFrame_) {
        quitSteps_ = 0;
        QCoreApplication::quit();
        return;
    }
    // The same close as the Exit command. While the site is being reconnected the first close
    // only ends the reconnect loop and keeps the window; the next one exits.
    if (!mainFrame_->close()) {
        QTimer::singleShot(kQuitStepMs, this, &ViewerApp::ContinueQuit);
        return;
    }
    quitSteps_ = 0;
}

bool ViewerApp::eventFilter(QObject* watched, QEvent* event) {
    if (splash_ && ClosesSplash(event->type()) && watched->isWidgetType()) {
        if (event->type() == QEvent::ShortcutOverride) {
            // Accepting the override keeps a shortcut from firing; the key press that
            // follows closes the splash and is swallowed.
            event->accept();
            return true;
        }
        CloseSplash();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace orvane
