#include "site/channel_set.h"

#include "common/log.h"
#include "media/clip_recorder.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include <algorithm>

namespace orvane {

ChannelSet::ChannelSet(ChannelWindowHost& host, QObject* parent) : QObject(parent), host_(host) {
    presentTimer_.setSingleShot(true);
    presentTimer_.setTimerType(Qt::PreciseTimer);
    connect(&presentTimer_, &QTimer::timeout, this, &ChannelSet::PresentPictures);
    feedTimer_.setInterval(kFeedCheckMs);
    connect(&feedTimer_, &QTimer::timeout, this, &ChannelSet::CheckFeeds);
    // Pictures reach the windows no more often than the screen shows them.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen();
            screen && screen->refreshRate() >= 1) {
            presentInterval_ = std::max(1, static_cast<int>(1000.0 / screen->refreshRate()));
        }
    }
}

ChannelSet::~ChannelSet() {
    // The workers call back into this object: they stop before any of it goes.
    workers_.reset();
}

void ChannelSet::Release() {
    holding_ = false;
    if (windowsChanged_) {
        windowsChanged_ = false;
        host_.ChannelWindowsChanged();
    }
    // Each alarm window's, as it came.
    for (; alarmsDue_ > 0; --alarmsDue_) {
        host_.PlayAlarm();
    }
}

void ChannelSet::NoteWindowsChanged() {
    windowsChanged_ = true;
    if (!holding_) {
        Release();
    }
}

bool ChannelSet::TakeFrame(const sitemsg::VideoFrame& frame, const DecoderChoice& decoder,
                           bool closePermission, bool alarmMode) {
    ChannelLink* link = LinkForFrame(frame, closePermission, alarmMode);
    if (!link) {
        return false;
    }
    const LiveFrame& live = link->StoreFrame(frame.packed, frame.frame);
    Apply(*link, link->feed.Frame(clock_()));
    if (link->frameSink) {
        link->frameSink->TakeFrame(live);
    }
    if (!link->decoding && !link->decoderFailed) {
        auto channelDecoder = decoderFactory_(decoder, frame.frame.header);
        if (!channelDecoder) {
            // The window stays, without pictures; the frames are still kept and recorded.
            link->decoderFailed = true;
            qCWarning(lcSite) << "cannot open" << decoder.name.c_str() << "for channel"
                              << link->channelId;
        } else {
            link->decoding = Workers().AddChannel(std::move(channelDecoder));
            link->decoding->SetPictureSize(link->hasWindow() ? link->window->displaySize()
                                                             : QSize());
        }
    }
    if (link->decoding) {
        // Pictures come back through PresentPictures, at most at the display's rate.
        link->decoding->Submit(live);
    }
    return true;
}

void ChannelSet::MarkStopped(std::uint32_t channelNumber) {
    ChannelLink* link = LinkByNumber(channelNumber);
    if (link && link->hasWindow()) {
        link->stopped = true;
        link->window->MarkStopped();
    }
}

ChannelLink* ChannelSet::LinkForFrame(const sitemsg::VideoFrame& frame, bool closePermission,
                                      bool alarmMode) {
    ChannelLink* link = LinkByNumber(frame.channelNumber);
    if (link && link->hasWindow()) {
        return link;
    }
    if (link && !link->reopenRequested) {
        return nullptr;  // the operator closed this channel; frames still on the way are dropped
    }
    if (!link) {
        link = &links_.emplace_back();
        link->channelNumber = frame.channelNumber;
    }
    link->channelId = frame.channelId;
    link->reopenRequested = false;
    link->stopped = false;
    link->decoding.reset();
    link->decoderFailed = false;
    link->markedReduced = false;
    link->feed = FeedWatch();
    if (!MakeWindow(*link, frame.frame, closePermission, alarmMode)) {
        // No window: the link stays closed, as if the operator had closed it.
        return nullptr;
    }
    return link;
}

bool ChannelSet::MakeWindow(ChannelLink& link, const PackedFrame& frame, bool closePermission,
                            bool alarmMode) {
    ChannelWindowParams params;
    params.channelId = link.channelId;
    params.channelNumber = link.channelNumber;
    params.closePermission = closePermission;
    params.format = frame.header;
    params.pictureSize = QSize(frame.width(), frame.height());
    ChannelWindow* window = host_.CreateChannelWindow(params);
    if (!window) {
        return false;
    }
    QObject* object = window->object();
    connect(object, &QObject::destroyed, this, [this, object] { ForgetWindow(object); });
    link.window = window;
    link.windowObject = object;
    link.windowIdentity = object;
    if (!feedTimer_.isActive()) {
        feedTimer_.start();
    }
    NoteWindowsChanged();
    if (alarmMode) {
        ++alarmsDue_;
        // The alarm's clip begins with the frame that made its window.
        link.frameSink = window->StartAlarmActions();
    }
    return true;
}

bool ChannelSet::PrepareOpen(std::uint32_t channelId) {
    if (HasLiveWindowForId(channelId)) {
        return false;
    }
    for (auto& link : links_) {
        if (link.channelId == channelId && !link.hasWindow()) {
            link.reopenRequested = true;
        }
    }
    return true;
}

std::optional<std::uint32_t> ChannelSet::Close(const ChannelWindow* window) {
    ChannelLink* link = LinkOf(window);
    if (!link) {
        return std::nullopt;
    }
    const bool askSite = !link->stopped;
    const std::uint32_t channelId = link->channelId;
    CloseLink(*link);
    NoteWindowsChanged();
    return askSite ? std::optional(channelId) : std::nullopt;
}

std::optional<std::uint32_t> ChannelSet::ToggleFix(const ChannelWindow* window) {
    const ChannelLink* link = OpenWindowCount() < 2 ? nullptr : LinkOf(window);
    if (!link) {
        return std::nullopt;
    }
    fixedWindow_ = fixedWindow_ == window ? nullptr : link->window;
    return link->channelId;
}

ChannelSet::KeptChannels ChannelSet::Kept() const {
    KeptChannels kept;
    for (const auto& link : links_) {
        if (link.hasWindow()) {
            kept.open.push_back(link.channelId);
            // The new session knows nothing of the fixed channel the window still shows.
            if (fixedWindow_ && link.window == fixedWindow_) {
                kept.fixed = link.channelId;
            }
        }
    }
    return kept;
}

void ChannelSet::EndLink(bool closeWindows) {
    if (closeWindows) {
        while (!links_.empty()) {
            if (links_.front().hasWindow()) {
                windowsChanged_ = true;
            }
            CloseLink(links_.front());
            links_.pop_front();
        }
    }
    for (auto& link : links_) {
        link.decoding.reset();
        link.decoderFailed = false;
        // The kept windows wait for a reconnect: their pictures are no longer live.
        if (link.hasWindow()) {
            Apply(link, link.feed.LinkDown(clock_()));
        }
    }
    MarkReducedChannels();
    holding_ = false;
    alarmsDue_ = 0;
    Release();
}

void ChannelSet::CloseLink(ChannelLink& link) {
    if (link.feed.outage()) {
        emit feedOutage({link.channelId, FeedOutage::Change::Closed, link.feed.lastFrame()});
    }
    link.feed = FeedWatch();
    if (link.hasWindow()) {
        ChannelWindow* window = link.window;
        link.window = nullptr;
        link.windowObject.clear();
        if (fixedWindow_ == window) {
            fixedWindow_ = nullptr;
        }
        window->object()->disconnect(this);
        window->CloseWindow();
    }
    link.window = nullptr;
    link.windowObject.clear();
    link.windowIdentity = nullptr;
    link.frameSink = nullptr;
    link.reopenRequested = false;
}

void ChannelSet::ForgetWindow(QObject* window) {
    for (auto& link : links_) {
        if (link.window && link.windowIdentity == window) {
            if (fixedWindow_ == link.window) {
                fixedWindow_ = nullptr;
            }
            link.window = nullptr;
            link.windowIdentity = nullptr;
            link.frameSink = nullptr;
            NoteWindowsChanged();
        }
    }
}

bool ChannelSet::StartRecording(const ChannelWindow* window, ClipRecorder& recorder,
                                const QString& recordPath, QString& error) {
    ChannelLink* link = LinkOf(window);
    recorder.SetSite(site_);
    if (!recorder.StartRecording(recordPath, link ? link->latestFrame.bytes() : Block(), error)) {
        return false;
    }
    if (link) {
        // From the latest key frame, so that the clip can be decoded from its first sample.
        for (const LiveFrame& frame : link->sinceKey.frames()) {
            recorder.WriteFrame(frame);
        }
        SetFrameSink(window, &recorder);
    }
    return true;
}

void ChannelSet::StopRecording(ClipRecorder& recorder) {
    for (auto& link : links_) {
        if (link.frameSink == &recorder) {
            link.frameSink = nullptr;
        }
    }
    recorder.StopRecording();
}

bool ChannelSet::SetFrameSink(const ChannelWindow* window, FrameSink* sink) {
    ChannelLink* link = LinkOf(window);
    if (link) {
        link->frameSink = sink;
    }
    return link != nullptr;
}

Block ChannelSet::LatestFrame(const ChannelWindow* window) const {
    const ChannelLink* link = FindLinkByWindow(window);
    if (!link || !link->latestFrame.valid()) {
        return {};
    }
    return *link->latestFrame.packed;
}

void ChannelSet::SetDisplaySize(const ChannelWindow* window, QSize size) {
    ChannelLink* link = LinkOf(window);
    if (link && link->decoding) {
        link->decoding->SetPictureSize(size);
    }
}

DecodeWorkers& ChannelSet::Workers() {
    if (!workers_) {
        QPointer<ChannelSet> self(this);
        workers_ = std::make_unique<DecodeWorkers>(
            [self] {
                // On a worker: only a posted call crosses to this object's thread.
                QMetaObject::invokeMethod(
                    self.get(),
                    [self] {
                        if (self) {
                            self->SchedulePresent();
                        }
                    },
                    Qt::QueuedConnection);
            },
            decodeThreads_);
    }
    return *workers_;
}

void ChannelSet::SchedulePresent() {
    if (presentTimer_.isActive()) {
        return;
    }
    const qint64 since = sincePresent_.isValid() ? sincePresent_.elapsed() : presentInterval_;
    presentTimer_.start(static_cast<int>(std::max<qint64>(0, presentInterval_ - since)));
}

void ChannelSet::PresentPictures() {
    if (workers_) {
        workers_->PicturesTaken();
    }
    sincePresent_.start();
    for (ChannelLink& link : links_) {
        if (!link.decoding || !link.hasWindow()) {
            continue;
        }
        if (auto picture = link.decoding->TakePicture()) {
            link.window->DrawPicture(*picture);
        }
    }
    MarkReducedChannels();
}

void ChannelSet::MarkReducedChannels() {
    for (ChannelLink& link : links_) {
        const bool reduced = link.decoding && link.decoding->reduced();
        if (link.hasWindow() && reduced != link.markedReduced) {
            link.markedReduced = reduced;
            link.window->MarkReduced(reduced);
        }
    }
}

void ChannelSet::CheckFeeds() {
    if (OpenWindowCount() == 0) {
        feedTimer_.stop();
        return;
    }
    const FeedTime now = clock_();
    for (ChannelLink& link : links_) {
        if (link.hasWindow()) {
            Apply(link, link.feed.Check(now));
        }
    }
    // A reduced channel brings few pictures: its return is seen here too.
    MarkReducedChannels();
}

void ChannelSet::Apply(ChannelLink& link, const FeedWatch::Update& update) {
    if (update.markChanged && link.hasWindow()) {
        link.window->MarkFeed(link.feed.mark());
    }
    if (update.outageBegins) {
        qCInfo(lcSite) << "channel" << link.channelId << "has had no video since"
                       << link.feed.lastFrame().toString(Qt::ISODate);
        emit feedOutage({link.channelId, FeedOutage::Change::Dead, link.feed.lastFrame()});
    }
    if (update.outageEnds) {
        qCInfo(lcSite) << "channel" << link.channelId << "has video again";
        emit feedOutage({link.channelId, FeedOutage::Change::Back, link.feed.lastFrame()});
    }
}

std::uint64_t ChannelSet::decodedFrames() const {
    std::uint64_t frames = 0;
    for (const ChannelLink& link : links_) {
        frames += link.decoding ? link.decoding->decodedFrames() : 0;
    }
    return frames;
}

std::uint64_t ChannelSet::droppedFrames() const {
    std::uint64_t frames = 0;
    for (const ChannelLink& link : links_) {
        frames += link.decoding ? link.decoding->droppedFrames() : 0;
    }
    return frames;
}

bool ChannelSet::viewDegraded() const {
    return std::any_of(links_.begin(), links_.end(), [](const ChannelLink& link) {
        return link.decoding && (link.decoding->behind() || link.decoding->reduced());
    });
}

int ChannelSet::reducedChannels() const {
    return static_cast<int>(std::count_if(
        links_.begin(), links_.end(),
        [](const ChannelLink& link) { return link.decoding && link.decoding->reduced(); }));
}

ChannelLink* ChannelSet::LinkByNumber(std::uint32_t channelNumber) {
    for (auto& link : links_) {
        if (link.channelNumber == channelNumber) {
            return &link;
        }
    }
    return nullptr;
}

ChannelLink* ChannelSet::LinkOf(const ChannelWindow* window) {
    for (auto& link : links_) {
        if (window && link.window == window && link.hasWindow()) {
            return &link;
        }
    }
    return nullptr;
}

const ChannelLink* ChannelSet::FindLinkByNumber(std::uint32_t channelNumber) const {
    return const_cast<ChannelSet*>(this)->LinkByNumber(channelNumber);
}

const ChannelLink* ChannelSet::FindLinkByWindow(const ChannelWindow* window) const {
    return const_cast<ChannelSet*>(this)->LinkOf(window);
}

bool ChannelSet::HasLiveWindowForId(std::uint32_t channelId) const {
    return std::any_of(links_.begin(), links_.end(), [channelId](const ChannelLink& link) {
        return link.channelId == channelId && link.hasWindow();
    });
}

int ChannelSet::OpenWindowCount() const {
    return static_cast<int>(std::count_if(
        links_.begin(), links_.end(), [](const ChannelLink& link) { return link.hasWindow(); }));
}

std::vector<std::uint32_t> ChannelSet::WindowChannelNumbers() const {
    std::vector<std::uint32_t> numbers;
    for (const auto& link : links_) {
        if (link.hasWindow()) {
            numbers.push_back(link.channelNumber);
        }
    }
    return numbers;
}

}  // namespace orvane
