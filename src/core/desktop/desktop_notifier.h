#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>
#include <optional>

class QDBusPendingCallWatcher;

namespace orvane {

// Desktop notifications through org.freedesktop.Notifications on the session bus. Each
// notification fills a named slot ("alarm", an outage): a later one in the same slot replaces
// the earlier on screen instead of stacking beside it. Nothing here waits for the bus: calls go
// out asynchronously, and a session without a bus or without a notification service only costs
// a line in the log. GUI thread (any thread with an event loop, as long as it is one).
class DesktopNotifier : public QObject {
    Q_OBJECT
  public:
    enum class Urgency : uchar { Low = 0, Normal = 1, Critical = 2 };

    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);

    // Shows summary and body (plain text: escaped here, since servers read the body as
    // markup) in slot. Clicking it runs the default action, reported by activated(slot).
    void Notify(const QString& slot, const QString& summary, const QString& body, Urgency urgency);

    // The body markup servers expect for plain text: &, < and > escaped.
    static QString EscapeBody(const QString& text);

    static constexpr char kService[] = "org.freedesktop.Notifications";
    static constexpr char kPath[] = "/org/freedesktop/Notifications";

  signals:
    // The operator clicked one of our notifications (its default action).
    void activated(const QString& slot);

  private slots:
    void OnActionInvoked(uint id, const QString& action);

  private:
    struct Content {
        QString summary;
        QString body;
        Urgency urgency = Urgency::Normal;
    };
    struct Slot {
        uint id = 0;                     // the server's, once it answered
        bool asking = false;             // a Notify is on its way
        std::optional<Content> waiting;  // shown once the answer brings the id to replace
    };

    void Send(const QString& slot, const Content& content);
    void OnAnswer(const QString& slot, QDBusPendingCallWatcher* call);
    void Unavailable(const QString& why);

    QDBusConnection bus_;
    std::map<QString, Slot> slots_;
    bool toldUnavailable_ = false;
};

}  // namespace orvane
