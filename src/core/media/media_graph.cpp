#include "media/media_graph.h"

#include "common/log.h"
#include "media/clip_packets.h"
#include "media/decoded_picture.h"
#include "media/decoder_registry.h"
#include "media/video_decoder.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>

namespace orvane {
namespace {

constexpr double kMinRate = 0.1;
constexpr double kMaxRate = 50.0;
// Work done in one timer tick before the thread gets back to its other events.
constexpr std::int64_t kTickBudgetNs = 20'000'000;
// Further behind the clock than this, playback jumps ahead to a key frame.
constexpr double kMaxLagSeconds = 1.0;
// This many frames in a row without a picture while playing end playback with an error.
constexpr int kFramesWithoutPictureForAbort = 50;

// Decoded pictures around the position, so that stepping back within a group of pictures
// does not decode it again from its key frame. Bounded in count and bytes; when full, the
// picture furthest from the one coming in goes.
class PictureCache {
  public:
    static constexpr std::size_t kMaxPictures = 64;
    static constexpr qsizetype kMaxBytes = 64 << 20;

    const QImage* Find(std::int64_t frame) const {
        const auto found = pictures_.find(frame);
        return found == pictures_.end() ? nullptr : &found->second;
    }

    void Add(std::int64_t frame, const QImage& picture) {
        if (picture.sizeInBytes() > kMaxBytes) {
            return;
        }
        if (const auto found = pictures_.find(frame); found != pictures_.end()) {
            bytes_ -= found->second.sizeInBytes();
            pictures_.erase(found);
        }
        while (!pictures_.empty() &&
               (pictures_.size() >= kMaxPictures || bytes_ + picture.sizeInBytes() > kMaxBytes)) {
            const auto first = pictures_.begin();
            const auto last = std::prev(pictures_.end());
            const auto victim = frame - first->first >= last->first - frame ? first : last;
            bytes_ -= victim->second.sizeInBytes();
            pictures_.erase(victim);
        }
        pictures_.emplace(frame, picture);
        bytes_ += picture.sizeInBytes();
    }

    void Clear() {
        pictures_.clear();
        bytes_ = 0;
    }

  private:
    std::map<std::int64_t, QImage> pictures_;
    qsizetype bytes_ = 0;
};

}  // namespace

struct MediaGraph::Impl {
    MediaGraph* owner = nullptr;
    std::unique_ptr<ClipPackets> clip;
    DecoderChoice choice;
    std::unique_ptr<VideoDecoder> decoder;
    // The last frame the decoder was given; -1 when it has a fresh state.
    std::int64_t decoded = -1;
    // Whether the decoder has produced a picture since it was made: until it has, the
    // picture on show is not the one of its frames.
    bool decoderHasPicture = false;
    // The picture of the decoder's last frame (the one before when that frame gave none).
    QImage decoderPicture;
    Block bytes;
    Block packed;
    PictureCache cache;

    State state = State::Stopped;
    std::int64_t position = 0;
    double rate = 1.0;
    QImage picture;
    VideoSurface* surface = nullptr;
    std::deque<Event> events;

    // The playing clock: frame n is due clockStartNs + (n - clockFrame) * frame time / rate.
    QTimer timer;
    QElapsedTimer clock;
    std::int64_t clockStartNs = 0;
    std::int64_t clockFrame = 0;
    bool endReported = false;
    bool failed = false;
    int framesWithoutPicture = 0;
    bool unpresented = false;

    std::int64_t duration() const { return clip->frameCount(); }
    double frameNs() const { return clip->secondsPerFrame() * 1e9 / rate; }

    void QueueEvent(Event event) {
        events.push_back(event);
        emit owner->eventQueued();
    }

    bool ResetDecoder() {
        decoder = VideoDecoder::Create(choice, clip->format());
        decoded = -1;
        decoderHasPicture = false;
        framesWithoutPicture = 0;
        return decoder != nullptr;
    }

    // Gives the decoder one frame, as a live window would get it: the decoder's picture
    // becomes the one it completes. false when the frame cannot be read.
    bool DecodeFrame(std::int64_t frame, bool keep) {
        if (!clip->Read(frame, bytes)) {
            return false;
        }
        decoded = frame;
        if (bytes.empty()) {
            // A frame recorded without data repeats the picture before it.
            if (keep && decoderHasPicture) {
                cache.Add(frame, decoderPicture);
            }
            return true;
        }
        const auto headers = clip->streamHeaders();
        const bool withHeaders =
            !decoderHasPicture && !headers.empty() &&
            !std::equal(headers.begin(), headers.end(), bytes.begin(),
                        bytes.begin() + std::ptrdiff_t(std::min(bytes.size(), headers.size())));
        std::span<const std::uint8_t> data = bytes;
        if (withHeaders) {
            packed.assign(headers.begin(), headers.end());
            packed.insert(packed.end(), bytes.begin(), bytes.end());
            data = packed;
        }
        PackedFrame frameView;
        frameView.header = clip->format();
        frameView.header.biSizeImage = static_cast<std::uint32_t>(data.size());
        frameView.colourTable = clip->colourTable();
        frameView.imageData = data;
        if (auto decodedPicture = decoder->Decode(frameView)) {
            decoderPicture = std::move(decodedPicture->image);
            decoderHasPicture = true;
            framesWithoutPicture = 0;
        } else {
            ++framesWithoutPicture;
        }
        if (keep && decoderHasPicture) {
            cache.Add(frame, decoderPicture);
        }
        return true;
    }

    void Present() {
        unpresented = false;
        if (surface && !picture.isNull()) {
            surface->Present(picture);
        }
    }

    // Brings the decoder to this frame: on from where it stands when that is in the same
    // group of pictures and not past it, else from the key frame at or before it.
    bool SyncDecoder(std::int64_t frame, bool keep) {
        const std::int64_t key = clip->KeyAtOrBefore(frame);
        std::int64_t next = decoded + 1;
        if (!decoder || decoded < key || decoded > frame) {
            if (!ResetDecoder()) {
                return false;
            }
            next = key;
        }
        for (std::int64_t n = next; n <= frame; ++n) {
            if (!DecodeFrame(n, keep)) {
                qCWarning(lcMedia) << "cannot read frame" << n;
                return false;
            }
        }
        return true;
    }

    // Brings the picture of this frame on show, from the cache when it holds it.
    bool ShowFrame(std::int64_t frame) {
        if (const QImage* cached = cache.Find(frame)) {
            picture = *cached;
            return true;
        }
        if (!SyncDecoder(frame, true)) {
            return false;
        }
        picture = decoderPicture;
        return true;
    }

    void RestartClock() {
        clockStartNs = clock.nsecsElapsed();
        clockFrame = position;
    }

    std::int64_t DueFrame() const {
        const double elapsed = static_cast<double>(clock.nsecsElapsed() - clockStartNs);
        return clockFrame + static_cast<std::int64_t>(std::floor(elapsed / frameNs()));
    }

    void Fail() {
        failed = true;
        timer.stop();
        QueueEvent(Event::ErrorAbort);
    }

    // One tick of playback: decodes every frame up to the one the clock has reached (all of
    // them, since each picture builds on the one before), shows the newest, and sets the
    // timer for the next frame.
    void Tick() {
        if (state != State::Running || failed) {
            return;
        }
        const std::int64_t start = clock.nsecsElapsed();
        const std::int64_t end = duration();
        while (true) {
            const std::int64_t due = std::min(DueFrame(), end);
            if (position >= due) {
                break;
            }
            const std::int64_t last = std::min(due, end - 1);
            if (position < last) {
                const double lagSeconds = static_cast<double>(last - position) * frameNs() / 1e9;
                const std::int64_t key = clip->KeyAtOrBefore(last);
                std::int64_t next = position + 1;
                if (lagSeconds > kMaxLagSeconds && key > next) {
                    next = key;
                    if (!ResetDecoder()) {
                        Fail();
                        return;
                    }
                } else if (decoded != position && !SyncDecoder(position, false)) {
                    Fail();
                    return;
                }
                if (!DecodeFrame(next, false)) {
                    qCWarning(lcMedia) << "cannot read frame" << next << "while playing";
                    Fail();
                    return;
                }
                position = next;
                picture = decoderPicture;
                unpresented = true;
                if (framesWithoutPicture >= kFramesWithoutPictureForAbort) {
                    qCWarning(lcMedia) << "no picture from" << framesWithoutPicture
                                       << "frames in a row; playback ends";
                    Fail();
                    return;
                }
            }
            if (due >= end && position == end - 1) {
                position = end;
            }
            if (clock.nsecsElapsed() - start > kTickBudgetNs) {
                break;
            }
        }
        if (unpresented) {
            Present();
        }
        if (position >= end) {
            if (!endReported) {
                endReported = true;
                QueueEvent(Event::Complete);
            }
            return;
        }
        // The next frame's time, or at once when decoding is behind the clock.
        const double nextDue = static_cast<double>(clockStartNs) +
                               static_cast<double>(position + 1 - clockFrame) * frameNs();
        const double waitNs = nextDue - static_cast<double>(clock.nsecsElapsed());
        timer.start(waitNs <= 0 ? 0 : static_cast<int>(std::ceil(waitNs / 1e6)));
    }
};

MediaGraph::MediaGraph(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
    impl_->owner = this;
    impl_->timer.setSingleShot(true);
    impl_->timer.setTimerType(Qt::PreciseTimer);
    connect(&impl_->timer, &QTimer::timeout, this, [this] { impl_->Tick(); });
    impl_->clock.start();
}

MediaGraph::~MediaGraph() = default;

std::unique_ptr<MediaGraph> MediaGraph::RenderFile(const QString& path, QString& error) {
    auto impl = std::make_unique<Impl>();
    impl->clip = ClipPackets::Open(path, error);
    if (!impl->clip) {
        return nullptr;
    }
    const BitmapInfoHeader& format = impl->clip->format();
    const auto choice = FindDecoder(format);
    if (!choice) {
        error = QStringLiteral("%1: no decoder for %2")
                    .arg(path, QString::fromStdString(FourccText(format.biCompression)));
        return nullptr;
    }
    impl->choice = *choice;
    if (!impl->ResetDecoder()) {
        error = QStringLiteral("%1: the %2 decoder cannot open this stream")
                    .arg(path, QString::fromStdString(choice->name));
        return nullptr;
    }
    if (!impl->ShowFrame(0)) {
        error = QStringLiteral("%1: the first frame cannot be read").arg(path);
        return nullptr;
    }
    qCInfo(lcMedia) << "playing" << path << "with" << choice->name.c_str();
    return std::unique_ptr<MediaGraph>(new MediaGraph(std::move(impl)));
}

MediaGraph::Change MediaGraph::Run() {
    Impl& d = *impl_;
    if (d.state == State::Running) {
        return Change::Done;
    }
    d.state = State::Running;
    d.endReported = false;
    d.RestartClock();
    d.timer.start(0);
    return Change::Done;
}

MediaGraph::Change MediaGraph::Pause() {
    impl_->state = State::Paused;
    impl_->timer.stop();
    return Change::Done;
}

MediaGraph::Change MediaGraph::Stop() {
    impl_->state = State::Stopped;
    impl_->timer.stop();
    return Change::Done;
}

MediaGraph::Change MediaGraph::GetState(int /*timeoutMs*/, State& state) {
    state = impl_->state;
    return Change::Done;
}

bool MediaGraph::GetEvent(Event& event) {
    if (impl_->events.empty()) {
        return false;
    }
    event = impl_->events.front();
    impl_->events.pop_front();
    return true;
}

bool MediaGraph::WaitForEvent(int timeoutMs) {
    if (!impl_->events.empty()) {
        return true;
    }
    if (timeoutMs <= 0) {
        return false;
    }
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &MediaGraph::eventQueued, &loop, &QEventLoop::quit);
    timeout.start(timeoutMs);
    loop.exec();
    return !impl_->events.empty();
}

std::int64_t MediaGraph::Duration() const {
    return impl_->duration();
}

std::int64_t MediaGraph::CurrentPosition() const {
    return impl_->position;
}

std::int64_t MediaGraph::StopPosition() const {
    return impl_->duration();
}

bool MediaGraph::SetPositions(std::int64_t current) {
    Impl& d = *impl_;
    if (current < 0 || current > d.duration()) {
        return false;
    }
    d.failed = false;
    d.endReported = false;
    if (!d.ShowFrame(std::min(current, d.duration() - 1))) {
        d.decoder.reset();
        d.QueueEvent(Event::ErrorAbort);
        return false;
    }
    d.position = current;
    d.Present();
    if (d.state == State::Running) {
        d.RestartClock();
        d.timer.start(0);
    }
    return true;
}

bool MediaGraph::SetRate(double rate) {
    if (!(rate >= kMinRate && rate <= kMaxRate)) {
        return false;
    }
    Impl& d = *impl_;
    d.rate = rate;
    if (d.state == State::Running) {
        d.RestartClock();
        d.timer.start(0);
    }
    return true;
}

double MediaGraph::Rate() const {
    return impl_->rate;
}

double MediaGraph::DurationSeconds() const {
    return static_cast<double>(Duration()) * AvgTimePerFrame();
}

double MediaGraph::CurrentPositionSeconds() const {
    return static_cast<double>(CurrentPosition()) * AvgTimePerFrame();
}

double MediaGraph::AvgTimePerFrame() const {
    return impl_->clip->secondsPerFrame();
}

QSize MediaGraph::videoSize() const {
    const BitmapInfoHeader& format = impl_->clip->format();
    return {format.biWidth, format.biHeight};
}

Block MediaGraph::GetCurrentImage() const {
    if (impl_->picture.isNull()) {
        return {};
    }
    return ToPackedDib24(impl_->picture);
}

const QImage& MediaGraph::currentPicture() const {
    return impl_->picture;
}

void MediaGraph::SetSurface(VideoSurface* surface) {
    // A new surface starts with the picture on show rather than blank.
    impl_->surface = surface;
    impl_->Present();
}

}  // namespace orvane
