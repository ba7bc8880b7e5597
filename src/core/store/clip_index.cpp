#include "store/clip_index.h"

#include "common/fixed_text.h"
#include "common/log.h"
#include "store/registry_layout.h"

#include <optional>
#include <string>
#include <string_view>

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
}  // namespace clipvalue

// Text values are read into a 260-byte buffer with room for the terminator.
constexpr std::size_t kTextValueMaxBytes = 259;

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

QString ReadText(const KeyStore& store, RegKey key, const char* name) {
    const auto value = store.QueryValue(key, name);
    if (!value.ok() || value.value.type != static_cast<std::uint32_t>(ValueType::String)) {
        return {};
    }
    const std::string text = CutToBytes(TextBeforeNul(value.value.data), kTextValueMaxBytes);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::uint32_t ReadDword(const KeyStore& store, RegKey key, const char* name) {
    const auto value = store.QueryValue(key, name);
    if (!value.ok() || value.value.type != static_cast<std::uint32_t>(ValueType::Dword) ||
        value.value.data.size() != 4) {
        return 0;
    }
    const auto& b = value.value.data;
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[3])) << 24;
}

}  // namespace

ClipIndex::ClipIndex(KeyStore& store, ChannelNameLookup channelName)
    : store_(store), channelName_(std::move(channelName)) {}

bool ClipIndex::AddClipRecord(ClipRecord record) {
    record.location = channelName_ ? channelName_(record.channel) : QString();
    if (!UsableClipName(record.fileName)) {
        qCWarning(lcStore) << "clip name not usable as an index key:" << record.fileName;
        return false;
    }
    const std::string fileName = record.fileName.toStdString();
    const auto key = store_.CreateKey(KeyStore::kRoot, ClipKeyPath(fileName));
    if (!key.ok()) {
        qCWarning(lcStore) << "cannot create the index entry" << Quoted(fileName);
        return false;
    }

    const auto writeText = [&](const char* name, const QString& text) {
        const std::string bytes = text.toStdString();
        if (store_.SetString(key.value, name, bytes) != StoreStatus::Ok) {
            qCWarning(lcStore) << "cannot write" << name << "of the index entry"
                               << Quoted(fileName);
        }
    };
    const auto writeDword = [&](const char* name, std::uint32_t value) {
        if (store_.SetDword(key.value, name, value) != StoreStatus::Ok) {
            qCWarning(lcStore) << "cannot write" << name << "of the index entry"
                               << Quoted(fileName);
        }
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
    return true;
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

void ClipIndex::LoadClipRecords(std::vector<ClipRecord>& records) const {
    const auto index = OpenIndex(store_);
    if (!index) {
        return;
    }
    for (int i = 0; i < index->entries; ++i) {
        const auto name = store_.SubkeyName(index->key, i);
        if (!name.ok()) {
            qCWarning(lcStore) << "cannot name clip index entry" << i;
            continue;
        }
        const auto key = store_.OpenKey(index->key, name.value);
        if (!key.ok()) {
            qCWarning(lcStore) << "cannot open the index entry" << Quoted(name.value);
            continue;
        }
        ClipRecord record;
        record.fileName = ReadText(store_, key.value, clipvalue::kFileName);
        record.channel =
            static_cast<std::int32_t>(ReadDword(store_, key.value, clipvalue::kChannel));
        record.location = ReadText(store_, key.value, clipvalue::kLocation);
        record.open = ReadDword(store_, key.value, clipvalue::kOpen) != 0 ? 1 : 0;
        record.startDate = ReadText(store_, key.value, clipvalue::kStartDate);
        record.startTime = ReadText(store_, key.value, clipvalue::kStartTime);
        record.endDate = ReadText(store_, key.value, clipvalue::kEndDate);
        record.endTime = ReadText(store_, key.value, clipvalue::kEndTime);
        record.imageName = ReadText(store_, key.value, clipvalue::kImageName);
        record.path = ReadText(store_, key.value, clipvalue::kPath);
        records.push_back(std::move(record));
    }
}

void ClipIndex::SetClipOpened(const QString& fileName, bool opened) {
    const auto index = OpenIndex(store_);
    if (!index) {
        return;
    }
    // Key lookup ignores case, but an entry is marked only under its exact name.
    const std::string wanted = fileName.toStdString();
    for (int i = 0; i < index->entries; ++i) {
        const auto name = store_.SubkeyName(index->key, i);
        if (!name.ok() || name.value != wanted) {
            continue;
        }
        const auto key = store_.OpenKey(index->key, name.value);
        if (!key.ok()) {
            qCWarning(lcStore) << "cannot open the index entry" << Quoted(name.value);
            continue;
        }
        if (store_.SetDword(key.value, clipvalue::kOpen, opened ? 1 : 0) != StoreStatus::Ok) {
            qCWarning(lcStore) << "cannot mark the index entry" << Quoted(name.value);
        }
        return;
    }
}

}  // namespace orvane
