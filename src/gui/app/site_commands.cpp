// The main frame's commands for the site link: connect, disconnect, channels, remote control
// and the commands the connection posts.
#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "common/command_ids.h"
#include "net/connect_flow.h"
#include "net/remote_control_dialogs.h"
#include "shared/prompt_service.h"
#include "video/open_channel_dialog.h"

#include <QPointer>

namespace orvane {

void MainFrame::RegisterSiteCommands() {
    // An ID code being asked for counts as connecting: Disconnect gives up the wait, and a
    // second Connect cannot start over it.
    auto busy = [this] { return connection() != nullptr || session_->lookingUp(); };
    commands_.Register(cmd::kConnect, {[this] { RunConnectFlow(this, *session_, app_.settings()); },
                                       [busy] { return !busy(); },
                                       {}});
    commands_.Register(cmd::kDisconnect, {[this] { session_->Disconnect(); }, busy, {}});
    commands_.Register(
        cmd::kOpenChannel,
        {[this] {
             // A site that drops and logs in again while the dialog is open asks for it again:
             // the one on screen serves, instead of a stack of them waiting for the operator.
             if (!connection() || channelDialogOpen_) {
                 return;
             }
             // The dialog lists this connection's channels: it goes when the connection does
             // (a site's call-back replaces it), so it never offers them to another site and
             // call-backs in a row never stack dialogs.
             const QPointer<SiteConnection> askedFor = connection();
             OpenChannelDialog dialog(app_.channelTable(), this);
             connect(askedFor, &QObject::destroyed, &dialog, &QDialog::reject);
             channelDialogOpen_ = true;
             const int answer = dialog.exec();
             channelDialogOpen_ = false;
             if (answer != QDialog::Accepted) {
                 return;
             }
             // Looked up again: the link may have gone while the dialog was open.
             if (SiteConnection* link = connection(); link && link == askedFor && link->active()) {
                 link->OpenChannel(static_cast<std::uint32_t>(dialog.selectedChannelId()));
             }
         },
         [this] {
             return connection() && connection()->channelOpenPermission() &&
                    !app_.channelTable().empty();
         },
         {}});
    commands_.Register(cmd::kVideoWindowMenu,
                       {[] {}, [this] { return connection() && connection()->active(); }, {}});
    commands_.Register(cmd::kRemoteControl,
                       {[this] {
                            if (connection() && connection()->active()) {
                                RunRemoteControl(*session_, this,
                                                 CodePage(app_.settings().LoadNet().codePage));
                            }
                        },
                        {},
                        {}});
    for (const auto& [id, message] : {std::pair{cmd::kLoginError, frametext::kLoginError},
                                      std::pair{cmd::kLimitError, frametext::kLimitError},
                                      std::pair{cmd::kCodecError, frametext::kCodecError}}) {
        commands_.Register(id, {[this, text = message] {
                                    // Tear down first, then tell: the box must not sit over
                                    // a link that keeps running.
                                    session_->TearDown();
                                    PromptService::Show(this, text);
                                },
                                {},
                                {}});
    }
    commands_.Register(cmd::kReconnect, {[this] { session_->Reconnect(); }, {}, {}});
}

}  // namespace orvane
