#include "support/message_guard.h"

#include <QMessageLogContext>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace orvane::test {
namespace {

// Messages can come from decoder or socket threads: the declarations are shared under a lock.
std::mutex g_mutex;
std::vector<ExpectedMessage*> g_expected;
QtMessageHandler g_previousHandler = nullptr;

const char* TypeName(QtMsgType type) {
    return type == QtWarningMsg ? "warning" : type == QtCriticalMsg ? "critical" : "fatal";
}

void GuardMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* category = context.category ? context.category : "";
    if (type == QtCriticalMsg || type == QtFatalMsg ||
        (type == QtWarningMsg && QByteArray(category).startsWith("orvane."))) {
        std::unique_lock lock(g_mutex);
        const bool claimed = std::any_of(
            g_expected.begin(), g_expected.end(),
            [&](ExpectedMessage* expected) { return expected->Claim(type, category, message); });
        lock.unlock();
        if (!claimed) {
            ADD_FAILURE() << "unexpected " << TypeName(type) << " [" << category << "] "
                          << message.toStdString();
        }
    }
    if (g_previousHandler) {
        g_previousHandler(type, context, message);
    }
}

}  // namespace

void InstallMessageGuard() {
    g_previousHandler = qInstallMessageHandler(GuardMessages);
}

ExpectedMessage::ExpectedMessage(QtMsgType type, const char* category, QString fragment,
                                 Occurrence occurrence)
    : type_(type),
      category_(QLatin1String(category)),
      fragment_(std::move(fragment)),
      occurrence_(occurrence) {
    const std::lock_guard lock(g_mutex);
    g_expected.push_back(this);
}

ExpectedMessage::~ExpectedMessage() {
    std::unique_lock lock(g_mutex);
    g_expected.erase(std::find(g_expected.begin(), g_expected.end(), this));
    lock.unlock();  // no message can claim this declaration any more
    if (occurrence_ == Occurrence::AtLeastOnce && seen_ == 0) {
        ADD_FAILURE() << "expected " << TypeName(type_) << " [" << category_.toStdString()
                      << "] containing \"" << fragment_.toStdString() << "\" never came";
    }
}

bool ExpectedMessage::Claim(QtMsgType type, const char* category, const QString& text) {
    const bool mine =
        type == type_ && category_ == QLatin1String(category) && text.contains(fragment_);
    seen_ += mine ? 1 : 0;
    return mine;
}

int ExpectedMessage::seen() const {
    const std::lock_guard lock(g_mutex);
    return seen_;
}

}  // namespace orvane::test
