#include "store/auto_run.h"

#include "common/log.h"
#include "store/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace orvane {
namespace {

constexpr const char* kEntryName = "Quillmar.desktop";

// Characters that make an Exec argument need quotes: launchers split and expand on them.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

bool WriteEntry(const QString& path, const std::string& executablePath) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    const std::string text =
        "[Desktop Entry]\nType=Application\nName=Orvane\nExec=" + DesktopExecValue(executablePath) +
        "\nX-GNOME-Autostart-enabled=true\n";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(text.data(), static_cast<qint64>(text.size()));
    return file.commit();
}

}  // namespace

std::string AutostartEntryPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Desktops ignore a relative value, so the autostart entry must not land there either.
    if (config.isEmpty() || QDir::isRelativePath(config)) {
        config = QDir::homePath() + "/.config";
    }
    return (config + "/autostart/" + kEntryName).toStdString();
}

std::string DesktopExecValue(const std::string& program) {
    std::string value;
    const bool quoted = program.find_first_of(kReserved) != std::string::npos;
    if (quoted) {
        value.push_back('"');
    }
    for (char c : program) {
        switch (c) {
            // Inside quotes these take a backslash; the string value then doubles every
            // backslash, so one escaped character costs two.
            case '"':
            case '`':
            case '$':
                value += "\\\\";
                value.push_back(c);
                break;
            case '\\':
                value += "\\\\\\\\";
                break;
            case '%':  // field codes start with it
                value += "%%";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value.push_back(c);
        }
    }
    if (quoted) {
        value.push_back('"');
    }
    return value;
}

bool SetAutoRun(bool on, Settings& settings, const std::string& executablePath) {
    const QString path = QString::fromStdString(AutostartEntryPath());
    bool done = false;
    if (on) {
        done = WriteEntry(path, executablePath);
    } else {
        done = !QFile::exists(path) || QFile::remove(path);
    }
    if (!done) {
        qCWarning(lcStore) << "cannot" << (on ? "write" : "remove") << "the autostart entry"
                           << path;
    }
    settings.SetSetting(SettingId::AutoRun, on ? 1 : 0);
    return done;
}

}  // namespace orvane
