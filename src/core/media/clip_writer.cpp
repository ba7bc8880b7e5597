#include "media/clip_writer.h"

#include "common/log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

namespace orvane {
namespace {

constexpr const char* kRemovedText = "The file or its folder has been removed.";
constexpr int kMaxNameAttempts = 100;
// What a sample adds to the file besides its bytes: the chunk's header.
constexpr std::uint64_t kChunkHeaderBytes = 8;

QString DateText(const QDateTime& moment) {
    const QDate date = moment.date();
    return QString::asprintf("%04d/%02d/%02d", date.year(), date.month(), date.day());
}

QString TimeText(const QDateTime& moment) {
    const QTime time = moment.time();
    return QString::asprintf("%02d:%02d", time.hour(), time.minute());
}

int MinuteOf(const QDateTime& moment) {
    return static_cast<int>(moment.toSecsSinceEpoch() / 60);
}

// An uncompressed picture sent top row first (a negative height) with its rows turned
// bottom first, as AVI readers take uncompressed samples under the positive height the
// clip's headers declare; nothing for any other picture, or one too short for its rows.
std::optional<Block> BottomUpRows(const LiveFrame& frame) {
    const BitmapInfoHeader& header = frame.header;
    if (header.biCompression != BitmapInfoHeader::kBiRgb || header.biHeight >= 0) {
        return std::nullopt;
    }
    const std::uint64_t stride =
        (std::uint64_t{static_cast<std::uint32_t>(header.biWidth)} * header.biBitCount + 31) / 32 *
        4;
    const std::uint64_t rows = 0ull - static_cast<std::int64_t>(header.biHeight);
    const auto image = frame.image();
    if (stride == 0 || stride * rows > image.size()) {
        return std::nullopt;
    }
    Block bottomUp(image.begin(), image.end());
    for (std::uint64_t row = 0; row < rows; ++row) {
        const auto line = image.begin() + static_cast<std::ptrdiff_t>(row * stride);
        std::copy(line, line + static_cast<std::ptrdiff_t>(stride),
                  bottomUp.begin() + static_cast<std::ptrdiff_t>((rows - 1 - row) * stride));
    }
    return bottomUp;
}

}  // namespace

struct ClipWriter::Command {
    enum class Kind { Entry, Format, Sample, Commit, End };
    Kind kind = Kind::Entry;
    LiveFrame frame;
    bool key = false;
    bool preview = false;
    Block format;
    QDateTime now;  // invalid: the latest one handed over
    QString location;
};

// What the owner's thread and the writer's thread share; mutex guards everything but
// queuedBytes.
struct ClipWriter::Shared {
    std::mutex mutex;
    std::condition_variable commandsWaiting;
    std::condition_variable finishedChanged;
    std::deque<Command> commands;
    std::vector<Notice> notices;
    Wake wake;  // empty once the owner has let go of the writer
    bool finished = false;
    // A command other than a sample waits, or samples enough to be worth a wake-up.
    bool wakeDue = false;
    std::atomic<std::size_t> queuedBytes{0};
    std::atomic<std::uint64_t> samplesWritten{0};
};

// The clip's file and entry, touched by the writer's thread only.
class ClipWriter::Work {
  public:
    Work(std::unique_ptr<AviWriter> file, Clip clip, KeyStore::WorkerShare store)
        : file_(std::move(file)), clip_(std::move(clip)), share_(std::move(store)) {
        clipClock_.start();
    }

    // The thread never ran: the clip's file goes, as if it had never been made.
    void Abandon() {
        if (file_) {
            file_->Close();
            file_.reset();
            QFile::remove(clip_.folder + clip_.aviFileName);
        }
    }

    void Run(Shared& shared) {
        shared_ = &shared;
        OpenStore();
        bool ended = false;
        while (!ended) {
            std::deque<Command> batch;
            {
                // Samples alone wake the thread only once they add up (kWakeBytes), or after
                // kBatchMs: a wake-up per frame would cost the CPU of many channels for nothing,
                // since only a commit makes samples reachable after a crash.
                std::unique_lock lock(shared.mutex);
                shared.commandsWaiting.wait_for(lock, std::chrono::milliseconds(kBatchMs),
                                                [&] { return shared.wakeDue; });
                shared.wakeDue = false;
                batch.swap(shared.commands);
            }
            bool wrote = false;
            for (Command& command : batch) {
                Do(command);
                if (command.kind == Command::Kind::Sample) {
                    shared.queuedBytes -= command.frame.packed->size();
                    wrote = true;
                }
                if (command.kind == Command::Kind::End) {
                    ended = true;
                    break;
                }
            }
            // Writes into a file whose folder was removed still succeed, and reach nobody:
            // found at the batch, not at the next commit (half a minute apart late in an hour's
            // clip), the loss is a moment's, and the recording goes on elsewhere at once.
            if (wrote && !ended && file_ && FileGone()) {
                EndAfterFailure(QLatin1String(kRemovedText));
            }
        }
        // Entry writes the store kept back behind another program's lock go in as it closes.
        store_.reset();
        {
            const std::lock_guard lock(shared.mutex);
            shared.finished = true;
        }
        shared.finishedChanged.notify_all();
    }

  private:
    void OpenStore() {
        if (share_.path.empty()) {
            return;  // a store in memory: the owner writes the entries
        }
        std::string detail;
        store_ = KeyStore::OpenForWorker(share_, detail);
        if (!store_) {
            qCWarning(lcStore) << "the recorder cannot open the store on its own:" << detail.c_str()
                               << "- its entries go through the program's";
        }
    }

    void Do(const Command& command) {
        if (command.now.isValid()) {
            now_ = command.now;
        }
        if (!command.location.isNull()) {
            location_ = command.location;
        }
        switch (command.kind) {
            case Command::Kind::Entry:
                WriteEntry();
                return;
            case Command::Kind::Format:
                clip_.stream.format = command.format;
                if (file_) {
                    file_->RewriteFormat(command.format);
                }
                return;
            case Command::Kind::Sample:
                WriteSample(command);
                return;
            case Command::Kind::Commit:
                Commit();
                return;
            case Command::Kind::End:
                End();
                return;
        }
    }

    // A recording is never stopped for lack of room: a sample that cannot be written is
    // skipped, and so is every frame up to the next key frame, where writing is tried again,
    // so that the clip goes on decodable in the same file once there is room. A file or
    // folder that is gone ends the clip.
    void WriteSample(const Command& command) {
        if (!file_) {
            return;
        }
        const bool mayStartClip = command.key || !clip_.codecKnown;
        if (mayStartClip && !firstSample_ && ClipFull()) {
            NextClip();
        }
        // The first sample of a clip of a codec whose frames cannot be told apart is marked
        // as key, so that players decode from the start.
        const bool key = command.key || (firstSample_ && !clip_.codecKnown);
        if (skippingToKey_ && !key) {
            ++skipped_;
            return;
        }
        if ((command.preview || (previewDue_ && key)) && !WritePreview(command.frame)) {
            return;
        }
        previewDue_ = previewDue_ && !key;
        const std::optional<Block> turned = BottomUpRows(command.frame);
        const auto image = turned ? std::span<const std::uint8_t>(*turned) : command.frame.image();
        if (file_->WriteSample(image, key, ClipTimeOf(command.frame))) {
            firstSample_ = false;
            clipBytes_ += image.size() + kChunkHeaderBytes;
            ++clipSamples_;
            ++shared_->samplesWritten;
            if (skippingToKey_) {
                skippingToKey_ = false;
                qCInfo(lcMedia) << "writing" << clip_.aviFileName << "again after" << skipped_
                                << "frames could not be written";
                skipped_ = 0;
            }
            TellWriting();
            return;
        }
        if (FileGone()) {
            EndAfterFailure(QLatin1String(kRemovedText));
            return;
        }
        ++skipped_;
        skippingToKey_ = true;
        TellFailing(file_->errorText());
    }

    // When the frame arrived, as the clip tells it: the first frame's wall-clock time plus the
    // steady clock's time since it, so a clock set back or forward during the clip cannot
    // reorder its frames. The clip's times are shown at the local offset of its start.
    std::int64_t ClipTimeOf(const LiveFrame& frame) {
        if (firstSample_ || !clockBase_) {
            clockBase_ = std::pair(frame.arrivalUtcMicros, frame.arrivalSteadyMicros);
            file_->SetUtcOffsetSeconds(
                QDateTime::fromMSecsSinceEpoch(frame.arrivalUtcMicros / 1000).offsetFromUtc());
            lastClipTime_ = frame.arrivalUtcMicros;
        }
        const std::int64_t time =
            clockBase_->first + (frame.arrivalSteadyMicros - clockBase_->second);
        lastClipTime_ = std::max(lastClipTime_, time);
        return lastClipTime_;
    }

    // Removed, or out of reach where the folder was: nothing written gets to the operator,
    // and the recording must go on elsewhere.
    bool FileGone() const { return file_->FileRemoved() || file_->FileUnreachable(); }

    bool ClipFull() const {
        return clipBytes_ >= clip_.limits.bytes || clipClock_.elapsed() >= clip_.limits.ms;
    }

    // The recording goes on in a new clip from the sample at hand. A clip that cannot be made
    // (the disk is full) leaves the recording in the one it has, which is tried again at the
    // next key frame, so no frame is lost for it.
    void NextClip() {
        QString aviName;
        QString imageName;
        QString reason;
        auto file = CreateClipFile(clip_, now_, aviName, imageName, reason);
        if (!file) {
            if (!nextClipFailed_) {
                nextClipFailed_ = true;
                qCWarning(lcMedia) << "cannot begin the clip after" << clip_.aviFileName << ":"
                                   << reason << "- the recording goes on in it for now";
            }
            return;
        }
        nextClipFailed_ = false;
        if (!file_->Close()) {
            qCWarning(lcMedia) << "closing" << clip_.aviFileName << "failed:" << file_->errorText();
        }
        WriteEntry();  // the clip ends where the next begins
        qCInfo(lcMedia) << "the recording goes on from" << clip_.aviFileName << "in" << aviName;
        file_ = std::move(file);
        clip_.aviFileName = aviName;
        clip_.imageFileName = imageName;
        clip_.start = now_;
        clipClock_.start();
        clipBytes_ = 0;
        clipSamples_ = 0;
        firstSample_ = true;
        previewDue_ = true;
        WriteEntry();  // listed from the start, so a clip cut off by a crash is still found
        Notice notice;
        notice.kind = Notice::Kind::NextClip;
        notice.entry.fileName = aviName;
        notice.entry.imageName = imageName;
        notice.entry.path = clip_.folder;
        Tell(std::move(notice));
    }

    // Told once for each time writing stops working; the clip goes on.
    void TellFailing(const QString& message) {
        if (failing_) {
            return;
        }
        failing_ = true;
        Notice notice;
        notice.kind = Notice::Kind::Failing;
        notice.text = FailureText(message);
        qCWarning(lcMedia) << notice.text << "- the recording goes on once there is room";
        Tell(std::move(notice));
    }

    // Told once when writing works again after it was told failing.
    void TellWriting() {
        if (!failing_ || skippingToKey_) {
            return;
        }
        failing_ = false;
        Notice notice;
        notice.kind = Notice::Kind::Writing;
        Tell(std::move(notice));
    }

    QString FailureText(const QString& message) const {
        return QStringLiteral("Recording cannot write to\n%1\n\n%2")
            .arg(QDir::toNativeSeparators(clip_.folder + clip_.aviFileName), message);
    }

    // false when the clip ended on it
    bool WritePreview(const LiveFrame& frame) {
        const std::size_t length = frame.imageOffset + frame.imageLength;
        QFile preview(clip_.folder + clip_.imageFileName);
        if (preview.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            preview.write(reinterpret_cast<const char*>(frame.bytes().data()),
                          static_cast<qint64>(length)) == static_cast<qint64>(length)) {
            return true;
        }
        // A folder gone from under the clip shows here first; no need to wait for a commit.
        if (FileGone()) {
            EndAfterFailure(QLatin1String(kRemovedText));
            return false;
        }
        // The clip goes on without its preview; the index still names it.
        qCWarning(lcMedia) << "cannot write the preview" << preview.fileName()
                           << preview.errorString();
        preview.close();
        preview.remove();
        return true;
    }

    void Commit() {
        if (!file_) {
            return;
        }
        if (FileGone()) {
            EndAfterFailure(QLatin1String(kRemovedText));
            return;
        }
        if (!file_->Commit()) {
            // Room may come back: the next commit writes what this one could not.
            TellFailing(file_->errorText());
            return;
        }
        TellWriting();
        // The entry's end follows the clip minute by minute, so a clip cut off by a crash is
        // listed with about its real length.
        if (MinuteOf(now_) != indexedMinute_) {
            WriteEntry();
        }
    }

    void End() {
        if (!file_) {
            if (removed_) {
                qCWarning(lcMedia)
                    << "the clip" << clip_.aviFileName << "was removed while recording";
            }
            return;
        }
        const bool removed = file_->FileRemoved();
        if (!file_->Close()) {
            qCWarning(lcMedia) << "closing" << clip_.aviFileName << "failed:" << file_->errorText();
        }
        file_.reset();
        if (removed) {
            // Nothing is left to list: the entry written at the start goes too.
            qCWarning(lcMedia) << "the clip" << clip_.aviFileName << "was removed while recording";
            ForgetRemovedClip();
        } else {
            WriteEntry();
        }
    }

    // Ends the clip at a write failure and tells the owner once it is closed and its entry is
    // right.
    void EndAfterFailure(const QString& message) {
        const QString text = FailureText(message);
        qCWarning(lcMedia) << text;
        removed_ = file_->FileRemoved();
        // The final index goes in where there is still room; the operator is told, and
        // whatever of it is missing, the samples up to the last commit stay reachable.
        if (!file_->Close()) {
            qCInfo(lcMedia) << "closing" << clip_.aviFileName
                            << "after the failure:" << file_->errorText();
        }
        file_.reset();
        // A crash before the clip is stopped must not leave an entry that claims more than
        // the disk holds.
        if (removed_) {
            ForgetRemovedClip();
        } else {
            WriteEntry();
        }
        Notice notice;
        notice.kind = Notice::Kind::Failure;
        notice.text = text;
        notice.removed = removed_;
        Tell(std::move(notice));
    }

    void WriteEntry() {
        indexedMinute_ = MinuteOf(now_);
        ClipRecord record;
        record.fileName = clip_.aviFileName;
        record.open = 0;
        record.channel = clip_.channel;
        record.location = location_;
        record.startDate = DateText(clip_.start);
        record.startTime = TimeText(clip_.start);
        record.endDate = DateText(now_);
        record.endTime = TimeText(now_);
        record.imageName = clip_.imageFileName;
        record.path = clip_.folder;
        record.site = clip_.site;
        if (!store_) {
            Notice notice;
            notice.kind = Notice::Kind::WriteEntry;
            notice.entry = std::move(record);
            Tell(std::move(notice));
            return;
        }
        ClipIndex index(*store_, [this](std::int32_t) { return location_; });
        if (!index.UpdateClipRecord(record)) {
            qCWarning(lcMedia) << "cannot write the clip index entry for" << clip_.aviFileName;
        }
    }

    // A clip whose file is gone holds no frame: its samples are not counted as written, and
    // neither its entry nor its preview is left to point at it.
    void ForgetRemovedClip() {
        shared_->samplesWritten -= clipSamples_;
        clipSamples_ = 0;
        QFile::remove(clip_.folder + clip_.imageFileName);
        DeleteEntry();
    }

    void DeleteEntry() {
        if (!store_) {
            Notice notice;
            notice.kind = Notice::Kind::DeleteEntry;
            notice.entry.fileName = clip_.aviFileName;
            Tell(std::move(notice));
            return;
        }
        ClipIndex(*store_, {}).DeleteClipRecord(clip_.aviFileName);
    }

    void Tell(Notice notice) {
        const std::lock_guard lock(shared_->mutex);
        shared_->notices.push_back(std::move(notice));
        if (shared_->notices.size() == 1 && shared_->wake) {
            shared_->wake();
        }
    }

    std::unique_ptr<AviWriter> file_;  // null once the clip is closed
    Clip clip_;
    KeyStore::WorkerShare share_;
    std::optional<KeyStore> store_;
    Shared* shared_ = nullptr;
    QDateTime now_ = clip_.start;
    QString location_;
    int indexedMinute_ = -1;      // the end minute the entry holds
    bool removed_ = false;        // a failure found the file gone
    bool skippingToKey_ = false;  // a sample could not be written: wait for a key frame
    bool failing_ = false;        // told that writing does not work, not yet that it does
    std::uint64_t skipped_ = 0;
    QElapsedTimer clipClock_;  // since the clip began
    std::uint64_t clipBytes_ = 0;
    std::uint64_t clipSamples_ = 0;  // written into this clip
    bool firstSample_ = true;        // of the clip
    // The wall-clock and steady times of the clip's first frame, and the latest frame's time.
    std::optional<std::pair<std::int64_t, std::int64_t>> clockBase_;
    std::int64_t lastClipTime_ = 0;
    bool previewDue_ = false;  // a clip after the first writes its first key frame as its preview
    bool nextClipFailed_ = false;  // told that the next clip cannot be made, not yet that it was
};

ClipWriter::ClipWriter() : shared_(std::make_shared<Shared>()) {}

bool ClipWriter::StartThread(std::function<void()> body, std::thread& thread) {
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error& error) {
        qCWarning(lcMedia) << "cannot start a recording thread:" << error.what();
        return false;
    }
}

std::unique_ptr<ClipWriter> ClipWriter::Start(std::unique_ptr<AviWriter> file, Clip clip,
                                              KeyStore::WorkerShare store, Wake wake,
                                              const ThreadStarter& startThread, QString& error) {
    std::unique_ptr<ClipWriter> writer(new ClipWriter());
    writer->shared_->wake = std::move(wake);
    auto work = std::make_shared<Work>(std::move(file), std::move(clip), std::move(store));
    // The thread keeps what it shares with the owner: a writer finished in the background
    // outlives this object.
    const auto starter = startThread ? startThread : ThreadStarter(&ClipWriter::StartThread);
    if (!starter([shared = writer->shared_, work] { work->Run(*shared); }, writer->thread_)) {
        work->Abandon();
        error = QStringLiteral("The system cannot start another recording now.");
        return nullptr;
    }
    return writer;
}

std::unique_ptr<AviWriter> ClipWriter::CreateClipFile(const Clip& clip, const QDateTime& start,
                                                      QString& aviName, QString& imageName,
                                                      QString& error) {
    const QString base = ClipBaseName(start, clip.channel);
    // Two clips of one channel started in the same second keep the stem and get a suffix, so
    // neither overwrites the other.
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const QString stem = attempt == 0 ? base : base + QStringLiteral("-%1").arg(attempt);
        aviName = stem + QStringLiteral(".avi");
        imageName = stem + QStringLiteral(".img");
        if (QFile::exists(clip.folder + imageName)) {
            continue;
        }
        std::unique_ptr<AviWriter> file;
        auto opened = clip.openFile ? clip.openFile(clip.folder + aviName, error)
                                    : OpenMediaFile(clip.folder + aviName, true, error);
        if (opened) {
            file = AviWriter::Create(std::move(opened), clip.stream, error);
        }
        if (file || !QFile::exists(clip.folder + aviName)) {
            return file;  // made, or not a name clash: the folder cannot take the file
        }
    }
    error = QStringLiteral("No free file name");
    return nullptr;
}

ClipWriter::~ClipWriter() {
    if (thread_.joinable()) {
        Finish(QDateTime(), QString());
    }
}

void ClipWriter::Hand(Command command) {
    bool wake = false;
    {
        const std::lock_guard lock(shared_->mutex);
        const bool sample = command.kind == Command::Kind::Sample;
        shared_->commands.push_back(std::move(command));
        if (!shared_->wakeDue && (!sample || shared_->queuedBytes.load() >= kWakeBytes)) {
            shared_->wakeDue = true;
            wake = true;
        }
    }
    if (wake) {
        shared_->commandsWaiting.notify_one();
    }
}

void ClipWriter::WriteEntry(const QDateTime& now, const QString& location) {
    Command command;
    command.kind = Command::Kind::Entry;
    command.now = now;
    command.location = location;
    Hand(std::move(command));
}

void ClipWriter::RewriteFormat(Block format) {
    Command command;
    command.kind = Command::Kind::Format;
    command.format = std::move(format);
    Hand(std::move(command));
}

void ClipWriter::WriteSample(const LiveFrame& frame, bool key, bool preview, const QDateTime& now) {
    shared_->queuedBytes += frame.packed->size();
    Command command;
    command.kind = Command::Kind::Sample;
    command.frame = frame;
    command.key = key;
    command.preview = preview;
    command.now = now;
    Hand(std::move(command));
}

void ClipWriter::Commit(const QDateTime& now, const QString& location) {
    Command command;
    command.kind = Command::Kind::Commit;
    command.now = now;
    command.location = location;
    Hand(std::move(command));
}

namespace {

// When a finish last gave up on the disk. Clips ended together (Exit, a link closing its
// windows) against one disk that stopped answering wait for it once between them, not once
// each: the program would freeze for seconds per clip.
std::atomic<std::int64_t> lastGaveUpMs{-1};

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool ClipWriter::Finish(const QDateTime& end, const QString& location) {
    if (!thread_.joinable()) {
        return true;  // finished before
    }
    Command command;
    command.kind = Command::Kind::End;
    command.now = end;
    command.location = location;
    Hand(std::move(command));
    const std::int64_t gaveUp = lastGaveUpMs.load();
    const bool diskStalled = gaveUp >= 0 && SteadyMs() - gaveUp < 2 * kFinishWaitMs;
    const int waitMs = diskStalled ? kFinishWaitAfterStallMs : kFinishWaitMs;
    std::unique_lock lock(shared_->mutex);
    if (!shared_->finishedChanged.wait_for(lock, std::chrono::milliseconds(waitMs),
                                           [&] { return shared_->finished; })) {
        lastGaveUpMs.store(SteadyMs());
        shared_->wake = nullptr;
        lock.unlock();
        thread_.detach();
        return false;
    }
    lock.unlock();
    thread_.join();
    return true;
}

std::size_t ClipWriter::queuedBytes() const {
    return shared_->queuedBytes.load();
}

std::uint64_t ClipWriter::samplesWritten() const {
    return shared_->samplesWritten.load();
}

QString ClipBaseName(const QDateTime& moment, std::int32_t channelId) {
    return moment.toString(QStringLiteral("yyyyMMddHHmmss")) + QString::asprintf("%04d", channelId);
}

std::vector<ClipWriter::Notice> ClipWriter::TakeNotices() {
    const std::lock_guard lock(shared_->mutex);
    return std::exchange(shared_->notices, {});
}

}  // namespace orvane
