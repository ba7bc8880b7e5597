#include "app/command_line.h"

#include <QFileInfo>

#include <algorithm>
#include <array>

namespace orvane {
namespace {

// Qt's own options, which QApplication takes out of the command line itself; the first take a
// value as the next argument (or after "=").
constexpr std::array<const char*, 16> kQtValueOptions{"platform",
                                                      "platformpluginpath",
                                                      "platformtheme",
                                                      "plugin",
                                                      "qwindowgeometry",
                                                      "geometry",
                                                      "qwindowicon",
                                                      "icon",
                                                      "qwindowtitle",
                                                      "title",
                                                      "session",
                                                      "display",
                                                      "style",
                                                      "stylesheet",
                                                      "name",
                                                      "visual"};
constexpr std::array<const char*, 7> kQtFlags{"reverse", "widgetcount", "testability",  "nograb",
                                              "dograb",  "sync",        "qmljsdebugger"};

bool IsOneOf(const QString& name, auto&& list) {
    return std::any_of(list.begin(), list.end(),
                       [&](const char* option) { return name == QLatin1String(option); });
}

bool IsEmbeddedSwitch(const QString& arg) {
    if (arg.size() < 2 || (arg[0] != u'/' && arg[0] != u'-')) {
        return false;
    }
    const QString name = arg.mid(1);
    return name.compare(u"Embedding", Qt::CaseInsensitive) == 0 ||
           name.compare(u"Automation", Qt::CaseInsensitive) == 0;
}

bool IsClip(const QString& arg) {
    return arg.endsWith(u".avi", Qt::CaseInsensitive) || QFileInfo(arg).isFile();
}

}  // namespace

bool IsEmbeddedStart(const QStringList& arguments) {
    // The first argument is the program itself.
    return std::any_of(arguments.begin() + std::min<qsizetype>(1, arguments.size()),
                       arguments.end(), IsEmbeddedSwitch);
}

StartArguments ReadStartArguments(const QStringList& arguments) {
    StartArguments read;
    bool onlyClips = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (!onlyClips && arg == u"--") {
            onlyClips = true;
            continue;
        }
        if (!onlyClips && IsEmbeddedSwitch(arg)) {
            continue;
        }
        if (onlyClips || (!arg.startsWith(u'-') && IsClip(arg))) {
            read.clips << QFileInfo(arg).absoluteFilePath();
            continue;
        }
        // Qt takes "-platform" and "--platform" alike, and "-style=fusion" as "-style fusion".
        QString name = arg.startsWith(u"--") ? arg.mid(2) : arg.startsWith(u'-') ? arg.mid(1) : "";
        QString value;
        const bool hasValue = name.contains(u'=');
        if (hasValue) {
            value = name.section(u'=', 1);
            name = name.section(u'=', 0, 0);
        }
        if (IsOneOf(name, kQtValueOptions) && (hasValue || i + 1 < arguments.size())) {
            if (!hasValue) {
                value = arguments[++i];
            }
            if (name == u"platform") {
                read.platform = value;
            }
            read.display = read.display || name == u"display";
            continue;
        }
        if (IsOneOf(name, kQtFlags)) {
            continue;
        }
        if (read.unknown.isEmpty()) {
            read.unknown = arg;
        }
    }
    return read;
}

}  // namespace orvane
