#pragma once

#include "common/block.h"
#include "media/decoder_registry.h"
#include "site/channel_link.h"
#include "site/site_interfaces.h"
#include "wire/site_messages.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace orvane {

class ClipRecorder;

// The channels a site streams to one connection, and what each frame and stop does to them:
// a channel's window is made on its first frame (again after the operator reopened it), each
// frame is kept as the latest, goes to an attached recorder and to the channel's decoding,
// and the pictures reach the windows at most once per screen refresh. The windows only draw;
// the channels' state is kept here. GUI thread; decoding runs on DecodeWorkers.
//
// The host hears of new or closed windows and of an alarm once the message that caused them
// has been handled (Hold/Release around a dispatch), never from inside it.
class ChannelSet : public QObject {
    Q_OBJECT
  public:
    explicit ChannelSet(ChannelWindowHost& host, QObject* parent = nullptr);
    ~ChannelSet() override;

    // Dispatch: notices for the host wait until Release.
    void Hold() { holding_ = true; }
    void Release();

    // A checked frame of the site's. alarmMode: a new window sounds the alarm and records.
    // False when no window takes it (the operator closed the channel, or none can be made).
    bool TakeFrame(const sitemsg::VideoFrame& frame, const DecoderChoice& decoder,
                   bool closePermission, bool alarmMode);
    void MarkStopped(std::uint32_t channelNumber);

    // The operator asks for a channel: one closed before gets its window again with its next
    // frame. False when a window shows it already.
    bool PrepareOpen(std::uint32_t channelId);
    // The window's channel goes, its window closes; the channel's id when it had one and the
    // site did not stop it (so CloseChannel may go to the site).
    std::optional<std::uint32_t> Close(const ChannelWindow* window);
    // Fixes the window's channel, or unfixes it when it is fixed; its channel id, or nothing
    // when fewer than two windows are open or the window has no channel here.
    std::optional<std::uint32_t> ToggleFix(const ChannelWindow* window);
    // What a login again asks for: the channels of the windows kept, then the fixed one.
    struct KeptChannels {
        std::vector<std::uint32_t> open;
        std::optional<std::uint32_t> fixed;
    };
    KeptChannels Kept() const;

    // The link stopped: with closeWindows every channel goes with its window, otherwise the
    // windows stay for a reconnect. Decoders start afresh either way.
    void EndLink(bool closeWindows);

    // The site the channels come from, as the clips recorded from them name it.
    void SetSite(QString site) { site_ = std::move(site); }
    const QString& site() const { return site_; }
    // Starts recorder on the window's channel: the clip begins with the frames kept since the
    // channel's key frame, then takes every frame; its clips name the site. False with the
    // reason in error.
    bool StartRecording(const ChannelWindow* window, ClipRecorder& recorder,
                        const QString& recordPath, QString& error);
    // Detaches the recorder from its channel and ends its clip.
    void StopRecording(ClipRecorder& recorder);
    // Frames of the window's channel go to sink as well, from the next frame on (nullptr
    // detaches); false when the window has no channel here.
    bool SetFrameSink(const ChannelWindow* window, FrameSink* sink);
    // The channel's latest frame as received; empty without one.
    Block LatestFrame(const ChannelWindow* window) const;
    // The window shows pictures at this size now (device pixels): its channel's next pictures
    // are made at it.
    void SetDisplaySize(const ChannelWindow* window, QSize size);

    const std::list<ChannelLink>& links() const { return links_; }
    const ChannelLink* FindLinkByWindow(const ChannelWindow* window) const;
    const ChannelLink* FindLinkByNumber(std::uint32_t channelNumber) const;
    bool HasLiveWindowForId(std::uint32_t channelId) const;
    // Windows open now: counted from the links, never kept by hand.
    int OpenWindowCount() const;
    // The channel numbers of the open windows, in the order their channels came.
    std::vector<std::uint32_t> WindowChannelNumbers() const;
    ChannelWindow* fixedWindow() const { return fixedWindow_; }

    std::uint64_t decodedFrames() const;
    std::uint64_t droppedFrames() const;
    // Some channel's pictures lag behind its frames, or it shows only its key frames.
    bool viewDegraded() const;
    // Channels that show only their key frames now (their windows are marked "reduced").
    int reducedChannels() const;
    // Where the channels' decoders come from, and how many threads decode: set before the
    // first frame. Tests make slow decoders here.
    using DecoderFactory = std::function<std::unique_ptr<VideoDecoder>(
        const DecoderChoice& choice, const BitmapInfoHeader& format)>;
    void SetDecoderFactory(DecoderFactory factory, int threads = 0) {
        decoderFactory_ = std::move(factory);
        decodeThreads_ = threads;
    }
    void SetPresentInterval(int milliseconds) { presentInterval_ = milliseconds; }

    // Where the feeds' times come from; tests move a clock of their own.
    void SetClock(FeedClock clock) { clock_ = std::move(clock); }
    // Marks the windows whose feed has died and tells of outages; a timer runs it every
    // second while windows are open.
    void CheckFeeds();
    static constexpr int kFeedCheckMs = 1000;

  signals:
    // A channel's feed dead for a minute, back after that, or closed while dead: once each.
    void feedOutage(const orvane::FeedOutage& outage);

  private:
    ChannelLink* LinkByNumber(std::uint32_t channelNumber);
    ChannelLink* LinkOf(const ChannelWindow* window);
    ChannelLink* LinkForFrame(const sitemsg::VideoFrame& frame, bool closePermission,
                              bool alarmMode);
    bool MakeWindow(ChannelLink& link, const PackedFrame& frame, bool closePermission,
                    bool alarmMode);
    void CloseLink(ChannelLink& link);
    // A window destroyed without this set closing it (its parent went away).
    void ForgetWindow(QObject* window);
    void NoteWindowsChanged();
    DecodeWorkers& Workers();
    // A worker has a new picture: the windows get it now, or at the display's next refresh.
    void SchedulePresent();
    void PresentPictures();
    // Shows what the link's feed watch decided.
    void Apply(ChannelLink& link, const FeedWatch::Update& update);
    // Tells the windows whose channels went to key frames only, or came back.
    void MarkReducedChannels();

    ChannelWindowHost& host_;
    std::list<ChannelLink> links_;
    QString site_;
    ChannelWindow* fixedWindow_ = nullptr;
    bool holding_ = false;
    bool windowsChanged_ = false;
    int alarmsDue_ = 0;
    // Made with the first channel's decoder; gone before anything else of the set.
    std::unique_ptr<DecodeWorkers> workers_;
    DecoderFactory decoderFactory_ = &VideoDecoder::Create;
    int decodeThreads_ = 0;
    QTimer presentTimer_;
    QElapsedTimer sincePresent_;
    int presentInterval_ = 16;
    FeedClock clock_ = &FeedTime::Now;
    QTimer feedTimer_;
};

}  // namespace orvane
