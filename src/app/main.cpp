#include "app/viewer_app.h"
#include "common/log.h"
#include "common/message_log.h"
#include "common/version.h"

#include <unistd.h>

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kHelp =
    "usage: orvane [/Embedding | /Automation] [QT-OPTIONS]\n"
    "       orvane --help | --version\n"
    "\n"
    "Orvane, a client for networked video-surveillance recorders (sites): connects to sites,\n"
    "shows their channels live in tiled windows, records them into AVI clips, and browses,\n"
    "searches and plays recorded clips.\n"
    "\n"
    "Options:\n"
    "  /Embedding, /Automation  start without the splash window (also with '-', any case)\n"
    "  -h, --help               print this help and exit\n"
    "  --version                print the program's name and version and exit\n"
    "Qt's own options (-platform NAME, -display DISPLAY, -style STYLE, ...) are taken as\n"
    "Qt documents them; any other argument is ignored.\n"
    "\n"
    "The settings store is $ORVANE_REGISTRY when set, else\n"
    "$XDG_CONFIG_HOME/Quillmar-Brakken/registry.sqlite3 (~/.config when XDG_CONFIG_HOME is\n"
    "unset). The log is $XDG_STATE_HOME/Quillmar-Brakken/orvane.log (~/.local/state when\n"
    "XDG_STATE_HOME is unset). SIGTERM, SIGINT and SIGHUP end Orvane as a logout would.\n"
    "\n"
    "Exit status:\n"
    "  0  Orvane was closed, or the start-up password was not given\n"
    "  1  it could not start: the system's sockets cannot be used\n";

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

int Run(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName("Orvane");
    QApplication::setOrganizationName("Quillmar-Brakken");

    orvane::ViewerApp app;
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

}  // namespace

int main(int argc, char** argv) {
    if (AnswerInformationRequest(argc, argv)) {
        return 0;
    }
    // Before Qt starts, so that its warnings at start-up are in the file too; it goes after
    // everything else, so that the last lines are written.
    const orvane::MessageLog log(orvane::LogFilePath());
    qCInfo(lcApp).noquote() << "Orvane" << orvane::kVersion << "starts, process" << ::getpid();
    const int status = Run(argc, argv);
    qCInfo(lcApp) << "Orvane ends with exit status" << status;
    return status;
}
