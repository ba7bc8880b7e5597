#include "desktop/desktop_notifier.h"

#include "common/log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace orvane {
namespace {

constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kAppName[] = "Orvane";
constexpr char kIconName[] = "orvane";
constexpr char kDefaultAction[] = "default";

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    if (bus_.isConnected()) {
        bus_.connect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                     QStringLiteral("ActionInvoked"), this, SLOT(OnActionInvoked(uint, QString)));
    }
}

QString DesktopNotifier::EscapeBody(const QString& text) {
    // Only these three: servers that show the body as plain text would print entities of
    // anything else literally.
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&') {
            escaped += QLatin1String("&amp;");
        } else if (c == u'<') {
            escaped += QLatin1String("&lt;");
        } else if (c == u'>') {
            escaped += QLatin1String("&gt;");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void DesktopNotifier::Notify(const QString& slot, const QString& summary, const QString& body,
                             Urgency urgency) {
    if (!bus_.isConnected()) {
        Unavailable(QStringLiteral("no session bus"));
        return;
    }
    const Content content{summary, EscapeBody(body), urgency};
    Slot& state = slots_[slot];
    if (state.asking) {
        // Without the id of the one on its way this would stack a second notification: the
        // latest content goes out once the answer is here.
        state.waiting = content;
        return;
    }
    Send(slot, content);
}

void DesktopNotifier::Send(const QString& slot, const Content& content) {
    Slot& state = slots_[slot];
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kInterface), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue(static_cast<uchar>(content.urgency)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("orvane"));
    call << QString::fromLatin1(kAppName) << state.id << QString::fromLatin1(kIconName)
         << content.summary << content.body
         << QStringList{QLatin1String(kDefaultAction), QStringLiteral("Show Orvane")} << hints
         << qint32(-1);
    state.asking = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, slot](QDBusPendingCallWatcher* answered) { OnAnswer(slot, answered); });
}

void DesktopNotifier::OnAnswer(const QString& slot, QDBusPendingCallWatcher* call) {
    call->deleteLater();
    Slot& state = slots_[slot];
    state.asking = false;
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        Unavailable(reply.error().message());
    } else {
        state.id = reply.value();
    }
    if (state.waiting) {
        const Content content = *state.waiting;
        state.waiting.reset();
        Send(slot, content);
    }
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& action) {
    if (id == 0 || action != QLatin1String(kDefaultAction)) {
        return;
    }
    for (const auto& [slot, state] : slots_) {
        if (state.id == id) {
            emit activated(slot);
            return;
        }
    }
}

void DesktopNotifier::Unavailable(const QString& why) {
    // A desktop without notifications is a normal desktop: said once, never an error.
    if (!toldUnavailable_) {
        toldUnavailable_ = true;
        qCInfo(lcApp).noquote() << "desktop notifications unavailable:" << why;
    }
}

}  // namespace orvane
