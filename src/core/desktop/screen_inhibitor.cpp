#include "desktop/screen_inhibitor.h"

#include "common/log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace orvane {
namespace {

constexpr char kInterface[] = "org.freedesktop.ScreenSaver";

QDBusMessage Call(const char* method) {
    return QDBusMessage::createMethodCall(QLatin1String(ScreenInhibitor::kService),
                                          QLatin1String(ScreenInhibitor::kPath),
                                          QLatin1String(kInterface), QLatin1String(method));
}

}  // namespace

ScreenInhibitor::ScreenInhibitor(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

ScreenInhibitor::~ScreenInhibitor() {
    // The service also drops the inhibit when our connection goes; saying it is tidier.
    SetWanted(false);
}

void ScreenInhibitor::SetWanted(bool wanted) {
    if (wanted == wanted_) {
        return;
    }
    wanted_ = wanted;
    if (wanted_) {
        Inhibit();
    } else {
        Release();
    }
}

void ScreenInhibitor::Inhibit() {
    if (cookie_ || asking_) {
        return;  // held, or the answer will find it wanted
    }
    if (!bus_.isConnected()) {
        if (!toldUnavailable_) {
            toldUnavailable_ = true;
            qCInfo(lcApp) << "cannot keep the screen on: no session bus";
        }
        return;
    }
    QDBusMessage call = Call("Inhibit");
    call << QStringLiteral("Orvane") << QStringLiteral("Showing live video");
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* answered) {
                answered->deleteLater();
                asking_ = false;
                const QDBusPendingReply<uint> reply = *answered;
                if (reply.isError()) {
                    if (!toldUnavailable_) {
                        toldUnavailable_ = true;
                        qCInfo(lcApp).noquote()
                            << "cannot keep the screen on:" << reply.error().message();
                    }
                    return;
                }
                cookie_ = reply.value();
                // Live video may have ended while the desktop answered.
                if (!wanted_) {
                    Release();
                }
            });
}

void ScreenInhibitor::Release() {
    if (!cookie_) {
        return;  // an Inhibit on its way is released when it is answered
    }
    QDBusMessage call = Call("UnInhibit");
    call << *cookie_;
    cookie_.reset();
    // Nobody waits for this answer.
    bus_.asyncCall(call);
}

}  // namespace orvane
