// Back after a restart: what the main frame keeps of the operator's recordings, and the start
// that connects to the last site and records those channels again.
#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "common/log.h"
#include "video/video_channel_window.h"

#include <QPointer>
#include <QStatusBar>

#include <algorithm>
#include <utility>

namespace orvane {

void MainFrame::ResumeLastRun() {
    Settings& settings = app_.settings();
    if (!settings.ResumeAtStart()) {
        // Nothing records yet: a later start with the setting on resumes what records then.
        if (!settings.ResumeChannels().empty()) {
            settings.SetResumeChannels({});
        }
        return;
    }
    const QString site = QString::fromStdString(settings.ResumeSite());
    if (site.isEmpty()) {
        qCInfo(lcApp) << "nothing to resume: no site was connected before";
        return;
    }
    // Still wanted until they record again or the operator stops them: a crash before then
    // resumes them the next time too.
    recordingChannels_ = settings.ResumeChannels();
    resumeOpen_ = recordingChannels_;
    resumeNotice_ = tr("Resuming the last run: connecting to %1").arg(site);
    ShowNotice(resumeNotice_);
    session_->ConnectInBackground(site);
}

void MainFrame::OpenResumedChannels() {
    // Connected now: the notice would go on saying it is connecting.
    if (statusBar()->currentMessage() == resumeNotice_) {
        statusBar()->clearMessage();
    }
    const QList<VideoChannelWindow*> windows = channelWindows();
    for (const std::uint32_t id : std::exchange(resumeOpen_, {})) {
        // A site that streams every channel at the login has its windows up before the login
        // is told here: those are recorded as they are, not asked for again.
        const auto open = std::find_if(windows.begin(), windows.end(), [id](auto* window) {
            return static_cast<std::uint32_t>(window->channelId()) == id;
        });
        if (open != windows.end()) {
            if (!(*open)->recording()) {
                (*open)->OnRecord();
            }
        } else if (session_->OpenChannel(id)) {
            resumeRecord_.push_back(id);
        }
    }
}

void MainFrame::RecordingStarted(std::int32_t channelId) {
    const auto id = static_cast<std::uint32_t>(channelId);
    // A site's call-back is not the operator's site: a start goes back to that one only.
    if (session_->callBackLink() || std::find(recordingChannels_.begin(), recordingChannels_.end(),
                                              id) != recordingChannels_.end()) {
        return;
    }
    recordingChannels_.push_back(id);
    StoreRecordingChannels();
}

void MainFrame::RecordingStoppedByOperator(std::int32_t channelId) {
    const auto id = static_cast<std::uint32_t>(channelId);
    const auto it = std::find(recordingChannels_.begin(), recordingChannels_.end(), id);
    if (it != recordingChannels_.end() && !session_->callBackLink()) {
        recordingChannels_.erase(it);
        StoreRecordingChannels();
    }
}

void MainFrame::StoreRecordingChannels() {
    // A few bytes in the key store as the operator starts or stops a recording, as the
    // other settings are written; a crash right after still finds them.
    app_.settings().SetResumeChannels(recordingChannels_);
}

}  // namespace orvane
