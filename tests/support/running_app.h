#pragma once

#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "net/connect_dialog.h"
#include "shared/command_ids.h"
#include "site_simulator.h"
#include "store/clip_index.h"
#include "support/event_loop.h"
#include "support/modal_script.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"
#include "video/open_channel_dialog.h"
#include "video/snapshot_window.h"
#include "video/video_channel_window.h"

#include <QAction>
#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace orvane::test {

// Orvane running as the operator has it: started quietly on a temporary store that calls a
// simulated site, its main frame at 1024 x 768, clips recorded into a folder of the store's
// own, and message boxes answered by script. A test states only the site it needs, and a
// second site that calls back with an event when it is about alarms.
class RunningApp : public testing::Test {
  protected:
    // A site streaming at 25 frames a second, the pace the recorders' clips assume.
    static sim::SiteSimulatorOptions LiveSite();
    // The site that calls back: no account of its own, it streams every channel at the login
    // and sends the event given.
    static sim::SiteSimulatorOptions CallingSite(std::vector<sim::SimulatedChannel> channels,
                                                 Block event);

    // Starts the site, writes the store that calls it (ReLink as given; `prepare` adds what
    // the test's store holds besides) and starts the program.
    void Start(sim::SiteSimulatorOptions options = LiveSite(), int reLink = 1,
               const std::function<void(Settings&)>& prepare = {});
    bool StartSite(sim::SiteSimulatorOptions options, quint16 port = 0);  // 0: any free port
    bool StartCallingSite(sim::SiteSimulatorOptions options);
    bool CallBack(sim::SiteSimulator& caller);
    bool CallBack() { return CallBack(*callingSite); }

    // The connect dialog's step: the store has the address and user, the password is typed.
    static void LogIn(ConnectDialog* dialog);
    // Connects as the operator does, opens the site's first channel and waits for its picture.
    VideoChannelWindow* WatchFirstChannel(const std::function<void(ConnectDialog*)>& logIn = LogIn);
    // From now on every channel dialog but `spared` is declined as it opens.
    void DeclineChannelDialogs() { decliner.start(5); }

    // Runs `open` (a command that brings up a dialog of class D, or a call-back) and, under
    // that dialog, `under` (a link dropping, a call-back). True when the dialog has gone by
    // itself after `under`; one that is still there (or hidden) is given `answer`.
    template <typename D>
    bool GoesUnder(const std::function<void()>& open, const std::function<void(D*)>& under,
                   const std::function<void(D*)>& answer = {}) {
        bool gone = false;
        ModalScript script;
        script.Then<D>([&](D* dialog) {
            const QPointer<D> shown(dialog);
            under(dialog);
            gone = WaitUntil([&] { return !shown || !shown->isVisible(); });
            if (shown && answer) {
                answer(shown);
            }
        });
        open();
        return WaitUntil([&] { return script.finished(); }, 8000) && gone;
    }

    SiteSession& session() { return frame->session(); }
    SiteConnection* link() { return frame->session().connection(); }
    static void Reject(QDialog* dialog) { dialog->reject(); }
    std::vector<ClipRecord> Index();
    static QList<SnapshotWindow*> SnapshotWindows();
    void TearDown() override { qDeleteAll(SnapshotWindows()); }  // not the frame's children

    TempStore temp;
    const QString folder = QString::fromStdString(temp.folder()) + "/clips/";
    ScriptedPrompts prompts;
    std::unique_ptr<sim::SiteSimulator> site;
    std::unique_ptr<sim::SiteSimulator> callingSite;
    ViewerApp app;
    MainFrame* frame = nullptr;
    QTimer decliner;
    QPointer<QDialog> spared;  // a channel dialog the test answers itself
    int declined = 0;
};

}  // namespace orvane::test
