#pragma once

#include "common/disk_space.h"
#include "store/clip_index.h"
#include "store/clip_retention.h"
#include "store/key_store.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace orvane {

// What removing one clip came to.
struct ClipRemoval {
    ClipRecord clip;
    QString failedFile;  // a file of the clip that is still there; empty when all went
    QString reason;      // why it could not be removed, in the system's words

    bool removed() const { return failedFile.isEmpty(); }
};

// Removes a clip's file and its preview. Only plain names inside the entry's folder are ever
// touched: another tool's "../x" or an entry without a file name removes nothing, and counts
// as removed so that its entry can go. A file already gone counts as removed; a directory of
// the name is never removed and never stops the entry from going.
ClipRemoval RemoveClipFiles(const ClipRecord& clip);

// Called on the removing thread before every file a clip removal unlinks: tests check with it
// which threads touch the disk. Null switches it off.
using ClipUnlinkObserver = void (*)();
void SetClipUnlinkObserver(ClipUnlinkObserver observer);

// One disk check: the free space of the record folder's volume and, when the rules ask for
// it, the clips deleted to keep it.
struct DiskCheck {
    std::string folder;  // the record folder
    FreeSpaceSource freeSpace = QueryFreeSpace;
    RetentionRule rule;  // nothing is deleted when it asks for nothing
    // Clips (folder and file name) recorded, played, exported; those held (ClipUse) when the
    // check runs are added to them.
    std::set<QString> inUse;
    QDateTime now = QDateTime::currentDateTime();
    // The index as the owner read it; only for a store in memory, which the worker cannot
    // read (the housekeeper fills it).
    std::vector<ClipRecord> records;
};

struct DiskCheckOutcome {
    FreeSpace space;                    // after what was deleted
    std::vector<ClipRemoval> removals;  // every clip the rules chose, removed or not
    int removed() const;
};

// The disk work of the clip index, on a thread of its own so that the GUI thread never waits
// for a disk: removing clips (files first, then the entries of those whose files went, in one
// store transaction) and the disk check. Jobs run one after another in the order given;
// outcomes come back on the owner's thread, to a context that may have gone meanwhile. The
// entries are written through a connection of the worker's own; a store in memory, which no
// other connection reaches, is written by the owner when the outcome arrives.
class ClipHousekeeper {
  public:
    using Progress = std::function<void(std::size_t done, std::size_t total)>;

    // On the thread the store belongs to.
    explicit ClipHousekeeper(KeyStore& store);
    // Lets the job under way end (its outcome is dropped) and skips those still queued.
    ~ClipHousekeeper();
    ClipHousekeeper(const ClipHousekeeper&) = delete;
    ClipHousekeeper& operator=(const ClipHousekeeper&) = delete;

    void Remove(std::vector<ClipRecord> clips, QObject* context, Progress progress,
                std::function<void(std::vector<ClipRemoval>)> done);
    void Check(DiskCheck check, QObject* context, std::function<void(DiskCheckOutcome)> done);
    // Tells heard of the clips each disk check deleted, on the owner's thread, for as long as
    // context lives: a list that shows clips (the clip browser) must not go on offering them.
    void WatchDeletions(QObject* context,
                        std::function<void(const std::vector<ClipRemoval>&)> heard);
    // Jobs given and not yet answered.
    int pending() const { return pending_; }

  private:
    struct Shared;
    class Worker;

    void Post(std::function<void(Worker&)> job);

    void TellDeletions(const std::vector<ClipRemoval>& removals);

    KeyStore& store_;
    std::vector<std::pair<QPointer<QObject>, std::function<void(const std::vector<ClipRemoval>&)>>>
        deletionWatchers_;
    bool ownerWritesEntries_ = false;
    int pending_ = 0;
    std::unique_ptr<QObject> receiver_;  // outcomes arrive on the owner's thread through it
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace orvane
