#pragma once

#include "media/clip_recorder.h"

#include <QString>

#include <cstdint>

namespace orvane {

class KeyStore;
class OutageNotice;
class SiteSession;

// What a video channel window asks of the main frame that holds it. The link is reached
// through the session, which answers for whatever link is current: it may be gone after
// any wait.
class VideoWindowOwner {
  public:
    virtual ~VideoWindowOwner() = default;
    virtual SiteSession& session() = 0;
    // "Change video size" mode: double clicks cycle the picture size.
    virtual bool videoSizeMode() const = 0;
    // Main bars shown: windows show caption and toolbar too.
    virtual bool toolbarsVisible() const = 0;
    // Where recordings go now (ends in a separator), the store that keeps the clip index,
    // and the connected site's name of a channel (empty when it has none).
    virtual QString recordPath() const = 0;
    virtual KeyStore& store() = 0;
    virtual QString channelName(std::int32_t channelId) const = 0;
    // How a recording opens its clip file; empty for the real file. Benchmarks put a disk
    // that stops answering here.
    virtual ClipRecorder::FileOpener recordFileOpener() const { return {}; }
    // Where a recording's failures go, to be told once for all windows; none when nothing
    // tells them.
    virtual OutageNotice* outages() { return nullptr; }
    // A channel's window started a clip, or the operator ended its recording (Stop, or
    // closing the channel): what a start resumes follows these.
    virtual void RecordingStarted(std::int32_t /*channelId*/) {}
    virtual void RecordingStoppedByOperator(std::int32_t /*channelId*/) {}
    // A recording could not write (a full disk, most often): room may be made at once.
    virtual void RecordingFailing() {}
};

}  // namespace orvane
