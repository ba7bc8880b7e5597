#include "support/running_app.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>

namespace orvane::test {

sim::SiteSimulatorOptions RunningApp::LiveSite() {
    sim::SiteSimulatorOptions options;
    options.framesPerSecond = 25;
    return options;
}

sim::SiteSimulatorOptions RunningApp::CallingSite(std::vector<sim::SimulatedChannel> channels,
                                                  Block event) {
    sim::SiteSimulatorOptions options = LiveSite();
    options.accounts.clear();
    options.streamOnLogin = true;
    options.channels = std::move(channels);
    options.eventRecord = std::move(event);
    return options;
}

void RunningApp::Start(sim::SiteSimulatorOptions options, int reLink,
                       const std::function<void(Settings&)>& prepare) {
    ASSERT_TRUE(StartSite(std::move(options)));
    PrepareSiteStore(temp.path(), site->port(), reLink);
    QDir().mkpath(folder);
    {
        Settings settings = std::move(OpenSettings(temp.path()).settings);
        settings.SetRecordPath(folder.toStdString());
        if (prepare) {
            prepare(settings);
        }
    }
    ASSERT_EQ(app.InitInstance({"orvane", "/Embedding"}), ViewerApp::StartResult::Started);
    frame = app.mainFrame();
    frame->resize(1024, 768);
    // Polled: the dialog runs its own loop, nested in whatever waits at the time.
    QObject::connect(&decliner, &QTimer::timeout, [this] {
        auto* dialog = qobject_cast<OpenChannelDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog != spared) {
            ++declined;
            dialog->reject();
        }
    });
}

bool RunningApp::StartSite(sim::SiteSimulatorOptions options, quint16 port) {
    site = std::make_unique<sim::SiteSimulator>(std::move(options));
    return site->Listen(QHostAddress::LocalHost, port);
}

bool RunningApp::StartCallingSite(sim::SiteSimulatorOptions options) {
    callingSite = std::make_unique<sim::SiteSimulator>(std::move(options));
    return callingSite->Listen(QHostAddress::LocalHost, 0);
}

bool RunningApp::CallBack(sim::SiteSimulator& caller) {
    return caller.CallBack("127.0.0.1", frame->session().listener().port());
}

void RunningApp::LogIn(ConnectDialog* dialog) {
    dialog->passwordEdit()->setText("admin");
    dialog->accept();
}

VideoChannelWindow* RunningApp::WatchFirstChannel(
    const std::function<void(ConnectDialog*)>& logIn) {
    ModalScript script;
    script.Then<ConnectDialog>(logIn).Then<OpenChannelDialog>(
        [](OpenChannelDialog* dialog) { dialog->accept(); });
    frame->RunCommand(cmd::kConnect);
    WaitUntil([&] { return script.finished(); });
    const bool watching = WaitUntil([&] {
        const auto windows = frame->channelWindows();
        return !windows.isEmpty() && !windows[0]->picture().isNull();
    });
    return watching ? frame->channelWindows()[0] : nullptr;
}

std::vector<ClipRecord> RunningApp::Index() {
    std::vector<ClipRecord> records;
    ClipIndex(app.settings().store(), {}).LoadClipRecords(records);
    return records;
}

QList<SnapshotWindow*> RunningApp::SnapshotWindows() {
    QList<SnapshotWindow*> snapshots;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* snapshot = qobject_cast<SnapshotWindow*>(widget)) {
            snapshots << snapshot;
        }
    }
    return snapshots;
}

}  // namespace orvane::test
