#include "common/message_log.h"

#include <QLoggingCategory>
#include <QMessageLogContext>

#include <array>
#include <atomic>
#include <cstring>

namespace orvane {
namespace {

// The categories whose info the file always takes.
constexpr std::array<const char*, 4> kAlwaysInfo{"orvane.app", "orvane.store", "orvane.site",
                                                 "orvane.media"};

std::atomic<LogFile*> g_file{nullptr};
QtMessageHandler g_previousHandler = nullptr;
QLoggingCategory::CategoryFilter g_previousFilter = nullptr;
// Whether the rules show a kAlwaysInfo category's info on the terminal.
std::array<std::atomic<bool>, kAlwaysInfo.size()> g_infoOnTerminal{};

int AlwaysInfoIndex(const char* category) {
    for (std::size_t i = 0; category && i < kAlwaysInfo.size(); ++i) {
        if (std::strcmp(category, kAlwaysInfo[i]) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Runs under Qt's registry lock for each category, at its creation and whenever the rules or
// the filter change; it must not log.
void FilterCategory(QLoggingCategory* category) {
    if (!g_previousFilter) {
        return;  // installFilter runs the new filter before it hands back the previous one
    }
    g_previousFilter(category);
    const int index = AlwaysInfoIndex(category->categoryName());
    if (index >= 0) {
        g_infoOnTerminal[static_cast<std::size_t>(index)] = category->isInfoEnabled();
        category->setEnabled(QtInfoMsg, true);
    }
}

bool BelongsInFile(QtMsgType type, const char* category) {
    const bool ours = category && std::strncmp(category, "orvane.", 7) == 0;
    return ours || type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
}

void HandleMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    LogFile* file = g_file.load();
    if (file && BelongsInFile(type, context.category)) {
        file->Append(type, context.category ? context.category : "default", text);
        if (type == QtFatalMsg) {
            file->Flush();  // the program ends as soon as the handlers return
        }
    }
    const int index = AlwaysInfoIndex(context.category);
    const bool offTerminal =
        type == QtInfoMsg && index >= 0 && !g_infoOnTerminal[static_cast<std::size_t>(index)];
    if (!offTerminal && g_previousHandler) {
        g_previousHandler(type, context, text);
    }
}

}  // namespace

MessageLog::MessageLog(std::string path, std::int64_t maxBytes) : file_(std::move(path), maxBytes) {
    Q_ASSERT(!g_file.load());
    g_file = &file_;
    g_previousHandler = qInstallMessageHandler(HandleMessage);
    g_previousFilter = QLoggingCategory::installFilter(FilterCategory);
    // Again, now that the previous filter is known, over the categories that exist already.
    QLoggingCategory::installFilter(FilterCategory);
}

MessageLog::~MessageLog() {
    QLoggingCategory::installFilter(g_previousFilter);
    g_previousFilter = nullptr;
    qInstallMessageHandler(g_previousHandler);
    g_file = nullptr;
    file_.Flush();
}

}  // namespace orvane
