#include "store/clip_index.h"

#include "common/fixed_text.h"
#include "common/log.h"
#include "store/registry_layout.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace orvane {
namespace {

namespace clipvalue {
constexpr const char* kFileName = "FileName";
constexpr const char* kChannel = "Channel";
constexpr const char* kLocation = "Location";
constexpr const char* kOpen = "Open";
constexpr const char* kStartDate = "SDate";
constexpr const char* kStartTime = "STime";
constexpr const char* kEndDate = "EDate";
constexpr const char* kEndTime = "ETime";
constexpr const char* kImageName = "ImageName";
constexpr const char* kPath = "Path";
constexpr const char* kKeep = "Keep";
constexpr const char* kSite = "Site";
}  // namespace clipvalue

// Text values are read into a 260-byte buffer with room for the terminator.
constexpr std::size_t kTextValueMaxBytes = ClipIndex::kMaxTextBytes;

QByteArray Quoted(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ClipKeyPath(const std::string& fileName) {
    return std::string(kClipIndexKeyPath) + "\\" + fileName;
}

// An empty name would address the index key itself, and a separator would nest keys that
// enumerating the index never finds.
bool UsableClipName(const QString& fileName) {
    return !fileName.isEmpty() && !fileName.contains(QLatin1Char('\\'));
}

// The index key and its number of entries; nullopt when there is no index (or it cannot be
// read, which is logged).
struct OpenedIndex {
    RegKey key;
    int entries = 0;
};

std::optional<OpenedIndex> OpenIndex(const KeyStore& store) {
    const auto index = store.OpenKey(KeyStore::kRoot, kClipIndexKeyPath);
    if (!index.ok()) {
        if (index.status != StoreStatus::NotFound) {
            qCWarning(lcStore) << "cannot open the clip index";
        }
        return std::nullopt;
    }
    const auto count = store.SubkeyCount(index.value);
    if (!count.ok()) {
        qCWarning(lcStore) << "cannot count the clip index entries";
        return std::nullopt;
    }
    return OpenedIndex{index.value, count.value};
}

// Value names compare as the store compares them: ASCII letters without case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// The last text read for one field. Entries repeat their neighbours' folder, location and
// dates; handing out the same QString lets them share one copy.
struct TextCache {
    std::string bytes;
    QString text;
};

QString ReadText(const SubkeyValueView& value, TextCache& cache) {
    if (value.type != static_cast<std::uint32_t>(ValueType::String)) {
        return {};
    }
    const std::string_view bytes = TextBeforeNul(value.data);
    if (bytes != cache.bytes || cache.text.isNull()) {
        const std::string text = CutToBytes(bytes, kTextValueMaxBytes);
        cache.bytes.assign(bytes);
        cache.text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    return cache.text;
}

struct TextCaches {
    TextCache fileName, location, startDate, startTime, endDate, endTime, imageName, path, site;
};

// Puts one stored value into its field of the record; values of other names are ignored.
void ReadInto(ClipRecord& record, const SubkeyValueView& value, TextCaches& caches) {
    const std::string_view name = value.name;
    if (EqualsIgnoringAsciiCase(name, clipvalue::kFileName)) {
        record.fileName = ReadText(value, caches.fileName);
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kChannel)) {
        record.channel = static_cast<std::int32_t>(ReadDword(value));
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kLocation)) {
        record.location = ReadText(value, caches.location);
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kOpen)) {
        record.open = ReadDword(value) != 0 ? 1 : 0;
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kStartDate)) {
        record.startDate = ReadText(value, caches.startDate);
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kStartTime)) {
        record.startTime = ReadText(value, caches.startTime);
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kEndDate)) {
        record.endDate = ReadText(value, caches.endDate);
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kEndTime)) {
        record.endTime = ReadText(value, caches.endTime);
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kImageName)) {
        record.imageName = ReadText(value, caches.imageName);
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kPath)) {
        record.path = ReadText(value, caches.path);
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kKeep)) {
        record.keep = ReadDword(value) != 0 ? 1 : 0;
    } else if (EqualsIgnoringAsciiCase(name, clipvalue::kSite)) {
        record.site = ReadText(value, caches.site);
    }
}

}  // namespace

namespace {

// The name without its extension and same-second suffix, and the suffix as a number.
std::pair<QStringView, long long> ClipOrder(const QString& name) {
    QStringView stem(name);
    if (const auto dot = stem.lastIndexOf(QLatin1Char('.')); dot >= 0) {
        stem = stem.left(dot);
    }
    const auto dash = stem.lastIndexOf(QLatin1Char('-'));
    bool numeric = false;
    const long long suffix = dash >= 0 ? stem.mid(dash + 1).toLongLong(&numeric) : 0;
    return numeric ? std::pair{stem.left(dash), suffix} : std::pair{stem, 0LL};
}

}  // namespace

bool IsPlainFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(0));
}

QString ImageNameOf(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.left(dot) + QStringLiteral(".img");
}

bool NewerClip(const QString& a, const QString& b) {
    const auto [stemA, suffixA] = ClipOrder(a);
    const auto [stemB, suffixB] = ClipOrder(b);
    const int byStart = stemA.compare(stemB);
    return byStart != 0 ? byStart > 0 : suffixA > suffixB;
}

ClipIndex::ClipIndex(KeyStore& store, ChannelNameLookup channelName)
    : store_(store), channelName_(std::move(channelName)) {}

bool ClipIndex::AddClipRecord(ClipRecord record) {
    if (!UsableClipName(record.fileName)) {
        qCWarning(lcStore) << "clip name not usable as an index key:" << record.fileName;
        return false;
    }
    return store_.WriteTogether([&] { return WriteEntry(record, false); }) == StoreStatus::Ok;
}

bool ClipIndex::UpdateClipRecord(ClipRecord record) {
    if (!UsableClipName(record.fileName)) {
        qCWarning(lcStore) << "clip name not usable as an index key:" << record.fileName;
        return false;
    }
    // The Open mark is read inside the same transaction that rewrites it: a mark another
    // connection puts in meanwhile either is read here or lands after the rewrite.
    return store_.WriteTogether([&] { return WriteEntry(record, true); }) == StoreStatus::Ok;
}

bool ClipIndex::WriteEntry(ClipRecord& record, bool keepOpenMark) {
    record.location = channelName_ ? channelName_(record.channel) : QString();
    const std::string fileName = record.fileName.toStdString();
    if (keepOpenMark) {
        const auto existing = store_.OpenKey(KeyStore::kRoot, ClipKeyPath(fileName));
        const auto open = existing.ok() ? store_.QueryValue(existing.value, clipvalue::kOpen)
                                        : StoreResult<StoredValue>{};
        if (open.ok()) {
            record.open = std::any_of(open.value.data.begin(), open.value.data.end(),
                                      [](char byte) { return byte != 0; })
                              ? 1
                              : 0;
        }
    }
    const auto key = store_.CreateKey(KeyStore::kRoot, ClipKeyPath(fileName));
    if (!key.ok()) {
        qCWarning(lcStore) << "cannot create the index entry" << Quoted(fileName);
        return false;
    }
    bool written = true;
    const auto check = [&](StoreStatus status, const char* name) {
        if (status != StoreStatus::Ok) {
            qCWarning(lcStore) << "cannot write" << name << "of the index entry"
                               << Quoted(fileName);
            written = false;
        }
    };
    const auto writeText = [&](const char* name, const QString& text) {
        check(store_.SetString(key.value, name, text.toStdString()), name);
    };
    const auto writeDword = [&](const char* name, std::uint32_t value) {
        check(store_.SetDword(key.value, name, value), name);
    };
    // Readers of other tools may depend on this order; keep it.
    writeText(clipvalue::kFileName, record.fileName);
    writeDword(clipvalue::kChannel, static_cast<std::uint32_t>(record.channel));
    writeText(clipvalue::kLocation, record.location);
    writeDword(clipvalue::kOpen, record.open);
    writeText(clipvalue::kStartDate, record.startDate);
    writeText(clipvalue::kStartTime, record.startTime);
    writeText(clipvalue::kEndDate, record.endDate);
    writeText(clipvalue::kEndTime, record.endTime);
    writeText(clipvalue::kImageName, record.imageName);
    writeText(clipvalue::kPath, record.path);
    // After the values of old: entries written before it read as from an unknown site.
    writeText(clipvalue::kSite, record.site);
    return written;
}

bool ClipIndex::DeleteClipRecord(const QString& fileName) {
    if (!UsableClipName(fileName)) {
        qCWarning(lcStore) << "clip name not usable as an index key:" << fileName;
        return false;
    }
    const std::string name = fileName.toStdString();
    if (store_.DeleteKey(KeyStore::kRoot, ClipKeyPath(name)) != StoreStatus::Ok) {
        qCWarning(lcStore) << "cannot delete the index entry" << Quoted(name);
        return false;
    }
    return true;
}

bool ClipIndex::DeleteClipRecords(const std::vector<QString>& fileNames) {
    const StoreStatus status = store_.WriteTogether([&] {
        for (const QString& fileName : fileNames) {
            if (!UsableClipName(fileName)) {
                qCWarning(lcStore) << "clip name not usable as an index key:" << fileName;
                continue;
            }
            const std::string name = fileName.toStdString();
            const StoreStatus gone = store_.DeleteKey(KeyStore::kRoot, ClipKeyPath(name));
            if (gone != StoreStatus::Ok && gone != StoreStatus::NotFound) {
                qCWarning(lcStore) << "cannot delete the index entry" << Quoted(name);
                return false;
            }
        }
        return true;
    });
    return status == StoreStatus::Ok;
}

void ClipIndex::LoadClipRecords(std::vector<ClipRecord>& records) const {
    const auto index = OpenIndex(store_);
    if (!index) {
        return;
    }
    // The whole index in one read: entry by entry, a large index takes minutes.
    records.reserve(records.size() + static_cast<std::size_t>(index->entries));
    const std::size_t first = records.size();
    std::int64_t entry = -1;
    TextCaches caches;
    const StoreStatus status =
        store_.VisitSubkeyValues(index->key, [&](const SubkeyValueView& value) {
            if (value.subkeyId != entry) {
                entry = value.subkeyId;
                records.emplace_back();
                records.back().entryKey = QString::fromUtf8(
                    value.subkey.data(), static_cast<qsizetype>(value.subkey.size()));
            }
            if (value.hasValue) {
                ReadInto(records.back(), value, caches);
            }
        });
    if (status != StoreStatus::Ok) {
        qCWarning(lcStore) << "cannot read the clip index entries";
        records.resize(first);
    }
}

void ClipIndex::SetClipOpened(const QString& fileName, bool opened) {
    const auto index = OpenIndex(store_);
    if (!index) {
        return;
    }
    // Key lookup ignores case, but an entry is marked only under its exact name.
    const std::string wanted = fileName.toStdString();
    const auto names = store_.SubkeyNames(index->key);
    if (!names.ok()) {
        qCWarning(lcStore) << "cannot name the clip index entries";
        return;
    }
    for (const std::string& name : names.value) {
        if (name != wanted) {
            continue;
        }
        const auto key = store_.OpenKey(index->key, name);
        if (!key.ok()) {
            qCWarning(lcStore) << "cannot open the index entry" << Quoted(name);
            continue;
        }
        if (store_.SetDword(key.value, clipvalue::kOpen, opened ? 1 : 0) != StoreStatus::Ok) {
            qCWarning(lcStore) << "cannot mark the index entry" << Quoted(name);
        }
        return;
    }
}

bool ClipIndex::SetClipKept(const QString& fileName, bool kept) {
    if (!UsableClipName(fileName)) {
        return false;
    }
    const auto key = store_.OpenKey(KeyStore::kRoot, ClipKeyPath(fileName.toStdString()));
    if (!key.ok() ||
        store_.SetDword(key.value, clipvalue::kKeep, kept ? 1 : 0) != StoreStatus::Ok) {
        qCWarning(lcStore) << "cannot mark the index entry to be kept:" << fileName;
        return false;
    }
    return true;
}

}  // namespace orvane
