#pragma once

#include <QByteArray>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

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

// Writes the input into a file of that name in the folder: its path, or empty when it could not
// be written.
inline QString WriteInput(const QTemporaryDir& folder, const char* name, const std::uint8_t* data,
                          std::size_t size) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen(path.toLocal8Bit().constData(), "wb"), &std::fclose);
    if (!file || std::fwrite(data, 1, size, file.get()) != size) {
        return {};
    }
    return path;
}

}  // namespace orvane::fuzz
