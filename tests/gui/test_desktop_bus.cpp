// What Orvane tells and asks the desktop over the session bus, against fake notification and
// screensaver services on a private bus (ctest runs this under dbus-run-session).
#include "desktop/desktop_notifier.h"
#include "desktop/screen_inhibitor.h"
#include "support/running_app.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QVariantMap>

namespace orvane {
namespace {

using test::WaitUntil;

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    struct Call {
        uint replaces = 0;
        QString body;
        int urgency = -1;
        QStringList actions;
        uint id = 0;
    };
    std::vector<Call> calls;

  public slots:  // app, replaces, icon, summary, body, actions, hints, timeout
    uint Notify(const QString&, uint replaces, const QString&, const QString&, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int) {
        const uint id = replaces != 0 ? replaces : nextId_++;
        calls.push_back({replaces, body, hints.value("urgency", -1).toInt(), actions, id});
        return id;
    }

  signals:
    void ActionInvoked(uint id, const QString& action);

  private:
    uint nextId_ = 7;
};

class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
  public:
    QStringList inhibits;
    std::vector<uint> released;

  public slots:
    uint Inhibit(const QString& app, const QString& reason) {
        inhibits << app + ": " + reason;
        return 42;
    }
    void UnInhibit(uint cookie) { released.push_back(cookie); }
};

// The fake desktop, on a bus connection of its own, a base of the fixture: it outlives Orvane.
struct FakeDesktop {
    FakeDesktop() {
        const auto flags = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals;
        registered = bus.registerObject(DesktopNotifier::kPath, &notifications, flags) &&
                     bus.registerService(DesktopNotifier::kService) &&
                     bus.registerObject(ScreenInhibitor::kPath, &screenSaver, flags) &&
                     bus.registerService(ScreenInhibitor::kService);
    }
    void Leave() {
        bus.unregisterService(DesktopNotifier::kService);
        bus.unregisterService(ScreenInhibitor::kService);
        bus.unregisterObject(DesktopNotifier::kPath);
        bus.unregisterObject(ScreenInhibitor::kPath);
    }
    ~FakeDesktop() { Leave(); }

    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "desktop");
    FakeNotifications notifications;
    FakeScreenSaver screenSaver;
    bool registered = false;
};

class DesktopBusTest : public FakeDesktop, public test::RunningApp {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << "run under dbus-run-session (ctest does)";
        ASSERT_TRUE(registered);
        ASSERT_TRUE(StartCallingSite(
            CallingSite({{11, 1, "Dock"}}, sim::MakeEventRecord("Door <b> & gate", "", "", ""))));
        Start();
        frame->session().listener().SetProofTimeout(2000);
    }

    bool AlarmToldWithItsEvent(std::size_t calls) {
        return WaitUntil([&] {
            return notifications.calls.size() >= calls &&
                   notifications.calls.back().body.contains("Door");
        });
    }
};

TEST_F(DesktopBusTest, AnAlarmIsOneCriticalNotificationAndClickingItRaisesTheWindow) {
    DeclineChannelDialogs();
    ASSERT_TRUE(CallBack());
    ASSERT_TRUE(AlarmToldWithItsEvent(1));
    const FakeNotifications::Call first = notifications.calls.back();
    EXPECT_EQ(first.body, "Alarm from 127.0.0.1: Door &lt;b&gt; &amp; gate");
    EXPECT_EQ(first.urgency, 2);
    EXPECT_TRUE(first.actions.contains("default"));

    // The next alarm replaces it instead of stacking a second one.
    const std::size_t before = notifications.calls.size();
    ASSERT_TRUE(CallBack());
    ASSERT_TRUE(AlarmToldWithItsEvent(before + 1));
    for (std::size_t i = 1; i < notifications.calls.size(); ++i) {
        EXPECT_EQ(notifications.calls[i].replaces, notifications.calls[0].id) << i;
    }

    frame->showMinimized();
    ASSERT_TRUE(frame->isMinimized());
    emit notifications.ActionInvoked(first.id, "default");
    EXPECT_TRUE(WaitUntil([&] { return !frame->isMinimized(); }));
    EXPECT_TRUE(prompts.shown().empty());
}

TEST_F(DesktopBusTest, LiveVideoKeepsTheScreenOnUntilNoWindowShowsIt) {
    ASSERT_TRUE(WatchFirstChannel());
    ASSERT_TRUE(WaitUntil([&] { return screenSaver.inhibits.size() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return frame->screenInhibitor()->held(); }));

    frame->RunCommand(cmd::kDisconnect);
    ASSERT_TRUE(WaitUntil([&] { return screenSaver.released.size() == 1; }));
    EXPECT_EQ(screenSaver.released[0], 42u);
    EXPECT_EQ(screenSaver.inhibits.size(), 1);
}

TEST_F(DesktopBusTest, WithoutTheServicesOrABusNothingFails) {
    Leave();  // the services go
    const QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), "none");
    ASSERT_FALSE(none.isConnected());
    for (const QDBusConnection& each : {QDBusConnection::sessionBus(), none}) {
        DesktopNotifier notifier(each);
        ScreenInhibitor saver(each);
        for (int alarm = 0; alarm < 2; ++alarm) {
            notifier.Notify("alarm", "Orvane alarm", "Alarm from 10.0.0.1",
                            DesktopNotifier::Urgency::Critical);
        }
        saver.SetWanted(true);
        test::Pump(200);
        EXPECT_FALSE(saver.held());
        saver.SetWanted(false);
    }
    EXPECT_TRUE(notifications.calls.empty());
}

}  // namespace
}  // namespace orvane

#include "test_desktop_bus.moc"
