#pragma once

#include "media/clip_writer.h"
#include "media/key_frames.h"
#include "media/live_frame.h"
#include "media/media_file.h"
#include "store/clip_index.h"
#include "wire/bitmap_info.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace orvane {

// Records one channel into a clip: an AVI file holding every frame as one sample of its
// compressed bytes (never decoded or re-encoded), a preview file holding the first frame
// that can be decoded on its own, exactly as received, and an entry in the clip index.
// The entry is written when recording starts, follows the clip minute by minute and is
// rewritten when it stops, and the file is kept readable while it grows, so a recording cut
// off by a crash or a kill still plays and is listed. A recording goes on in a new clip every
// hour (ClipWriter::ClipLimits); it stays one recording, started and stopped once.
//
// Threads: every call belongs to the thread that made the recorder (the GUI thread, like the
// connection that feeds it), and none of them waits for the disk but these two:
// - StartRecording creates the clip's file and writes its headers itself, so that the operator
//   who pressed Record learns at once when the folder cannot take a clip;
// - StopRecording (and the destructor) waits for the clip to be closed and its final entry
//   written, at most ClipWriter::kFinishWaitMs: past that the clip is finished in the
//   background, and that is logged.
// Samples, commits, the preview file and the entries are written by the clip's ClipWriter on
// its own thread. What it has to tell (a failure) comes back as a call posted to this thread.
class ClipRecorder final : public FrameSink {
  public:
    using Clock = std::function<QDateTime()>;
    using FailureHandler = std::function<void(const QString& message)>;
    using FileOpener = ClipWriter::FileOpener;
    // Told the file of the clip a recording goes on in (see ClipWriter::ClipLimits).
    using NextClipHandler = std::function<void(const QString& aviFilePath)>;

    // The most the frames waiting for the disk may hold, per recorder. A disk that falls
    // further behind loses whole groups of pictures (see WriteFrame). 16 MB rides out a stall
    // of a minute on a channel of 2 Mbit/s (the simulated site sends 400 kbit/s), goes into a
    // slow share of 10 MB/s within StopRecording's wait, and keeps what a full screen of 64
    // recording windows holds to 1 GB when their disk stops answering.
    static constexpr std::size_t kQueueBytes = 16u << 20;

    // format is the channel's BITMAPINFOHEADER; channelName gives the site's name for the
    // channel (empty when it has none). store must outlive the recorder.
    ClipRecorder(KeyStore& store, ClipIndex::ChannelNameLookup channelName, std::int32_t channelId,
                 const BitmapInfoHeader& format);
    ~ClipRecorder() override;
    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // Ends any clip, then begins a new one in recordPath (which ends in a separator).
    // latestFrame, when given, supplies the colour table of a palettised format. false with
    // a message naming the file when the clip cannot be created or its writer cannot start;
    // nothing is left recording.
    bool StartRecording(const QString& recordPath, std::span<const std::uint8_t> latestFrame,
                        QString& error);
    // Hands one frame over to be appended as one sample of its compressed bytes. While the
    // frames waiting for the disk would pass kQueueBytes, frames are dropped from the one that
    // does not fit up to the next key frame that does, so that the clip still decodes after
    // the gap; that is logged once per clip. (A codec whose frames cannot be told apart takes
    // up again at the first frame that fits.)
    void WriteFrame(const LiveFrame& frame);
    // Ends the clip, if any, and writes its index entry; always leaves it not recording.
    void StopRecording();

    void TakeFrame(const LiveFrame& frame) override { WriteFrame(frame); }

    // The site the channel comes from, named by the entries of the clips started from now on.
    void SetSite(QString site) { site_ = std::move(site); }

    bool recording() const { return writer_ != nullptr; }
    // A failure (a full disk, the folder gone) ended the clip; StopRecording still closes it.
    bool endedByFailure() const { return ended_; }
    // The frames this recording took: handed over to be written, not dropped. Once
    // StopRecording returns, the samples of a recording that met no failure.
    std::uint32_t frameIndex() const { return frameIndex_; }
    // The samples the recording's clips hold, never a frame that could not be written: so far
    // while it runs, all of them once StopRecording has returned.
    std::uint64_t framesWritten() const;
    // How far the disk is behind: bytes of the frames taken that are not in the file yet.
    std::size_t queuedBytes() const;
    // The clip being written now.
    const QString& recordPath() const { return recordPath_; }
    const QString& aviFileName() const { return aviFileName_; }
    const QString& imageFileName() const { return imageFileName_; }
    QString aviFilePath() const { return recordPath_ + aviFileName_; }

    // Told when frames cannot be written. A full disk (or any write failure while the file is
    // there) is told once each time writing stops working, and the clip goes on: frames are
    // skipped up to the next key frame that can be written, so it resumes decodable in the
    // same file once there is room. A file or folder that is gone ends the clip, told once:
    // closed with what it holds, or not listed at all when its file is gone
    // (endedByFailure()); the recording counts as running until StopRecording, so the window
    // that started it ends it. Called on this recorder's thread from a posted call, or from
    // StopRecording when the failure came with the clip's last frames; the handler must not block.
    void SetFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }
    // Told, as failures are, when a clip that was told failing (and goes on) is written again.
    void SetWritingAgainHandler(std::function<void()> handler) {
        onWritingAgain_ = std::move(handler);
    }
    // Read on this recorder's thread only.
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    // Tests put a file that runs full, fails or blocks in place of the real one (a gate that
    // holds the writer still: tests/support/file_gate.h). The opener runs in StartRecording,
    // and the file's writes after the headers on the writer's thread.
    void SetFileOpener(FileOpener opener) { openFile_ = std::move(opener); }
    // Tests make the bound small, to pass it with a few frames.
    void SetQueueBytesForTesting(std::size_t bytes) { queueBytes_ = bytes; }
    // Tests make clips short, to see a recording go on in the next.
    void SetClipLimits(ClipWriter::ClipLimits limits) { clipLimits_ = limits; }
    // Tests stand in for a system that has no thread to give.
    void SetThreadStarter(ClipWriter::ThreadStarter starter) { startThread_ = std::move(starter); }
    // Called on this recorder's thread from a posted call.
    void SetNextClipHandler(NextClipHandler handler) { onNextClip_ = std::move(handler); }
    // How often the growing file is made readable: every second at first, less often as
    // the clip gets long, so the header's index never runs out.
    static std::int64_t CommitIntervalMs(std::int64_t elapsedMs);

  private:
    Block StreamFormat(std::span<const std::uint8_t> frame) const;
    // Whether a frame of size bytes goes in, or is dropped because the disk is behind.
    bool Admit(std::size_t size, bool key);
    // The channel's name, or the last one it had.
    QString ChannelName();
    // Takes what the writer has to tell, on a call it posted.
    void TakeNotices();
    // Writes the entries of a store in memory. The text of a failure that ended the clip;
    // failing, when given, gets that of one the clip goes on through.
    std::optional<QString> ApplyNotices(std::vector<ClipWriter::Notice> notices,
                                        std::optional<QString>* failing = nullptr,
                                        bool* writing = nullptr);

    KeyStore& store_;
    ClipIndex::ChannelNameLookup channelName_;
    QString lastChannelName_;
    std::int32_t channelId_;
    QString site_;
    BitmapInfoHeader format_;
    Clock clock_ = [] { return QDateTime::currentDateTime(); };
    FailureHandler onFailure_;
    std::function<void()> onWritingAgain_;
    FileOpener openFile_ = [](const QString& path, QString& error) {
        return OpenMediaFile(path, true, error);
    };
    std::size_t queueBytes_ = kQueueBytes;
    ClipWriter::ClipLimits clipLimits_;
    ClipWriter::ThreadStarter startThread_;
    NextClipHandler onNextClip_;
    std::uint64_t lastWritten_ = 0;  // the samples of the recording StopRecording ended
    // The writer's posted calls land here, on this recorder's thread, and go with it.
    std::unique_ptr<QObject> context_;

    std::unique_ptr<ClipWriter> writer_;  // while recording
    // A codec whose frames cannot be told apart has its clip's first sample marked as key,
    // so that players decode from the start.
    bool codecKnown_ = true;
    bool firstSample_ = true;
    QString recordPath_;
    QString aviFileName_;
    QString imageFileName_;
    std::uint32_t frameIndex_ = 0;
    bool previewDue_ = false;
    bool formatChecked_ = false;
    bool ended_ = false;     // a failure ended the clip before StopRecording
    bool dropping_ = false;  // up to the next key frame that fits
    std::uint32_t dropped_ = 0;
    QElapsedTimer sinceStart_;
    std::int64_t lastCommitMs_ = 0;
};

}  // namespace orvane
