#include "common/log.h"
#include "media/ffmpeg_handles.h"

#include <chrono>
#include <cstdio>
#include <mutex>

namespace orvane {
namespace {

// A stream a decoder cannot read makes FFmpeg complain about every frame: dozens of lines a
// second per channel, for as long as the link lasts. The log takes the first few of each
// interval and then says how many it left out.
class LogThrottle {
  public:
    static constexpr int kLinesPerInterval = 20;
    static constexpr std::chrono::seconds kInterval{10};

    // True when this line is to be logged; leftOut tells how many the interval before this
    // one left out (once, then 0).
    bool Admit(int& leftOut) {
        const std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        leftOut = 0;
        if (now - start_ >= kInterval) {
            leftOut = leftOut_;
            start_ = now;
            shown_ = 0;
            leftOut_ = 0;
        }
        if (shown_ < kLinesPerInterval) {
            ++shown_;
            return true;
        }
        ++leftOut_;
        return false;
    }

  private:
    std::mutex mutex_;
    std::chrono::steady_clock::time_point start_{};
    int shown_ = 0;
    int leftOut_ = 0;
};

LogThrottle& Throttle() {
    static LogThrottle throttle;
    return throttle;
}

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
        int leftOut = 0;
        const bool admitted = Throttle().Admit(leftOut);
        if (leftOut > 0) {
            qCWarning(lcMedia) << "ffmpeg:" << leftOut << "further messages left out";
        }
        if (admitted) {
            qCWarning(lcMedia) << "ffmpeg:" << text.constData();
        }
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
