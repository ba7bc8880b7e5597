#include "app/command_line.h"
#include "app/viewer_app.h"
#include "common/log.h"
#include "common/message_log.h"
#include "common/version.h"
#include "store/single_instance.h"
#include "store/store_location.h"

#include <unistd.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kHelp =
    "usage: orvane [CLIP.avi ...] [QT-OPTIONS]\n"
    "       orvane --help | --version\n"
    "\n"
    "Orvane, a client for networked video-surveillance recorders (sites): connects to sites,\n"
    "shows their channels live in tiled windows, records them into AVI clips, and browses,\n"
    "searches and plays recorded clips.\n"
    "\n"
    "Each CLIP.avi named (or any existing file, or anything after '--') opens in a player\n"
    "window once Orvane has started. One Orvane runs per settings store: started again on the\n"
    "same store, it hands its clips to the Orvane that runs, brings that one to the front and\n"
    "ends.\n"
    "\n"
    "Options:\n"
    "  -h, --help               print this help and exit\n"
    "  --version                print the program's name and version and exit\n"
    "Qt's own options (-platform NAME, -display DISPLAY, -style STYLE, ...) are taken as\n"
    "Qt documents them.\n"
    "\n"
    "The settings store is $ORVANE_REGISTRY when set, else\n"
    "$XDG_CONFIG_HOME/Quillmar-Brakken/registry.sqlite3 (~/.config when XDG_CONFIG_HOME is\n"
    "unset or not an absolute path). The log is $XDG_STATE_HOME/Quillmar-Brakken/orvane.log\n"
    "(~/.local/state likewise). SIGTERM, SIGINT and SIGHUP end Orvane as a logout would.\n"
    "\n"
    "Exit status:\n"
    "  0  Orvane was closed, the start-up password was not given, or the clips were handed\n"
    "     to the Orvane already running on the store\n"
    "  1  it could not start: no graphical display, the system's sockets cannot be used, or\n"
    "     another Orvane holds the store but does not answer\n"
    "  2  the command line is wrong\n";

// How long a second start waits for the Orvane that holds the store to take its clips; the
// other one may have only just started.
constexpr int kAnswerWaitMs = 5000;

// --help and --version are answered before any window system is needed, so that they work
// without a display; with neither on the command line the start is as it always was.
bool AnswerInformationRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("orvane %s\n", orvane::kVersion);
            return true;
        }
    }
    return false;
}

QStringList ArgumentList(int argc, char** argv) {
    QStringList list;
    for (int i = 0; i < argc; ++i) {
        list << QString::fromLocal8Bit(argv[i]);
    }
    return list;
}

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Qt ends the program with abort() and a word about reinstalling it when its window system
// cannot start; without a display that is the common case, and it deserves a plain answer
// before Qt is asked at all. Any platform named other than xcb (offscreen, wayland, vnc, ...)
// is left to Qt, and so is a display that is named but cannot be reached (see below).
bool DisplayMissing(const orvane::StartArguments& arguments) {
    const QString platform =
        arguments.platform.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : arguments.platform;
    const bool needsX = platform.isEmpty() || platform.section(u':', 0, 0) == u"xcb";
    return needsX && !arguments.display && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY");
}

constexpr const char* kNoDisplay =
    "orvane: Orvane needs a graphical display, and none could be opened";

orvane::MessageLog* g_log = nullptr;
QtMessageHandler g_logHandler = nullptr;

// In force only while QApplication starts the window system: Qt's fatal message there (a
// display named but not reachable) ends the run with exit status 1 instead of an abort.
void HandleWindowSystemMessage(QtMsgType type, const QMessageLogContext& context,
                               const QString& text) {
    if (type != QtFatalMsg) {
        g_logHandler(type, context, text);
        return;
    }
    // Qt's own words speak of reinstalling, which would mislead; the warnings before them,
    // already on the terminal and in the log, say what failed.
    g_log->Flush();
    std::fprintf(stderr, "%s\n", kNoDisplay);
    std::_Exit(1);
}

int RunFirst(int argc, char** argv, const QStringList& clips, const QString& socketName,
             const orvane::StoreLock& lock) {
    g_logHandler = qInstallMessageHandler(HandleWindowSystemMessage);
    QApplication qtApp(argc, argv);
    qInstallMessageHandler(g_logHandler);
    QApplication::setApplicationName("Orvane");
    QApplication::setOrganizationName("Quillmar-Brakken");

    orvane::ViewerApp app;
    // Listening before start-up, so that a start made while the password is asked for is
    // answered too; its clips wait for the main frame.
    orvane::InstanceServer server;
    QObject::connect(&server, &orvane::InstanceServer::clipsPassed, &app,
                     [&app](const QStringList& passed) {
                         qCInfo(lcApp) << "another start hands over" << passed.size() << "clip(s)";
                         app.OpenClipFiles(passed);
                         app.BringToFront();
                     });
    if (!socketName.isEmpty() && server.Listen(socketName) &&
        !lock.WriteNote(server.fullName().toStdString())) {
        qCWarning(lcApp).noquote()
            << "cannot note the socket in" << QString::fromStdString(lock.path());
    }
    app.OpenClipFiles(clips);
    switch (app.InitInstance(QApplication::arguments())) {
        case orvane::ViewerApp::StartResult::Started:
            return app.ExitInstance(QApplication::exec());
        case orvane::ViewerApp::StartResult::Declined:
            return app.ExitInstance(0);
        case orvane::ViewerApp::StartResult::Failed:
            break;
    }
    return app.ExitInstance(1);
}

// Another Orvane holds the store: it gets the clips and comes to the front; this one ends.
int HandOver(int argc, char** argv, const QStringList& clips, const QString& socketName,
             const orvane::StoreLock& lock, const std::string& store) {
    const QCoreApplication qtApp(argc, argv);
    // Where the holder says it listens; the name this start works out for itself when it has
    // not said so yet (it is still starting).
    const std::string noted = lock.ReadNote();
    const QString name = noted.empty() ? socketName : QString::fromStdString(noted);
    if (orvane::PassToRunningInstance(name, clips, kAnswerWaitMs)) {
        qCInfo(lcApp).noquote() << "Orvane already runs on" << QString::fromStdString(store)
                                << "and was handed" << clips.size() << "clip(s)";
        return 0;
    }
    std::fprintf(stderr,
                 "orvane: another Orvane holds the settings store %s but does not answer (it "
                 "may be starting still, or hang); not starting beside it\n",
                 store.c_str());
    return 1;
}

int Run(int argc, char** argv, const orvane::StartArguments& arguments) {
    const std::string store = orvane::CanonicalStorePath(orvane::KeyStorePath());
    // Before anything is written to the store; held until the process ends.
    const orvane::StoreLock lock(store);
    const QString socketName = orvane::InstanceSocketName(store);
    switch (lock.state()) {
        case orvane::StoreLock::State::Held:
            break;
        case orvane::StoreLock::State::HeldByOther:
            return HandOver(argc, argv, arguments.clips, socketName, lock, store);
        case orvane::StoreLock::State::Failed:
            // A store that cannot be written is reported by start-up; run without the lock.
            qCWarning(lcApp).noquote() << "cannot lock" << QString::fromStdString(lock.path())
                                       << ":" << QString::fromStdString(lock.error());
            break;
    }
    if (DisplayMissing(arguments)) {
        std::fprintf(stderr, "%s: DISPLAY and WAYLAND_DISPLAY are not set\n", kNoDisplay);
        return 1;
    }
    return RunFirst(argc, argv, arguments.clips,
                    lock.state() == orvane::StoreLock::State::Held ? socketName : QString(), lock);
}

}  // namespace

int main(int argc, char** argv) {
    if (AnswerInformationRequest(argc, argv)) {
        return 0;
    }
    const orvane::StartArguments arguments = orvane::ReadStartArguments(ArgumentList(argc, argv));
    if (!arguments.unknown.isEmpty()) {
        std::fprintf(stderr, "orvane: unknown argument '%s'. Try 'orvane --help'.\n",
                     arguments.unknown.toLocal8Bit().constData());
        return 2;
    }
    // Before Qt starts, so that its warnings at start-up are in the file too; it goes after
    // everything else, so that the last lines are written.
    orvane::MessageLog log(orvane::LogFilePath());
    g_log = &log;
    qCInfo(lcApp).noquote() << "Orvane" << orvane::kVersion << "starts, process" << ::getpid();
    const int status = Run(argc, argv, arguments);
    qCInfo(lcApp) << "Orvane ends with exit status" << status;
    return status;
}
