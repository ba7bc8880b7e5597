#pragma once

#include "media/avi_writer.h"
#include "media/key_frames.h"
#include "media/live_frame.h"
#include "store/clip_index.h"
#include "wire/bitmap_info.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace orvane {

// Records one channel into a clip: an AVI file holding every frame as one sample of its
// compressed bytes (never decoded or re-encoded), a preview file holding the first frame
// that can be decoded on its own, exactly as received, and an entry in the clip index.
// The entry is written when recording starts and rewritten when it stops, and the file is
// kept readable while it grows, so a recording cut off by a crash or a kill still plays
// and is listed.
//
// GUI thread only, like the connection that feeds it.
class ClipRecorder final : public FrameSink {
  public:
    using Clock = std::function<QDateTime()>;
    using FailureHandler = std::function<void(const QString& message)>;
    // Creates a clip's file, which must not exist yet; nullptr with the reason in error.
    using FileOpener =
        std::function<std::unique_ptr<MediaFile>(const QString& path, QString& error)>;

    // format is the channel's BITMAPINFOHEADER; channelName gives the site's name for the
    // channel (empty when it has none).
    ClipRecorder(KeyStore& store, ClipIndex::ChannelNameLookup channelName, std::int32_t channelId,
                 const BitmapInfoHeader& format);
    ~ClipRecorder() override;
    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // Ends any clip, then begins a new one in recordPath (which ends in a separator).
    // latestFrame, when given, supplies the colour table of a palettised format. false with
    // a message naming the file when the clip cannot be created; nothing is left recording.
    bool StartRecording(const QString& recordPath, std::span<const std::uint8_t> latestFrame,
                        QString& error);
    // Appends one frame as one sample of its compressed bytes.
    void WriteFrame(const LiveFrame& frame);
    // Ends the clip, if any, and writes its index entry; always leaves it not recording.
    void StopRecording();

    void TakeFrame(const LiveFrame& frame) override { WriteFrame(frame); }

    bool recording() const { return writer_ != nullptr || ended_; }
    // A failure (a full disk, the folder gone) ended the clip; StopRecording still closes it.
    bool endedByFailure() const { return ended_; }
    std::uint32_t frameIndex() const { return frameIndex_; }
    const QString& recordPath() const { return recordPath_; }
    const QString& aviFileName() const { return aviFileName_; }
    const QString& imageFileName() const { return imageFileName_; }
    QString aviFilePath() const { return recordPath_ + aviFileName_; }

    // Told once per clip when frames cannot be written (disk full, folder gone). The clip
    // ends there: closed with what it holds and listed as ending then, or not listed at all
    // when its file is gone. Frames that come after it are dropped, not tried one by one;
    // the recording counts as running until StopRecording, so the window that started it
    // ends it. Called from inside frame dispatch: the handler must not block.
    void SetFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    // Tests put a file that runs full or fails in place of the real one.
    void SetFileOpener(FileOpener opener) { openFile_ = std::move(opener); }
    // How often the growing file is made readable: every second at first, less often as
    // the clip gets long, so the header's index never runs out.
    static std::int64_t CommitIntervalMs(std::int64_t elapsedMs);

  private:
    Block StreamFormat(std::span<const std::uint8_t> frame) const;
    // false when the clip ended on it
    bool WritePreview(std::span<const std::uint8_t> frame, std::size_t length);
    void ReportFailure(const QString& message);
    // Ends the clip at a write failure, keeping its names until StopRecording.
    void EndAfterFailure(const QString& message);
    void WriteIndexEntry(const QDateTime& end);

    KeyStore& store_;
    ClipIndex::ChannelNameLookup channelName_;
    QString lastChannelName_;
    std::int32_t channelId_;
    BitmapInfoHeader format_;
    Clock clock_ = [] { return QDateTime::currentDateTime(); };
    FailureHandler onFailure_;
    FileOpener openFile_ = [](const QString& path, QString& error) {
        return OpenMediaFile(path, true, error);
    };

    std::unique_ptr<AviWriter> writer_;
    // A codec whose frames cannot be told apart has its clip's first sample marked as key,
    // so that players decode from the start.
    bool codecKnown_ = true;
    bool firstSample_ = true;
    QString recordPath_;
    QString aviFileName_;
    QString imageFileName_;
    QDateTime start_;
    std::uint32_t frameIndex_ = 0;
    bool previewDue_ = false;
    bool formatChecked_ = false;
    bool failureReported_ = false;
    bool ended_ = false;          // a failure ended the clip before StopRecording
    bool removedOnDisk_ = false;  // and its file was gone
    int indexedMinute_ = -1;      // the end minute the index entry holds
    QElapsedTimer sinceStart_;
    std::int64_t lastCommitMs_ = 0;
};

// "%Y%m%d%H%M%S" of the moment and "%04d" of the channel: the stem of a clip's file names.
QString ClipBaseName(const QDateTime& moment, std::int32_t channelId);

}  // namespace orvane
