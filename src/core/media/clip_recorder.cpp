#include "media/clip_recorder.h"

#include "common/log.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace orvane {
namespace {

constexpr std::int64_t kFirstCommitIntervalMs = 1000;
constexpr std::int64_t kLongestCommitIntervalMs = 5 * 60 * 1000;
// The interval grows with the clip's age by this divisor: about 128 commits per doubling
// of the length, far inside the super index.
constexpr std::int64_t kCommitAgeDivisor = 128;
// Ending a clip that waits longer than this for the disk is logged.
constexpr std::int64_t kLongFinishMs = 500;

}  // namespace

std::int64_t ClipRecorder::CommitIntervalMs(std::int64_t elapsedMs) {
    return std::clamp(elapsedMs / kCommitAgeDivisor, kFirstCommitIntervalMs,
                      kLongestCommitIntervalMs);
}

ClipRecorder::ClipRecorder(KeyStore& store, ClipIndex::ChannelNameLookup channelName,
                           std::int32_t channelId, const BitmapInfoHeader& format)
    : store_(store),
      channelName_(std::move(channelName)),
      channelId_(channelId),
      format_(format),
      context_(std::make_unique<QObject>()),
      codecKnown_(KeyFrameProbe(format).knowsCodec()) {}

ClipRecorder::~ClipRecorder() {
    StopRecording();
}

std::size_t ClipRecorder::queuedBytes() const {
    return writer_ ? writer_->queuedBytes() : 0;
}

std::uint64_t ClipRecorder::framesWritten() const {
    return writer_ ? writer_->samplesWritten() : lastWritten_;
}

Block ClipRecorder::StreamFormat(std::span<const std::uint8_t> frame) const {
    BitmapInfoHeader stored = format_;
    stored.biHeight = std::abs(stored.biHeight);
    Block format = stored.Bytes();
    const std::size_t tableBytes = 4ull * format_.biClrUsed;
    const auto header = BitmapInfoHeader::Parse(frame);
    // The channel's header has no colours of its own; a frame with as many brings them.
    if (tableBytes && header && header->biClrUsed == format_.biClrUsed &&
        frame.size() >= header->biSize + tableBytes) {
        const auto table = frame.subspan(header->biSize, tableBytes);
        format.insert(format.end(), table.begin(), table.end());
    } else {
        format.resize(format.size() + tableBytes, 0);
    }
    return format;
}

QString ClipRecorder::ChannelName() {
    const QString name = channelName_ ? channelName_(channelId_) : QString();
    // A site that went away before the clip ended leaves the name it had.
    if (!name.isEmpty()) {
        lastChannelName_ = name;
    }
    return lastChannelName_;
}

bool ClipRecorder::StartRecording(const QString& recordPath,
                                  std::span<const std::uint8_t> latestFrame, QString& error) {
    StopRecording();
    const QDateTime now = clock_();

    ClipWriter::Clip clip;
    clip.folder = recordPath;
    clip.channel = channelId_;
    clip.site = site_;
    clip.start = now;
    // Uncompressed pictures sent top row first are turned by the writer.
    clip.stream = AviVideoStream::For(format_, StreamFormat(latestFrame));
    clip.openFile = openFile_;
    clip.limits = clipLimits_;
    clip.codecKnown = codecKnown_;

    // The file is made here, not on the writer's thread: the operator who pressed Record
    // hears at once when the folder cannot take a clip.
    QString reason;
    std::unique_ptr<AviWriter> file =
        ClipWriter::CreateClipFile(clip, now, clip.aviFileName, clip.imageFileName, reason);
    // Posted, never called from the writer's thread; the context goes with this recorder,
    // and no call is posted any more once the writer is finished or let go.
    ClipWriter::Wake wake = [this, context = context_.get()] {
        QMetaObject::invokeMethod(
            context, [this] { TakeNotices(); }, Qt::QueuedConnection);
    };
    const QString aviName = clip.aviFileName;
    const QString imageName = clip.imageFileName;
    if (file) {
        writer_ = ClipWriter::Start(std::move(file), std::move(clip), store_.ShareWithWorker(),
                                    std::move(wake), startThread_, reason);
    }
    if (!writer_) {
        const QString base = ClipBaseName(now, channelId_);
        error =
            QStringLiteral("Cannot record into\n%1\n\n%2")
                .arg(QDir::toNativeSeparators(recordPath + base + QStringLiteral(".avi")), reason);
        qCWarning(lcMedia) << "cannot start recording:" << error;
        return false;
    }
    recordPath_ = recordPath;
    aviFileName_ = aviName;
    imageFileName_ = imageName;
    frameIndex_ = 0;
    lastWritten_ = 0;
    previewDue_ = true;
    formatChecked_ = false;
    ended_ = false;
    dropping_ = false;
    dropped_ = 0;
    firstSample_ = true;
    sinceStart_.start();
    lastCommitMs_ = 0;
    // Listed from the start, so a clip cut off by a crash is still found.
    writer_->WriteEntry(now, ChannelName());
    return true;
}

bool ClipRecorder::Admit(std::size_t size, bool key) {
    const std::size_t queued = writer_->queuedBytes();
    const bool fits = queued == 0 || queued + size <= queueBytes_;
    if (dropping_ && fits && (key || !codecKnown_)) {
        dropping_ = false;
    } else if (!dropping_ && !fits) {
        dropping_ = true;
        if (dropped_ == 0) {
            qCWarning(lcMedia) << "the disk does not keep up with" << aviFilePath()
                               << "- frames are dropped up to the next key frame";
        }
    }
    dropped_ += dropping_ ? 1 : 0;
    return !dropping_;
}

void ClipRecorder::WriteFrame(const LiveFrame& frame) {
    if (!writer_ || ended_ || !frame.valid()) {
        return;
    }
    if (!formatChecked_) {
        formatChecked_ = true;
        writer_->RewriteFormat(StreamFormat(frame.bytes()));
    }
    const bool key = frame.keyFrame || (firstSample_ && !codecKnown_);
    if (!Admit(frame.packed->size(), key)) {
        return;
    }
    firstSample_ = false;
    const bool preview = previewDue_ && key;
    previewDue_ = previewDue_ && !key;
    ++frameIndex_;
    const QDateTime now = clock_();
    writer_->WriteSample(frame, key, preview, now);
    const std::int64_t elapsed = sinceStart_.elapsed();
    if (elapsed - lastCommitMs_ >= CommitIntervalMs(elapsed)) {
        lastCommitMs_ = elapsed;
        writer_->Commit(now, ChannelName());
    }
}

void ClipRecorder::TakeNotices() {
    if (!writer_) {
        return;
    }
    std::optional<QString> failing;
    bool writing = false;
    const auto failure = ApplyNotices(writer_->TakeNotices(), &failing, &writing);
    if (failure && !ended_) {
        ended_ = true;
        if (onFailure_) {
            onFailure_(*failure);
        }
    } else if (failing && !ended_ && onFailure_) {
        onFailure_(*failing);  // the clip goes on: it is still recording
    }
    // Failing and writing again within one batch: the recovery is what holds now.
    if (writing && !ended_ && onWritingAgain_) {
        onWritingAgain_();
    }
}

std::optional<QString> ClipRecorder::ApplyNotices(std::vector<ClipWriter::Notice> notices,
                                                  std::optional<QString>* failing, bool* writing) {
    std::optional<QString> failure;
    for (ClipWriter::Notice& notice : notices) {
        switch (notice.kind) {
            case ClipWriter::Notice::Kind::Failure:
                failure = std::move(notice.text);
                break;
            case ClipWriter::Notice::Kind::Failing:
                if (failing) {
                    *failing = std::move(notice.text);
                }
                if (writing) {
                    *writing = false;
                }
                break;
            case ClipWriter::Notice::Kind::Writing:
                if (writing) {
                    *writing = true;
                }
                break;
            case ClipWriter::Notice::Kind::WriteEntry: {
                const QString location = notice.entry.location;
                ClipIndex index(store_, [&location](std::int32_t) { return location; });
                if (!index.UpdateClipRecord(notice.entry)) {
                    qCWarning(lcMedia)
                        << "cannot write the clip index entry for" << notice.entry.fileName;
                }
                break;
            }
            case ClipWriter::Notice::Kind::DeleteEntry:
                ClipIndex(store_, {}).DeleteClipRecord(notice.entry.fileName);
                break;
            case ClipWriter::Notice::Kind::NextClip:
                // Only while the recording runs: one StopRecording ended is not followed.
                if (writer_) {
                    aviFileName_ = notice.entry.fileName;
                    imageFileName_ = notice.entry.imageName;
                    // The new clip is made readable every second at first, as the first was.
                    sinceStart_.start();
                    lastCommitMs_ = 0;
                    if (onNextClip_) {
                        onNextClip_(aviFilePath());
                    }
                }
                break;
        }
    }
    return failure;
}

void ClipRecorder::StopRecording() {
    if (!writer_) {
        return;
    }
    // Not recording any more from here on, so that a failure handler may start a new clip.
    const std::unique_ptr<ClipWriter> writer = std::move(writer_);
    const QString name = aviFileName_;
    const bool told = ended_;
    QElapsedTimer waited;
    waited.start();
    const bool finished = writer->Finish(clock_(), ChannelName());
    lastWritten_ = writer->samplesWritten();
    if (!finished) {
        qCWarning(lcMedia) << "the disk has not taken the end of" << name << "in"
                           << ClipWriter::kFinishWaitMs
                           << "ms; the clip is closed and listed when it does";
    } else if (waited.elapsed() > kLongFinishMs) {
        qCInfo(lcMedia) << "ending" << name << "waited" << waited.elapsed() << "ms for the disk";
    }
    if (dropped_ > 0) {
        qCInfo(lcMedia) << name << "lost" << dropped_ << "frames to a disk that did not keep up";
    }
    recordPath_.clear();
    aviFileName_.clear();
    imageFileName_.clear();
    previewDue_ = false;
    ended_ = false;
    if (!finished) {
        return;
    }
    // The entries of a store in memory, and a failure the clip's last frames met.
    const auto failure = ApplyNotices(writer->TakeNotices());
    if (failure && !told && onFailure_) {
        onFailure_(*failure);
    }
}

}  // namespace orvane
