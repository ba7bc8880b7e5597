#include "common/log.h"
#include "media/ffmpeg_handles.h"

#include <cstdio>
#include <mutex>

namespace orvane {
namespace {

void LogCallback(void* avcl, int level, const char* format, va_list args) {
    if (level > av_log_get_level()) {
        return;
    }
    char line[1024];
    int prefix = 1;
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &prefix);
    QByteArray text(line);
    text = text.trimmed();
    if (text.isEmpty()) {
        return;
    }
    if (level <= AV_LOG_ERROR) {
        qCWarning(lcMedia) << "ffmpeg:" << text.constData();
    } else {
        qCDebug(lcMedia) << "ffmpeg:" << text.constData();
    }
}

}  // namespace

void RouteFfmpegLogging() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_WARNING);
        av_log_set_callback(LogCallback);
    });
}

}  // namespace orvane
