#include "media/media_graph.h"

#include "common/log.h"
#include "media/clip_packets.h"
#include "media/decoded_picture.h"
#include "media/decoder_registry.h"
#include "media/video_decoder.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace orvane {
namespace {

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

    std::int64_t position = 0;
    QImage picture;
    int framesWithoutPicture = 0;
    const std::atomic<bool>* cancel = nullptr;

    std::int64_t duration() const { return clip->frameCount(); }

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
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                return false;
            }
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

    bool Advance(std::int64_t target, bool jumpToKey) {
        const std::int64_t end = duration();
        const std::int64_t last = std::min(target, end - 1);
        if (position < last) {
            const std::int64_t key = clip->KeyAtOrBefore(last);
            std::int64_t next = position + 1;
            if (jumpToKey && key > next) {
                next = key;
                if (!ResetDecoder()) {
                    return false;
                }
            } else if (decoded != position && !SyncDecoder(position, false)) {
                return false;
            }
            if (!DecodeFrame(next, false)) {
                qCWarning(lcMedia) << "cannot read frame" << next << "while playing";
                return false;
            }
            position = next;
            picture = decoderPicture;
            if (framesWithoutPicture >= kFramesWithoutPictureForAbort) {
                qCWarning(lcMedia) << "no picture from" << framesWithoutPicture
                                   << "frames in a row; playback ends";
                return false;
            }
        }
        if (target >= end && position == end - 1) {
            position = end;
        }
        return true;
    }
};

MediaGraph::MediaGraph(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

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
    if (!d.ShowFrame(std::min(current, d.duration() - 1))) {
        d.decoder.reset();
        return false;
    }
    d.position = current;
    return true;
}

bool MediaGraph::Advance(std::int64_t target, bool jumpToKey) {
    return impl_->Advance(target, jumpToKey);
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

const ClipTimeline& MediaGraph::timeline() const {
    return impl_->clip->timeline();
}

void MediaGraph::SetCancelFlag(const std::atomic<bool>* cancel) {
    impl_->cancel = cancel;
}

}  // namespace orvane
