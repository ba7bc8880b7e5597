// The main frame's commands for the site link (connect, disconnect, channels, remote
// control) and what it shows of the link's notices.
#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "net/connect_flow.h"
#include "net/remote_control_dialogs.h"
#include "shared/command_ids.h"
#include "shared/prompt_service.h"
#include "video/open_channel_dialog.h"

#include <QApplication>
#include <QPointer>

namespace orvane {

void MainFrame::RegisterSiteCommands() {
    // An ID code being asked for counts as connecting: Disconnect gives up the wait, and a
    // second Connect cannot start over it.
    auto busy = [this] { return session_->linkId() != 0 || session_->lookingUp(); };
    commands_.Register(cmd::kConnect, {[this] { RunConnectFlow(this, *session_, app_.settings()); },
                                       [busy] { return !busy(); },
                                       {}});
    commands_.Register(cmd::kDisconnect, {[this] {
                                              // The operator ends the recordings: a start
                                              // resumes none of them.
                                              resumeOpen_.clear();
                                              resumeRecord_.clear();
                                              if (!recordingChannels_.empty()) {
                                                  recordingChannels_.clear();
                                                  StoreRecordingChannels();
                                              }
                                              session_->Disconnect();
                                          },
                                          busy,
                                          {}});
    commands_.Register(
        cmd::kOpenChannel,
        {[this] {
             // A site that drops and logs in again while the dialog is open asks for it again:
             // the one on screen serves, instead of a stack of them waiting for the operator.
             if (session_->linkId() == 0 || channelDialogLink_ != 0) {
                 return;
             }
             // The dialog lists this link's channels: it goes when the link does (a site's
             // call-back replaces it), so it never offers them to another site and call-backs
             // in a row never stack dialogs.
             const std::uint64_t askedFor = session_->linkId();
             OpenChannelDialog dialog(app_.channelTable(), this);
             connect(session_.get(), &SiteSession::linkGone, &dialog, [&dialog, askedFor](auto id) {
                 if (id == askedFor) {
                     dialog.reject();
                 }
             });
             channelDialogLink_ = askedFor;
             const int answer = dialog.exec();
             channelDialogLink_ = 0;
             // The link may have gone while the dialog was open.
             if (answer == QDialog::Accepted && session_->IsActiveLink(askedFor)) {
                 session_->OpenChannel(static_cast<std::uint32_t>(dialog.selectedChannelId()));
             }
         },
         [this] { return session_->channelOpenPermission() && !app_.channelTable().empty(); },
         {}});
    commands_.Register(cmd::kVideoWindowMenu,
                       {[] {}, [this] { return session_->linkActive(); }, {}});
    commands_.Register(cmd::kRemoteControl,
                       {[this] {
                            if (session_->linkActive()) {
                                RunRemoteControl(*session_, this,
                                                 CodePage(app_.settings().LoadNet().codePage));
                            }
                        },
                        {},
                        {}});
}

void MainFrame::AskForChannels() {
    if (channelDialogLink_ != 0 && channelDialogLink_ == session_->linkId()) {
        return;  // the one on screen serves
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        // Never stacked over another dialog (Options, a question, the channel dialog of the
        // link a call-back replaced): asked once that one has gone, if this link still stands.
        const std::uint64_t link = session_->linkId();
        connect(
            modal, &QObject::destroyed, this,
            [this, link] {
                if (session_->IsActiveLink(link)) {
                    AskForChannels();
                }
            },
            Qt::QueuedConnection);
        UpdateCommandStates();
        return;
    }
    RunCommand(cmd::kOpenChannel);
}

void MainFrame::OnSiteNotice(SiteNotice notice) {
    const char* message = nullptr;
    switch (notice) {
        case SiteNotice::LoginAccepted:
            // A site calling in meanwhile is not the site the channels belong to.
            if (!resumeOpen_.empty() && !session_->callBackLink()) {
                OpenResumedChannels();
                UpdateCommandStates();
                return;
            }
            AskForChannels();
            return;
        case SiteNotice::LoginRejected:
            message = frametext::kLoginError;
            break;
        case SiteNotice::LimitReached:
            message = frametext::kLimitError;
            break;
        case SiteNotice::NoCodec:
            message = frametext::kCodecError;
            break;
        case SiteNotice::SiteClosing:
        case SiteNotice::LinkEnded:
            session_->Disconnect();
            break;
        case SiteNotice::LinkLost:
            session_->Reconnect();
            break;
        case SiteNotice::ChannelListChanged:
        case SiteNotice::LinkBack:
            break;
    }
    if (message) {
        // Tear down first, then tell: the box must not sit over a link that keeps running.
        session_->TearDown();
        UpdateCommandStates();
        PromptService::Show(this, message);
        return;
    }
    UpdateCommandStates();
}

}  // namespace orvane
