#pragma once

#include "store/key_store.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace orvane {

// One recorded clip as the index keeps it. Dates are "yyyy/mm/dd" and times "hh:mm", both
// local time; Path ends in the platform's separator.
struct ClipRecord {
    QString fileName;        // the clip file without directory; also the name of its key
    std::uint32_t open = 0;  // 1 once the clip has been played
    std::int32_t channel = 0;
    QString location;  // the channel's name when the entry was written
    QString startDate;
    QString startTime;
    QString endDate;
    QString endTime;
    QString imageName;  // the preview file without directory
    QString path;
    std::uint32_t keep = 0;  // 1: the operator keeps it; old clips are never deleted for room
    // The site it was recorded from ("host:port", a calling site by its address); empty for
    // clips recorded before entries named it.
    QString site{};
    // The name of its key as read from the index: what deletes an entry another tool wrote
    // without a "FileName". Empty for an entry not read from the index; not compared.
    QString entryKey{};

    // The entry's key: its key name as read, else its file name.
    const QString& key() const { return entryKey.isEmpty() ? fileName : entryKey; }

    friend bool operator==(const ClipRecord& a, const ClipRecord& b) {
        return a.fileName == b.fileName && a.open == b.open && a.channel == b.channel &&
               a.location == b.location && a.startDate == b.startDate &&
               a.startTime == b.startTime && a.endDate == b.endDate && a.endTime == b.endTime &&
               a.imageName == b.imageName && a.path == b.path && a.keep == b.keep &&
               a.site == b.site;
    }
};

// A name as the recorder writes it: one plain file name inside the entry's folder. Names
// another tool wrote into the index ("../x", "a/b", "") are never opened or deleted.
bool IsPlainFileName(const QString& name);

// The preview file beside a clip: its name up to the last "." and ".img"; empty when the
// name has no ".".
QString ImageNameOf(const QString& fileName);

// Whether the clip named a began after the one named b. Names begin with the start of the
// recording; clips started in the same second carry a suffix "-1", "-2", ... "-10", which
// counts as a number.
bool NewerClip(const QString& a, const QString& b);

// The index of recorded clips: one key per clip below the index key, values written in a
// fixed order. Nothing here shows a message; failures come back as results.
class ClipIndex {
  public:
    // The longest text a value holds (its readers keep 260 bytes with the terminator): a
    // folder longer than this cannot be named by an entry.
    static constexpr std::size_t kMaxTextBytes = 259;
    using ChannelNameLookup = std::function<QString(std::int32_t channel)>;

    // channelName gives the connected site's name for a channel (empty when it has none).
    ClipIndex(KeyStore& store, ChannelNameLookup channelName);

    // Writes the entry in one store transaction, its Location taken from the channel's
    // current name; an entry of the same file name is replaced value by value (a "Keep" mark
    // stays).
    bool AddClipRecord(ClipRecord record);
    // The same, keeping the Open mark of an entry already there: a recording's entry is
    // rewritten as it grows, and a clip watched meanwhile stays marked as read.
    bool UpdateClipRecord(ClipRecord record);
    bool DeleteClipRecord(const QString& fileName);
    // Deletes the entries in one store transaction: a whole channel costs one durable commit,
    // not one per clip. Names that are not usable keys, or not there, are skipped.
    bool DeleteClipRecords(const std::vector<QString>& fileNames);
    // Appends every entry, in the store's enumeration order, all read at once; values that
    // cannot be read (another type, a wrong size) read as empty or 0. Nothing is appended
    // when the index cannot be read.
    void LoadClipRecords(std::vector<ClipRecord>& records) const;
    void SetClipOpened(const QString& fileName, bool opened);
    // Marks the entry to be kept ("Keep"=1), or takes the mark away.
    bool SetClipKept(const QString& fileName, bool kept);

  private:
    // The entry's values, inside the caller's transaction.
    bool WriteEntry(ClipRecord& record, bool keepOpenMark);

    KeyStore& store_;
    ChannelNameLookup channelName_;
};

}  // namespace orvane
