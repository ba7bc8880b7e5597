#include "export/clip_export.h"

#include "common/log.h"
#include "common/version.h"
#include "export/export_encoder.h"
#include "export/mp4_output.h"
#include "export/stream_config.h"
#include "media/clip_packets.h"
#include "media/decoder_registry.h"
#include "media/video_decoder.h"
#include "store/clips_in_use.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

#include <algorithm>

namespace orvane {
namespace {

constexpr AVRational kMicroseconds{1, 1000000};
constexpr std::int64_t kProgressSteps = 100;
constexpr qint64 kOwnerlessLockAgeMs = 5000;

struct SourceClip {
    QString path;
    std::unique_ptr<ClipUse> use;  // retention passes the clip by while it is read
    std::unique_ptr<ClipPackets> packets;
    std::optional<DecoderChoice> decoder;
    std::int64_t first = -1;  // its frames in the export; -1 when none
    std::int64_t last = -1;
    std::int64_t lastPlanned = -1;  // the last of its frames the range takes
};

// One frame of the export: where it comes from and when it is shown, in the file's clock.
struct PlannedFrame {
    std::size_t clip = 0;
    std::int64_t frame = 0;
    std::int64_t utcMicros = 0;
    std::int64_t pts = 0;
    std::int64_t duration = 0;
};

bool Copyable(AVCodecID codec) {
    return codec == AV_CODEC_ID_MPEG4 || codec == AV_CODEC_ID_H264;
}

class Exporter {
  public:
    Exporter(const ExportRequest& request, const ExportControl& control)
        : request_(request),
          control_(control),
          part_(ExportPartPath(request.target)),
          manifestPart_(ExportPartPath(ExportManifestPath(request.target))),
          lock_(ExportLockPath(request.target)) {}

    ExportResult Run() {
        if (!Check() || !Lock() || !OpenClips() || !Plan()) {
            // Told in the result: the request cannot be met (a file there, an export to it
            // running, a clip that cannot be read, nothing in the range); nothing was written.
            qCInfo(lcExport) << "export to" << request_.target << "refused:" << result_.error;
            return result_;
        }
        const bool written = (copy_ ? Copy() : Encode()) && Complete();
        if (!written) {
            QFile::remove(part_);
            QFile::remove(manifestPart_);
            if (Cancelled()) {
                result_.outcome = ExportResult::Outcome::Cancelled;
                result_.error.clear();
                qCInfo(lcExport) << "export to" << request_.target << "cancelled";
            } else {
                result_.outcome = ExportResult::Outcome::Failed;
                qCWarning(lcExport) << "export to" << request_.target << "failed:" << result_.error;
            }
            return result_;
        }
        result_.outcome = ExportResult::Outcome::Done;
        qCInfo(lcExport) << "exported" << result_.manifest.frames << "frames to" << request_.target
                         << (copy_ ? "(copied)" : "(encoded)");
        if (const std::int64_t missing = result_.manifest.missingFrames(); missing > 0) {
            qCWarning(lcExport) << "the export to" << request_.target << "lacks" << missing
                                << "frames its clips list but their files no longer hold";
        }
        return result_;
    }

  private:
    bool Fail(const QString& why) {
        result_.error = why;
        return false;
    }
    bool Cancelled() const { return control_.cancel && control_.cancel->load(); }

    void Progress(std::int64_t done) {
        const auto total = static_cast<std::int64_t>(plan_.size());
        const std::int64_t step = std::max<std::int64_t>(1, total / kProgressSteps);
        if (control_.progress && (done % step == 0 || done == total)) {
            control_.progress(done, total);
        }
    }

    bool Check() {
        if (request_.clips.empty()) {
            return Fail(QStringLiteral("no clip to export"));
        }
        if (request_.target.isEmpty()) {
            return Fail(QStringLiteral("no file to export to"));
        }
        if (request_.replace) {
            return true;
        }
        for (const QString& path : {request_.target, ExportManifestPath(request_.target)}) {
            if (QFileInfo::exists(path)) {
                return Fail(QStringLiteral("%1 exists already").arg(path));
            }
        }
        return true;
    }

    // One export at a time writes a target's ".part" files: a second one (the same clip's
    // "Export..." chosen again while the first runs) would write into the same file and
    // remove it when done. The lock of an export whose process died is taken over.
    bool Lock() {
        lock_.setStaleLockTime(0);
        if (lock_.tryLock(0)) {
            return true;
        }
        // An export killed between creating its lock and writing its process into it leaves a
        // lock that names nobody, which no process would ever take over on its own.
        if (lock_.error() == QLockFile::LockFailedError && NamesNobody() &&
            lock_.removeStaleLockFile() && lock_.tryLock(0)) {
            return true;
        }
        if (lock_.error() == QLockFile::LockFailedError) {
            return Fail(QStringLiteral("%1 is being exported already").arg(request_.target));
        }
        const QString path = ExportLockPath(request_.target);
        const QString why = !QFileInfo(QFileInfo(path).absolutePath()).isDir()
                                ? QStringLiteral("no such folder")
                            : lock_.error() == QLockFile::PermissionError
                                ? QStringLiteral("permission denied")
                                : QStringLiteral("the folder cannot be written");
        return Fail(QStringLiteral("cannot create %1: %2").arg(path, why));
    }

    // True for a lock without a readable owner, old enough that its writer is not still
    // between creating it and writing to it.
    bool NamesNobody() const {
        qint64 pid = 0;
        QString host;
        QString app;
        return !lock_.getLockInfo(&pid, &host, &app) &&
               QFileInfo(lock_.fileName()).lastModified().msecsTo(QDateTime::currentDateTime()) >
                   kOwnerlessLockAgeMs;
    }

    bool OpenClips() {
        for (const QString& path : request_.clips) {
            SourceClip clip;
            clip.path = path;
            clip.use = std::make_unique<ClipUse>(path);
            QString error;
            clip.packets = ClipPackets::Open(path, error);
            if (!clip.packets) {
                return Fail(error);
            }
            clip.decoder = FindDecoder(clip.packets->format());
            if (!clip.decoder) {
                return Fail(QStringLiteral("%1: no decoder for %2")
                                .arg(path, QString::fromStdString(
                                               FourccText(clip.packets->format().biCompression))));
            }
            clips_.push_back(std::move(clip));
        }
        return true;
    }

    // Copied when every clip with frames in the range has the codec and size of the one the
    // range starts in; a clip left out by the range does not count.
    void ChooseCopy() {
        const SourceClip& start = clips_[plan_.front().clip];
        const auto codec = static_cast<AVCodecID>(start.decoder->codecId);
        copy_ = Copyable(codec) && std::all_of(plan_.begin(), plan_.end(), [&](const auto& frame) {
                    const SourceClip& clip = clips_[frame.clip];
                    return clip.decoder->codecId == codec &&
                           clip.packets->format().biWidth == start.packets->format().biWidth &&
                           clip.packets->format().biHeight == start.packets->format().biHeight;
                });
    }

    // The frames in the range, each with its timestamp: from the first frame's time, one
    // tick more than the frame before where two times coincide, each lasting until the next.
    bool Plan() {
        std::int64_t from = request_.fromUtcMicros.value_or(INT64_MIN);
        if (request_.fromFrame) {
            const ClipTimeline& first = clips_.front().packets->timeline();
            from = first.TimeOf(
                std::clamp<std::int64_t>(*request_.fromFrame, 0, first.frameCount() - 1));
        }
        const std::int64_t to = request_.toUtcMicros.value_or(INT64_MAX);
        for (std::size_t c = 0; c < clips_.size(); ++c) {
            const ClipTimeline& timeline = clips_[c].packets->timeline();
            std::int64_t frame = 0;
            while (frame < timeline.frameCount() && timeline.TimeOf(frame) < from) {
                ++frame;
            }
            if (plan_.empty() && frame < timeline.frameCount() && timeline.TimeOf(frame) <= to) {
                frame = clips_[c].packets->KeyAtOrBefore(frame);
            }
            for (; frame < timeline.frameCount() && timeline.TimeOf(frame) <= to; ++frame) {
                plan_.push_back({c, frame, timeline.TimeOf(frame), 0, 0});
                clips_[c].lastPlanned = frame;
            }
        }
        if (plan_.empty()) {
            return Fail(QStringLiteral("no frame of the clips lies in the range"));
        }
        const std::int64_t start = plan_.front().utcMicros;
        for (std::size_t i = 0; i < plan_.size(); ++i) {
            std::int64_t pts =
                av_rescale_q(plan_[i].utcMicros - start, kMicroseconds, Mp4Output::kTimeBase);
            if (i > 0 && pts <= plan_[i - 1].pts) {
                pts = plan_[i - 1].pts + 1;
            }
            plan_[i].pts = pts;
            if (i > 0) {
                plan_[i - 1].duration = pts - plan_[i - 1].pts;
            }
        }
        // The last frame lasts a mean interval: the file's duration is then the time from the
        // first frame to the one after the last, as the clip's own duration counts it.
        const double seconds =
            plan_.size() > 1
                ? double(plan_.back().pts) / double(plan_.size() - 1) * av_q2d(Mp4Output::kTimeBase)
                : clips_[plan_.back().clip].packets->secondsPerFrame();
        plan_.back().duration = std::max<std::int64_t>(
            1, static_cast<std::int64_t>(seconds / av_q2d(Mp4Output::kTimeBase) + 0.5));
        ChooseCopy();
        return true;
    }

    bool StartOutput(AVCodecID codec, int width, int height, std::span<const std::uint8_t> config) {
        const QString title =
            QStringLiteral("%1 %2").arg(request_.site, request_.channel).trimmed();
        QString error;
        outputCodec_ = codec;
        output_ = Mp4Output::Create(part_, {codec, width, height, config}, title,
                                    plan_.front().utcMicros, error);
        return output_ ? true : Fail(QStringLiteral("%1: %2").arg(part_, error));
    }

    void Counted(const PlannedFrame& planned) {
        SourceClip& clip = clips_[planned.clip];
        if (clip.first < 0) {
            clip.first = planned.frame;
        }
        clip.last = planned.frame;
        if (frames_ == 0) {
            firstTime_ = planned.utcMicros;
        }
        lastTime_ = planned.utcMicros;
        ++frames_;
    }

    bool Copy() {
        // The decoder configuration comes from the clip the export starts in: a range may
        // start past the first clip's frames.
        const SourceClip& start = clips_[plan_.front().clip];
        ClipPackets& first = *start.packets;
        const auto codec = static_cast<AVCodecID>(start.decoder->codecId);
        Block bytes;
        if (!first.Read(plan_.front().frame, bytes)) {
            return Fail(QStringLiteral("%1: cannot read frame %2")
                            .arg(start.path)
                            .arg(plan_.front().frame));
        }
        Block config = codec == AV_CODEC_ID_H264 ? H264ConfigOf(bytes)
                       : first.streamHeaders().empty()
                           ? Mpeg4ConfigOf(bytes)
                           : Block(first.streamHeaders().begin(), first.streamHeaders().end());
        if (config.empty()) {
            qCWarning(lcExport) << "the first frame of" << start.path
                                << "holds no decoder configuration";
        }
        if (!StartOutput(codec, first.format().biWidth, first.format().biHeight, config)) {
            return false;
        }
        for (std::size_t i = 0; i < plan_.size(); ++i) {
            if (Cancelled()) {
                return false;
            }
            const PlannedFrame& planned = plan_[i];
            SourceClip& clip = clips_[planned.clip];
            if (!clip.packets->Read(planned.frame, bytes)) {
                return Fail(
                    QStringLiteral("%1: cannot read frame %2").arg(clip.path).arg(planned.frame));
            }
            // A frame recorded without data repeats the one before: the file shows that one
            // until the next.
            if (!bytes.empty()) {
                QString error;
                if (!output_->Write(bytes, planned.pts, planned.duration,
                                    clip.packets->sample(planned.frame).key, error)) {
                    return Fail(error);
                }
                Counted(planned);
            }
            Progress(std::int64_t(i + 1));
        }
        return Finish();
    }

    // The planned frames' mean rate, as frames per second.
    AVRational MeanRate() const {
        const double seconds = double(plan_.back().pts + plan_.back().duration) /
                               double(plan_.size()) * av_q2d(Mp4Output::kTimeBase);
        return seconds > 0 ? av_d2q(1.0 / seconds, 1000000) : AVRational{0, 1};
    }

    bool Encode() {
        const ClipPackets& first = *clips_[plan_.front().clip].packets;
        QString error;
        auto encoder = ExportEncoder::Create(first.format().biWidth, first.format().biHeight,
                                             MeanRate(), request_.preferH264, error);
        if (!encoder) {
            return Fail(error);
        }
        if (!StartOutput(encoder->codec(), encoder->width(), encoder->height(),
                         encoder->config())) {
            return false;
        }
        const auto sink = [this](AVPacket& packet) {
            return output_->Write(packet, result_.error);
        };
        std::unique_ptr<VideoDecoder> decoder;
        std::size_t decoderClip = SIZE_MAX;
        QImage picture;
        Block bytes;
        Block withHeaders;
        for (std::size_t i = 0; i < plan_.size(); ++i) {
            if (Cancelled()) {
                return false;
            }
            const PlannedFrame& planned = plan_[i];
            SourceClip& clip = clips_[planned.clip];
            const ClipPackets& packets = *clip.packets;
            if (decoderClip != planned.clip) {
                decoder = VideoDecoder::Create(*clip.decoder, packets.format());
                decoderClip = planned.clip;
                if (!decoder) {
                    return Fail(QStringLiteral("%1: the decoder does not open").arg(clip.path));
                }
            }
            if (!clip.packets->Read(planned.frame, bytes)) {
                return Fail(
                    QStringLiteral("%1: cannot read frame %2").arg(clip.path).arg(planned.frame));
            }
            if (!bytes.empty()) {
                std::span<const std::uint8_t> data = bytes;
                // A stream that keeps its headers apart needs them before its first picture.
                const auto headers = packets.streamHeaders();
                const bool clipStarts = i == 0 || plan_[i - 1].clip != planned.clip;
                if (clipStarts && !headers.empty() &&
                    !std::equal(
                        headers.begin(), headers.end(), bytes.begin(),
                        bytes.begin() + std::ptrdiff_t(std::min(bytes.size(), headers.size())))) {
                    withHeaders.assign(headers.begin(), headers.end());
                    withHeaders.insert(withHeaders.end(), bytes.begin(), bytes.end());
                    data = withHeaders;
                }
                PackedFrame packed;
                packed.header = packets.format();
                packed.header.biSizeImage = static_cast<std::uint32_t>(data.size());
                packed.colourTable = packets.colourTable();
                packed.imageData = data;
                if (auto decoded = decoder->Decode(packed)) {
                    picture = decoded->image;
                }
            }
            // A frame that gives no picture (damaged, or recorded without data) shows the
            // one before it, so the export keeps every frame's time.
            if (!picture.isNull()) {
                if (!encoder->Encode(picture, planned.pts, planned.duration, sink, error)) {
                    return Fail(result_.error.isEmpty() ? error : result_.error);
                }
                Counted(planned);
            }
            Progress(std::int64_t(i + 1));
        }
        if (frames_ == 0) {
            return Fail(QStringLiteral("the clips give no picture"));
        }
        if (!encoder->Finish(sink, error)) {
            return Fail(result_.error.isEmpty() ? error : result_.error);
        }
        return Finish();
    }

    bool Finish() {
        if (frames_ == 0) {
            return Fail(QStringLiteral("the clips hold no frame data in the range"));
        }
        QString error;
        if (!output_->Finish(error)) {
            return Fail(QStringLiteral("%1: %2").arg(part_, error));
        }
        return true;
    }

    // Hashes, the manifest, and both files under their names.
    bool Complete() {
        ExportManifest& manifest = result_.manifest;
        QString error;
        manifest.file = QFileInfo(request_.target).fileName();
        manifest.sha256 = Sha256OfFile(part_, error, control_.cancel);
        if (manifest.sha256.isEmpty()) {
            return Fail(error);
        }
        manifest.bytes = QFileInfo(part_).size();
        manifest.frames = frames_;
        manifest.codec = QString::fromLatin1(avcodec_get_name(outputCodec_));
        manifest.copied = copy_;
        manifest.site = request_.site;
        manifest.channel = request_.channel;
        manifest.fromUtcMicros = firstTime_;
        manifest.toUtcMicros = lastTime_;
        manifest.utcOffsetSeconds =
            clips_[plan_.front().clip].packets->timeline().utcOffsetSeconds();
        manifest.version = QString::fromLatin1(kVersion);
        for (const SourceClip& clip : clips_) {
            if (clip.first < 0) {
                continue;
            }
            ExportManifest::Source source;
            source.path = QFileInfo(clip.path).absoluteFilePath();
            source.sha256 = Sha256OfFile(clip.path, error, control_.cancel, &source.bytes);
            if (source.sha256.isEmpty()) {
                return Fail(error);
            }
            source.firstFrame = clip.first;
            source.lastFrame = clip.last;
            // Up to the clip's end: the frames it lists past what its file holds are not here.
            if (clip.lastPlanned == clip.packets->frameCount() - 1) {
                source.missingFrames = std::max<std::int64_t>(
                    0, clip.packets->listedFrames() - clip.packets->frameCount());
            }
            manifest.sources.push_back(source);
        }
        QFile json(manifestPart_);
        const QByteArray bytes = manifest.ToBytes();
        if (!json.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            json.write(bytes) != bytes.size() || !json.flush()) {
            return Fail(
                QStringLiteral("cannot write %1: %2").arg(manifestPart_, json.errorString()));
        }
        json.close();
        if (Cancelled()) {
            return false;
        }
        const QString manifestPath = ExportManifestPath(request_.target);
        if (request_.replace) {
            QFile::remove(request_.target);
            QFile::remove(manifestPath);
        }
        // A rename never replaces a file: one that appeared meanwhile stays as it is.
        if (!QFile::rename(part_, request_.target)) {
            return Fail(
                QStringLiteral("cannot name the export %1 (does it exist?)").arg(request_.target));
        }
        if (!QFile::rename(manifestPart_, manifestPath)) {
            QFile::remove(request_.target);
            return Fail(
                QStringLiteral("cannot name the manifest %1 (does it exist?)").arg(manifestPath));
        }
        result_.file = request_.target;
        result_.manifestFile = manifestPath;
        return true;
    }

    const ExportRequest& request_;
    const ExportControl& control_;
    const QString part_;
    const QString manifestPart_;
    QLockFile lock_;
    std::vector<SourceClip> clips_;
    std::vector<PlannedFrame> plan_;
    std::unique_ptr<Mp4Output> output_;
    bool copy_ = false;
    AVCodecID outputCodec_ = AV_CODEC_ID_NONE;
    std::int64_t frames_ = 0;
    std::int64_t firstTime_ = 0;
    std::int64_t lastTime_ = 0;
    ExportResult result_;
};

}  // namespace

QJsonObject ExportResult::ToJson() const {
    if (outcome != Outcome::Done) {
        return {{"error", outcome == Outcome::Cancelled ? QStringLiteral("cancelled") : error}};
    }
    QJsonObject object = manifest.ToJson();
    object.insert("manifest", manifestFile);
    object.insert("path", file);
    return object;
}

ExportResult ExportClips(const ExportRequest& request, const ExportControl& control) {
    return Exporter(request, control).Run();
}

QString ExportPartPath(const QString& target) {
    return target + QStringLiteral(".part");
}

QString ExportLockPath(const QString& target) {
    return target + QStringLiteral(".lock");
}

QString ExportManifestPath(const QString& target) {
    return target + QLatin1String(ExportManifest::kSuffix);
}

}  // namespace orvane
