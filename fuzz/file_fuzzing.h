#pragma once

#include <QByteArray>
#include <QGuiApplication>
#include <QTemporaryDir>

namespace orvane::fuzz {

// What the targets that read files need once: a Gui application without a screen (pictures
// are QImages), the program's logging quiet, and a folder of their own to write inputs into.
inline QTemporaryDir& StartFileFuzzing(int* argc, char*** argv) {
    qputenv("QT_LOGGING_RULES", "orvane.*=false");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    static QTemporaryDir dir;
    return dir;
}

}  // namespace orvane::fuzz
