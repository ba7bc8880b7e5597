#include "progress.h"

#include <unistd.h>

namespace orvane::cli {
namespace {

// Carriage return, then "erase to the end of the line".
constexpr const char* kRewind = "\r\033[K";

}  // namespace

ProgressLine::ProgressLine(QTextStream& stream, bool enabled) : stream_(stream), enabled_(enabled) {
    sinceShown_.start();
}

ProgressLine::~ProgressLine() {
    Clear();
}

void ProgressLine::Show(const QString& text) {
    if (!enabled_ || sinceShown_.elapsed() < kMinGapMs) {
        return;
    }
    stream_ << kRewind << text << Qt::flush;
    shown_ = true;
    sinceShown_.restart();
}

void ProgressLine::Clear() {
    if (shown_) {
        stream_ << kRewind << Qt::flush;
        shown_ = false;
    }
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

QString ByteCount(qint64 bytes) {
    if (bytes < 1024) {
        return QStringLiteral("%1 B").arg(bytes);
    }
    if (bytes < 1024 * 1024) {
        return QStringLiteral("%1 KiB").arg(static_cast<double>(bytes) / 1024, 0, 'f', 1);
    }
    return QStringLiteral("%1 MiB").arg(static_cast<double>(bytes) / (1024 * 1024), 0, 'f', 1);
}

}  // namespace orvane::cli
