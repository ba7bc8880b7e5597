#pragma once

#include "common/block.h"
#include "media/avi_writer.h"
#include "media/live_frame.h"
#include "media/media_file.h"
#include "store/clip_index.h"
#include "store/key_store.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace orvane {

// The disk side of one clip: its samples, commits, preview file and clip index entries, done
// on a thread of its own in the order they were handed over. ClipRecorder decides what goes
// into the clip on its own thread and hands it over here without waiting; a disk or a network
// share that stalls holds up this thread only.
//
// A thread per recording, started with its first clip and ended with its last: a recorder that
// is not recording costs nothing, a recording's commands need no ordering against any other's,
// and a file that stops answering holds up its own recording only, never the clips of other
// channels or of other folders. The threads sleep in the disk or on their queue; they use
// hardly any CPU.
//
// A recording left running for days goes on in a new clip (new name, preview and entry) at
// the first key frame after each hour or clipLimits.bytes, so that no clip outgrows its index
// and the oldest hours can be deleted while the recording goes on. The next clip is made on
// this thread, never the owner's; no frame is lost between the two.
//
// Threads: the constructor, every public call and the destructor belong to the owner's thread
// (the one that made the writer). The work runs on the writer's thread, which takes only the
// queue's lock and never holds it while it writes. The entries go through a store connection of
// the writer's own (KeyStore::OpenForWorker), so the owner's store never waits for them; a
// store in memory, which no second connection reaches, gets them back as notices to write on
// the owner's thread.
class ClipWriter {
  public:
    // Creates a clip's file, which must not exist yet; nullptr with the reason in error. Runs on
    // the owner's thread for a recording's first clip, on the writer's for the ones after.
    using FileOpener =
        std::function<std::unique_ptr<MediaFile>(const QString& path, QString& error)>;
    // Starts the writer's thread running body; false when the system has none to give.
    using ThreadStarter = std::function<bool(std::function<void()> body, std::thread& thread)>;

    // When a recording goes on in a new clip: at the first key frame once the clip has
    // recorded this long or written this many bytes.
    struct ClipLimits {
        std::int64_t ms = 60 * 60 * 1000;
        std::uint64_t bytes = 2ull << 30;
    };

    // The clip being written: its folder (ending in a separator), file names, channel and start,
    // and what the clips after it are made with.
    struct Clip {
        QString folder;
        QString aviFileName;
        QString imageFileName;
        std::int32_t channel = 0;
        QString site;  // what the entry names as the site recorded from
        QDateTime start;
        AviVideoStream stream;
        FileOpener openFile;
        ClipLimits limits;
        // A codec whose frames cannot be told apart goes on in a new clip at any frame, its
        // first sample marked as key.
        bool codecKnown = true;
    };

    // What the writer leaves for its owner, taken on the owner's thread (TakeNotices).
    struct Notice {
        enum class Kind {
            Failure,      // the clip ended at a write failure: closed, its entry made right
            Failing,      // frames cannot be written now (a full disk): the clip goes on, and
                          // from the next key frame that can be written
            Writing,      // after Failing: frames are written again
            WriteEntry,   // write entry into the owner's store (a store in memory)
            DeleteEntry,  // delete the entry of entry.fileName from the owner's store
            NextClip,     // the recording went on in the clip entry names (file, image, path)
        };
        Kind kind = Kind::Failure;
        QString text;          // Failure, Failing: what the operator is told
        bool removed = false;  // Failure: the file or its folder is gone
        ClipRecord entry;
    };

    // Called on the writer's thread when notices begin to wait; it only posts a call that takes
    // them on the owner's thread.
    using Wake = std::function<void()>;

    // How long Finish waits for the disk at most: long enough for the queue to drain into any
    // disk that keeps up (ClipRecorder::kQueueBytes into 10 MB/s, a slow share, takes under
    // two seconds), short enough that a disk which stopped answering does not freeze the
    // program when the operator ends the clip.
    static constexpr int kFinishWaitMs = 3000;
    // Samples are written in batches: when this many bytes wait, at a commit, or after
    // kBatchMs at the latest.
    static constexpr std::size_t kWakeBytes = 256 * 1024;
    static constexpr int kBatchMs = 100;
    // The wait of a finish soon after another gave up on the disk: clips ended together wait
    // for a stalled disk once between them.
    static constexpr int kFinishWaitAfterStallMs = 20;

    // file holds the headers already; store is where the entries go. Starts the thread; nullptr
    // with the reason in error when it cannot be started (file is closed then, and left).
    static std::unique_ptr<ClipWriter> Start(std::unique_ptr<AviWriter> file, Clip clip,
                                             KeyStore::WorkerShare store, Wake wake,
                                             const ThreadStarter& startThread, QString& error);
    // Creates the file of a clip starting at start: named after it and the channel, with a
    // suffix "-1", "-2"... when a clip of that name is there already. The names made go to
    // aviName and imageName; nullptr with the reason in error.
    static std::unique_ptr<AviWriter> CreateClipFile(const Clip& clip, const QDateTime& start,
                                                     QString& aviName, QString& imageName,
                                                     QString& error);
    static bool StartThread(std::function<void()> body, std::thread& thread);
    // Finishes the clip when Finish has not.
    ~ClipWriter();
    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    // Writes the clip's entry, ending at now; location is the channel's name.
    void WriteEntry(const QDateTime& now, const QString& location);
    // Replaces the stream format by one of the same length.
    void RewriteFormat(Block format);
    // Appends the frame's image as one sample, after writing the whole frame as the clip's
    // preview when preview is set. now is when it came: a failure ends the clip's entry there.
    void WriteSample(const LiveFrame& frame, bool key, bool preview, const QDateTime& now);
    // Makes what is written so far reachable after a crash; a new minute goes into the entry.
    void Commit(const QDateTime& now, const QString& location);
    // Closes the clip and writes its final entry after everything handed over before, waiting
    // for that at most kFinishWaitMs. false when the disk took longer: the writer's thread then
    // finishes the clip by itself whenever the disk answers, and tells nothing any more.
    bool Finish(const QDateTime& end, const QString& location);

    // Bytes of the frames handed over whose samples are not in the file yet.
    std::size_t queuedBytes() const;
    // The samples the clips of this writer hold: written, never one that failed nor one of a
    // clip whose file was removed.
    std::uint64_t samplesWritten() const;
    // The notices left since the last call.
    std::vector<Notice> TakeNotices();

  private:
    struct Command;
    struct Shared;
    class Work;

    ClipWriter();

    void Hand(Command command);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

// "%Y%m%d%H%M%S" of the moment and "%04d" of the channel: the stem of a clip's file names.
QString ClipBaseName(const QDateTime& moment, std::int32_t channelId);

}  // namespace orvane
