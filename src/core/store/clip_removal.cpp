#include "store/clip_removal.h"

#include "common/log.h"
#include "store/clips_in_use.h"

#include <QFile>
#include <QMetaObject>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

namespace orvane {
namespace {

std::atomic<ClipUnlinkObserver> unlinkObserver{nullptr};

// Progress is told at most this often: a channel of thousands of clips goes in seconds.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// Removes one file of a clip; false with the reason when it is still there. Only ever a
// file: unlink refuses directories, and a directory of the name is not the clip's.
bool UnlinkClipFile(const QString& path, QString& reason) {
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty()) {
        return true;
    }
    if (const ClipUnlinkObserver observer = unlinkObserver.load()) {
        observer();
    }
    if (::unlink(native.constData()) == 0 || errno == EISDIR) {
        return true;
    }
    const int error = errno;
    if (error == ENOENT) {
        // Gone already, when its folder is there; a folder that is not (a volume not
        // mounted, a path cut short) may still hold it somewhere else.
        struct stat folder {};
        const QByteArray parent =
            QFile::encodeName(path.left(path.lastIndexOf(QLatin1Char('/')) + 1));
        if (::stat(parent.isEmpty() ? "." : parent.constData(), &folder) == 0 &&
            S_ISDIR(folder.st_mode)) {
            return true;
        }
        reason = QStringLiteral("its folder is not there");
        return false;
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return true;  // some systems answer EPERM for a directory
    }
    reason = QString::fromLocal8Bit(std::strerror(error));
    return false;
}

// The device of the folder; nullopt when it is not there.
std::optional<dev_t> DeviceOfFolder(const QString& folder) {
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    return info.st_dev;
}

// The device of the folder, or of its nearest existing parent.
std::optional<dev_t> DeviceOf(const QString& folder) {
    std::filesystem::path path(QFile::encodeName(folder).toStdString());
    while (!path.empty()) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) {
            return info.st_dev;
        }
        const auto parent = path.parent_path();
        if (parent == path) {
            break;
        }
        path = parent;
    }
    return std::nullopt;
}

// Space a file takes on its volume; 0 when it is not there.
std::uint64_t AllocatedBytes(const QString& path) {
    struct stat info {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_blocks) * 512u;
}

// When a clip began: its entry says it to the minute, its name (as the recorder makes it) to
// the second; the name is taken when the two agree. Now when neither can be read, so that a
// clip of unknown age is the last to go.
std::int64_t StartOf(const ClipRecord& clip, const QDateTime& now) {
    const QDateTime entry = QDateTime::fromString(
        clip.startDate + QLatin1Char(' ') + clip.startTime, QStringLiteral("yyyy/MM/dd hh:mm"));
    const QDateTime named =
        QDateTime::fromString(clip.fileName.left(14), QStringLiteral("yyyyMMddhhmmss"));
    if (entry.isValid() && named.isValid() && std::abs(entry.secsTo(named)) < 60) {
        return named.toSecsSinceEpoch();
    }
    return (entry.isValid() ? entry : named.isValid() ? named : now).toSecsSinceEpoch();
}

std::vector<QString> KeysOfRemoved(const std::vector<ClipRemoval>& removals) {
    std::vector<QString> keys;
    for (const ClipRemoval& removal : removals) {
        if (removal.removed()) {
            keys.push_back(removal.clip.key());
        }
    }
    return keys;
}

}  // namespace

void SetClipUnlinkObserver(ClipUnlinkObserver observer) {
    unlinkObserver.store(observer);
}

ClipRemoval RemoveClipFiles(const ClipRecord& clip) {
    ClipRemoval removal;
    removal.clip = clip;
    if (clip.fileName.isEmpty()) {
        return removal;  // an entry without a file: only the entry goes
    }
    if (!IsPlainFileName(clip.fileName)) {
        qCWarning(lcStore) << "the index names a clip outside its folder; no file removed:"
                           << clip.fileName;
        return removal;
    }
    for (const QString& name : {clip.fileName, ImageNameOf(clip.fileName)}) {
        if (name.isEmpty()) {
            continue;
        }
        const QString path = clip.path + name;
        QString reason;
        if (!UnlinkClipFile(path, reason)) {
            qCWarning(lcStore) << "cannot remove" << path << ":" << reason;
            removal.failedFile = path;
            removal.reason = reason;
            return removal;
        }
    }
    return removal;
}

int DiskCheckOutcome::removed() const {
    return static_cast<int>(std::count_if(removals.begin(), removals.end(),
                                          [](const ClipRemoval& r) { return r.removed(); }));
}

struct ClipHousekeeper::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void(Worker&)>> jobs;
    bool stopping = false;
};

class ClipHousekeeper::Worker {
  public:
    Worker(std::shared_ptr<Shared> shared, QObject* receiver)
        : shared_(std::move(shared)), receiver_(receiver) {}

    void Run(const KeyStore::WorkerShare& share) {
        if (!share.path.empty()) {
            std::string detail;
            store_ = KeyStore::OpenForWorker(share, detail);
            if (!store_) {
                qCWarning(lcStore)
                    << "clip removal cannot open the store on its own:" << detail.c_str();
            }
        }
        while (true) {
            std::function<void(Worker&)> job;
            {
                std::unique_lock lock(shared_->mutex);
                shared_->wake.wait(lock,
                                   [&] { return shared_->stopping || !shared_->jobs.empty(); });
                if (shared_->stopping) {
                    return;
                }
                job = std::move(shared_->jobs.front());
                shared_->jobs.pop_front();
            }
            job(*this);
        }
    }

    bool stopping() {
        const std::lock_guard lock(shared_->mutex);
        return shared_->stopping;
    }

    // Runs call on the owner's thread.
    void Tell(std::function<void()> call) {
        QMetaObject::invokeMethod(receiver_, std::move(call), Qt::QueuedConnection);
    }

    std::vector<ClipRemoval> Remove(const std::vector<ClipRecord>& clips,
                                    const std::function<void(std::size_t)>& progress) {
        std::vector<ClipRemoval> removals;
        removals.reserve(clips.size());
        auto told = std::chrono::steady_clock::now();
        for (const ClipRecord& clip : clips) {
            if (stopping()) {
                break;  // what was removed still loses its entry below
            }
            removals.push_back(RemoveClipFiles(clip));
            if (progress && std::chrono::steady_clock::now() - told >= kProgressInterval) {
                told = std::chrono::steady_clock::now();
                progress(removals.size());
            }
        }
        if (store_ && !ClipIndex(*store_, {}).DeleteClipRecords(KeysOfRemoved(removals))) {
            qCWarning(lcStore) << "the entries of removed clips could not be deleted";
        }
        return removals;
    }

    DiskCheckOutcome Check(DiskCheck& check) {
        DiskCheckOutcome outcome;
        outcome.space = check.freeSpace(check.folder);
        const std::uint64_t freeBytes = std::uint64_t{outcome.space.freeMB} << 20;
        check.rule.periodFallBytes = lastFree_ > freeBytes ? lastFree_ - freeBytes : 0;
        if (check.rule.deleteOldest || check.rule.keepDays > 0) {
            std::vector<ClipRecord> records = std::move(check.records);
            if (store_) {
                ClipIndex(*store_, {}).LoadClipRecords(records);
            }
            const auto volume = DeviceOf(QString::fromStdString(check.folder));
            // The owner's list is as old as the queue ahead of this check (a long deletion):
            // a clip a player opened since then is just as much in use.
            check.inUse.merge(ClipUse::Held());
            std::vector<RetentionClip> clips;
            clips.reserve(records.size());
            for (const ClipRecord& record : records) {
                RetentionClip clip;
                clip.start = StartOf(record, check.now);
                clip.kept = record.keep != 0;
                clip.inUse = check.inUse.count(record.path + record.fileName) > 0;
                clip.onVolume = volume && DeviceOfFolder(record.path) == volume;
                if (IsPlainFileName(record.fileName)) {
                    clip.bytes = AllocatedBytes(record.path + record.fileName) +
                                 AllocatedBytes(record.path + ImageNameOf(record.fileName));
                }
                clips.push_back(clip);
            }
            const auto chosen =
                ChooseClipsToDelete(clips, check.rule, freeBytes, check.now.toSecsSinceEpoch());
            std::vector<ClipRecord> going;
            going.reserve(chosen.size());
            for (const std::size_t i : chosen) {
                going.push_back(std::move(records[i]));
            }
            outcome.removals = Remove(going, {});
            for (const ClipRemoval& removal : outcome.removals) {
                if (removal.removed()) {
                    qCInfo(lcStore)
                        << "deleted the old clip" << removal.clip.path + removal.clip.fileName
                        << "begun" << removal.clip.startDate << removal.clip.startTime;
                }
            }
            if (!outcome.removals.empty()) {
                outcome.space = check.freeSpace(check.folder);
            }
        }
        lastFree_ = std::uint64_t{outcome.space.freeMB} << 20;
        return outcome;
    }

  private:
    std::shared_ptr<Shared> shared_;
    QObject* receiver_;
    std::optional<KeyStore> store_;
    std::uint64_t lastFree_ = 0;
};

ClipHousekeeper::ClipHousekeeper(KeyStore& store)
    : store_(store), receiver_(std::make_unique<QObject>()), shared_(std::make_shared<Shared>()) {
    KeyStore::WorkerShare share = store.ShareWithWorker();
    ownerWritesEntries_ = share.path.empty();
    thread_ = std::thread([shared = shared_, receiver = receiver_.get(), share = std::move(share)] {
        Worker(shared, receiver).Run(share);
    });
}

ClipHousekeeper::~ClipHousekeeper() {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wake.notify_all();
    thread_.join();
}

void ClipHousekeeper::Post(std::function<void(Worker&)> job) {
    ++pending_;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back(std::move(job));
    }
    shared_->wake.notify_one();
}

void ClipHousekeeper::Remove(std::vector<ClipRecord> clips, QObject* context, Progress progress,
                             std::function<void(std::vector<ClipRemoval>)> done) {
    const std::size_t total = clips.size();
    QPointer<QObject> target(context);
    Post([this, target, total, clips = std::move(clips), progress = std::move(progress),
          done = std::move(done)](Worker& worker) mutable {
        const auto step = [&](std::size_t count) {
            if (progress) {
                worker.Tell([target, progress, count, total] {
                    if (target) {
                        progress(count, total);
                    }
                });
            }
        };
        auto removals = worker.Remove(clips, step);
        worker.Tell([this, target, done = std::move(done), removals = std::move(removals)] {
            --pending_;
            if (ownerWritesEntries_) {
                ClipIndex(store_, {}).DeleteClipRecords(KeysOfRemoved(removals));
            }
            if (target && done) {
                done(removals);
            }
        });
    });
}

void ClipHousekeeper::Check(DiskCheck check, QObject* context,
                            std::function<void(DiskCheckOutcome)> done) {
    if (ownerWritesEntries_ && (check.rule.deleteOldest || check.rule.keepDays > 0)) {
        ClipIndex(store_, {}).LoadClipRecords(check.records);
    }
    QPointer<QObject> target(context);
    Post([this, target, check = std::move(check), done = std::move(done)](Worker& worker) mutable {
        auto outcome = worker.Check(check);
        worker.Tell([this, target, done = std::move(done), outcome = std::move(outcome)] {
            --pending_;
            if (ownerWritesEntries_) {
                ClipIndex(store_, {}).DeleteClipRecords(KeysOfRemoved(outcome.removals));
            }
            TellDeletions(outcome.removals);
            if (target && done) {
                done(outcome);
            }
        });
    });
}

void ClipHousekeeper::WatchDeletions(QObject* context,
                                     std::function<void(const std::vector<ClipRemoval>&)> heard) {
    deletionWatchers_.emplace_back(context, std::move(heard));
}

void ClipHousekeeper::TellDeletions(const std::vector<ClipRemoval>& removals) {
    std::erase_if(deletionWatchers_, [](const auto& watcher) { return !watcher.first; });
    if (std::none_of(removals.begin(), removals.end(),
                     [](const ClipRemoval& removal) { return removal.removed(); })) {
        return;
    }
    // A copy: a watcher may add another while it is told.
    const auto watchers = deletionWatchers_;
    for (const auto& [context, heard] : watchers) {
        if (context) {
            heard(removals);
        }
    }
}

}  // namespace orvane
