#include "media/clip_recorder.h"

#include "common/log.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace orvane {
namespace {

constexpr int kMaxNameAttempts = 100;
constexpr const char* kRemovedText = "The file or its folder has been removed.";
constexpr std::int64_t kFirstCommitIntervalMs = 1000;
constexpr std::int64_t kLongestCommitIntervalMs = 5 * 60 * 1000;
// The interval grows with the clip's age by this divisor: about 128 commits per doubling
// of the length, far inside the super index.
constexpr std::int64_t kCommitAgeDivisor = 128;

QString DateText(const QDateTime& moment) {
    const QDate date = moment.date();
    return QString::asprintf("%04d/%02d/%02d", date.year(), date.month(), date.day());
}

QString TimeText(const QDateTime& moment) {
    const QTime time = moment.time();
    return QString::asprintf("%02d:%02d", time.hour(), time.minute());
}

}  // namespace

QString ClipBaseName(const QDateTime& moment, std::int32_t channelId) {
    return moment.toString(QStringLiteral("yyyyMMddHHmmss")) + QString::asprintf("%04d", channelId);
}

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
      codecKnown_(KeyFrameProbe(format).knowsCodec()) {}

ClipRecorder::~ClipRecorder() {
    StopRecording();
}

Block ClipRecorder::StreamFormat(std::span<const std::uint8_t> frame) const {
    Block format = format_.Bytes();
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

bool ClipRecorder::StartRecording(const QString& recordPath,
                                  std::span<const std::uint8_t> latestFrame, QString& error) {
    StopRecording();
    const QDateTime now = clock_();
    const QString base = ClipBaseName(now, channelId_);

    AviVideoStream stream;
    stream.fccHandler = format_.biCompression;
    stream.suggestedBufferSize = format_.biSizeImage;
    stream.width = format_.biWidth;
    stream.height = format_.biHeight;
    stream.uncompressed = format_.biCompression == BitmapInfoHeader::kBiRgb;
    stream.format = StreamFormat(latestFrame);

    // Two clips of one channel started in the same second keep the stem and get a suffix,
    // so neither overwrites the other.
    QString reason;
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const QString stem = attempt == 0 ? base : base + QStringLiteral("-%1").arg(attempt);
        const QString aviName = stem + QStringLiteral(".avi");
        const QString imageName = stem + QStringLiteral(".img");
        if (QFile::exists(recordPath + imageName)) {
            continue;
        }
        if (auto file = openFile_(recordPath + aviName, reason)) {
            writer_ = AviWriter::Create(std::move(file), stream, reason);
        }
        if (writer_) {
            aviFileName_ = aviName;
            imageFileName_ = imageName;
            break;
        }
        if (!QFile::exists(recordPath + aviName)) {
            break;  // not a name clash: the folder cannot take the file
        }
    }
    if (!writer_) {
        error = QStringLiteral("Cannot record into\n%1\n\n%2")
                    .arg(QDir::toNativeSeparators(recordPath + base + QStringLiteral(".avi")),
                         reason.isEmpty() ? QStringLiteral("No free file name") : reason);
        qCWarning(lcMedia) << "cannot start recording:" << error;
        return false;
    }
    recordPath_ = recordPath;
    start_ = now;
    frameIndex_ = 0;
    previewDue_ = true;
    formatChecked_ = false;
    failureReported_ = false;
    firstSample_ = true;
    sinceStart_.start();
    lastCommitMs_ = 0;
    // Listed from the start, so a clip cut off by a crash is still found.
    WriteIndexEntry(now);
    return true;
}

void ClipRecorder::WriteIndexEntry(const QDateTime& end) {
    indexedMinute_ = static_cast<int>(end.toSecsSinceEpoch() / 60);
    ClipIndex index(store_, [this](std::int32_t channel) {
        const QString name = channelName_ ? channelName_(channel) : QString();
        // A site that went away before the clip ended leaves the name it had.
        if (!name.isEmpty()) {
            lastChannelName_ = name;
        }
        return lastChannelName_;
    });
    ClipRecord record;
    record.fileName = aviFileName_;
    record.open = 0;
    record.channel = channelId_;
    record.startDate = DateText(start_);
    record.startTime = TimeText(start_);
    record.endDate = DateText(end);
    record.endTime = TimeText(end);
    record.imageName = imageFileName_;
    record.path = recordPath_;
    if (!index.AddClipRecord(record)) {
        qCWarning(lcMedia) << "cannot write the clip index entry for" << aviFileName_;
    }
}

void ClipRecorder::WriteFrame(const LiveFrame& frame) {
    if (!writer_ || !frame.valid()) {
        return;
    }
    if (!formatChecked_) {
        formatChecked_ = true;
        const Block format = StreamFormat(frame.bytes());
        writer_->RewriteFormat(format);
    }
    const bool key = frame.keyFrame || (firstSample_ && !codecKnown_);
    firstSample_ = false;
    if (previewDue_ && key) {
        previewDue_ = false;
        if (!WritePreview(frame.bytes(), frame.imageOffset + frame.imageLength)) {
            return;
        }
    }
    ++frameIndex_;
    if (!writer_->WriteSample(frame.image(), key)) {
        EndAfterFailure(writer_->errorText());
        return;
    }
    const std::int64_t elapsed = sinceStart_.elapsed();
    if (elapsed - lastCommitMs_ >= CommitIntervalMs(elapsed)) {
        lastCommitMs_ = elapsed;
        if (writer_->FileRemoved()) {
            EndAfterFailure(QLatin1String(kRemovedText));
            return;
        }
        if (!writer_->Commit()) {
            EndAfterFailure(writer_->errorText());
            return;
        }
        // The entry's end follows the clip minute by minute, so a clip cut off by a crash
        // is listed with about its real length.
        const QDateTime now = clock_();
        const int minute = static_cast<int>(now.toSecsSinceEpoch() / 60);
        if (minute != indexedMinute_) {
            WriteIndexEntry(now);
        }
    }
}

bool ClipRecorder::WritePreview(std::span<const std::uint8_t> frame, std::size_t length) {
    QFile preview(recordPath_ + imageFileName_);
    if (preview.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
        preview.write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(length)) ==
            static_cast<qint64>(length)) {
        return true;
    }
    // A folder gone from under the clip shows here first; no need to wait for a commit.
    if (writer_->FileRemoved()) {
        EndAfterFailure(QLatin1String(kRemovedText));
        return false;
    }
    // The clip goes on without its preview; the index still names it.
    qCWarning(lcMedia) << "cannot write the preview" << preview.fileName() << preview.errorString();
    preview.close();
    preview.remove();
    return true;
}

void ClipRecorder::ReportFailure(const QString& message) {
    if (failureReported_) {
        return;
    }
    failureReported_ = true;
    const QString text = QStringLiteral("Recording cannot write to\n%1\n\n%2")
                             .arg(QDir::toNativeSeparators(aviFilePath()), message);
    qCWarning(lcMedia) << text;
    if (onFailure_) {
        onFailure_(text);
    }
}

void ClipRecorder::EndAfterFailure(const QString& message) {
    ReportFailure(message);
    const QDateTime end = clock_();
    const bool removed = writer_->FileRemoved();
    // The final index goes in where there is still room; the operator has been told, and
    // whatever of it is missing, the samples up to the last commit stay reachable.
    if (!writer_->Close()) {
        qCInfo(lcMedia) << "closing" << aviFileName_
                        << "after the failure:" << writer_->errorText();
    }
    writer_.reset();
    previewDue_ = false;
    ended_ = true;
    removedOnDisk_ = removed;
    // A crash before StopRecording must not leave an entry that claims more than the disk
    // holds.
    if (removed) {
        ClipIndex(store_, {}).DeleteClipRecord(aviFileName_);
    } else {
        WriteIndexEntry(end);
    }
}

void ClipRecorder::StopRecording() {
    if (ended_) {
        if (removedOnDisk_) {
            qCWarning(lcMedia) << "the clip" << aviFileName_ << "was removed while recording";
        }
        ended_ = false;
        removedOnDisk_ = false;
        recordPath_.clear();
        aviFileName_.clear();
        imageFileName_.clear();
        return;
    }
    if (!writer_) {
        return;
    }
    const QDateTime end = clock_();
    const bool removed = writer_->FileRemoved();
    if (!writer_->Close()) {
        qCWarning(lcMedia) << "closing" << aviFileName_ << "failed:" << writer_->errorText();
    }
    writer_.reset();
    if (removed) {
        // Nothing is left to list: the entry written at the start goes too.
        qCWarning(lcMedia) << "the clip" << aviFileName_ << "was removed while recording";
        ClipIndex(store_, {}).DeleteClipRecord(aviFileName_);
    } else {
        WriteIndexEntry(end);
    }
    recordPath_.clear();
    aviFileName_.clear();
    imageFileName_.clear();
    previewDue_ = false;
}

}  // namespace orvane
