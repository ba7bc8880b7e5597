#include "store/key_store.h"

#include "common/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace orvane {
namespace {

// Layout version of the store file, kept in SQLite's user_version.
constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kCreateSchema = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
    id     INTEGER PRIMARY KEY AUTOINCREMENT,  -- never reused: a stale handle stays dead
    parent INTEGER NOT NULL,
    name   TEXT NOT NULL COLLATE NOCASE,
    UNIQUE(parent, name)
);
CREATE TABLE IF NOT EXISTS reg_values(
    key_id INTEGER NOT NULL,
    name   TEXT NOT NULL COLLATE NOCASE,
    type   INTEGER NOT NULL,
    data   BLOB NOT NULL,
    PRIMARY KEY(key_id, name)
) WITHOUT ROWID;
)sql";

// Runs a multi-statement write as one IMMEDIATE transaction, so that two processes never
// interleave half of a key path, and rolls back when the body fails.
class WriteTransaction {
  public:
    explicit WriteTransaction(sqlite3* db) : db_(db) {
        begun_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteTransaction() {
        if (begun_ && !committed_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool begun() const { return begun_; }
    bool Commit() {
        committed_ = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        return committed_;
    }

  private:
    sqlite3* db_;
    bool begun_ = false;
    bool committed_ = false;
};

void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
    // An empty view may carry a null pointer, which SQLite would bind as NULL, not as "".
    sqlite3_bind_text(stmt, index, text.data() ? text.data() : "", static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
                : std::string();
}

// Creates the file with mode 0600 before SQLite sees it, so the settings are never readable
// by others, not even for a moment. SQLite gives the journal files the same mode.
bool CreateStoreFile(const std::string& path, std::string& detail) {
    std::error_code ec;
    const auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            detail = ec.message();
            return false;
        }
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    }
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0 && errno != EEXIST) {
        detail = std::strerror(errno);
        return false;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return true;
}

}  // namespace

std::optional<std::vector<std::string>> SplitKeyPath(std::string_view path) {
    std::vector<std::string> names;
    if (path.empty()) {
        return names;
    }
    std::size_t start = 0;
    while (true) {
        const auto end = path.find('\\', start);
        const auto name = path.substr(start, end == std::string_view::npos ? end : end - start);
        if (name.empty() || name.size() > KeyStore::kMaxKeyNameLength) {
            return std::nullopt;
        }
        names.emplace_back(name);
        if (end == std::string_view::npos) {
            return names;
        }
        start = end + 1;
    }
}

KeyStore::OpenOutcome KeyStore::Open(const std::string& path) {
    OpenOutcome outcome;
    std::error_code ec;
    const bool existed = std::filesystem::exists(path, ec);
    if (!existed && !CreateStoreFile(path, outcome.detail)) {
        outcome.problem = OpenProblem::Unreadable;
        return outcome;
    }
    if (existed && ::access(path.c_str(), R_OK | W_OK) != 0) {
        outcome.problem = OpenProblem::Unreadable;
        outcome.detail = std::strerror(errno);
        return outcome;
    }

    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteDb db(raw);
    if (rc != SQLITE_OK) {
        outcome.problem = OpenProblem::Unreadable;
        outcome.detail = db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
        return outcome;
    }
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    sqlite3_extended_result_codes(db.get(), 1);

    // Read the header first: a file that is not a database fails here, before anything
    // could be written to it.
    int version = 0;
    int tables = 0;
    {
        sqlite3_stmt* stmt = nullptr;
        int prc = sqlite3_prepare_v2(db.get(), "PRAGMA user_version", -1, &stmt, nullptr);
        SqliteStatement guard(stmt);
        if (prc == SQLITE_OK) {
            prc = sqlite3_step(stmt);
        }
        if (prc != SQLITE_ROW) {
            outcome.problem =
                (prc & 0xFF) == SQLITE_NOTADB ? OpenProblem::NotADatabase : OpenProblem::Unreadable;
            outcome.detail = sqlite3_errmsg(db.get());
            return outcome;
        }
        version = sqlite3_column_int(stmt, 0);
    }
    {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db.get(),
                           "SELECT count(*) FROM sqlite_master WHERE type='table' AND name NOT IN "
                           "('reg_keys','reg_values','sqlite_sequence')",
                           -1, &stmt, nullptr);
        SqliteStatement guard(stmt);
        if (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
            tables = sqlite3_column_int(stmt, 0);
        }
    }
    if (version > kSchemaVersion) {
        outcome.problem = OpenProblem::NewerSchema;
        outcome.detail = "layout version " + std::to_string(version);
        return outcome;
    }
    if (version == 0 && tables > 0) {
        outcome.problem = OpenProblem::ForeignDatabase;
        outcome.detail = "the file holds tables of another program";
        return outcome;
    }

    KeyStore store(std::move(db), false);
    // WAL lets readers and a writer of two processes work side by side; FULL makes every
    // committed write survive a crash or power loss.
    if (!store.Exec("PRAGMA journal_mode=WAL") || !store.Exec("PRAGMA synchronous=FULL")) {
        outcome.problem = OpenProblem::Unreadable;
        outcome.detail = sqlite3_errmsg(store.db_.get());
        return outcome;
    }
    if (version == 0) {
        WriteTransaction tx(store.db_.get());
        if (!tx.begun() || !store.Exec(kCreateSchema) ||
            !store.Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str()) ||
            !tx.Commit()) {
            outcome.problem = OpenProblem::Unreadable;
            outcome.detail = sqlite3_errmsg(store.db_.get());
            return outcome;
        }
    }
    outcome.store.emplace(std::move(store));
    return outcome;
}

KeyStore KeyStore::OpenInMemory() {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    KeyStore store(SqliteDb(raw), true);
    store.Exec(kCreateSchema);
    return store;
}

SqliteStatement KeyStore::Prepare(const char* sql) const {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql, -1, &stmt, nullptr) != SQLITE_OK) {
        qCWarning(lcStore) << "cannot prepare statement:" << sqlite3_errmsg(db_.get());
    }
    return SqliteStatement(stmt);
}

bool KeyStore::Exec(const char* sql) const {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        qCWarning(lcStore) << "store statement failed:" << (error ? error : sqlite3_errstr(rc));
        sqlite3_free(error);
        return false;
    }
    return true;
}

bool KeyStore::KeyExists(RegKey key) const {
    if (key == kRoot) {
        return true;
    }
    auto stmt = Prepare("SELECT 1 FROM reg_keys WHERE id=?");
    if (!stmt) {
        return false;
    }
    sqlite3_bind_int64(stmt.get(), 1, key.id);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

std::optional<std::int64_t> KeyStore::FindChild(std::int64_t parent, std::string_view name) const {
    auto stmt = Prepare("SELECT id FROM reg_keys WHERE parent=? AND name=?");
    if (!stmt) {
        return std::nullopt;
    }
    sqlite3_bind_int64(stmt.get(), 1, parent);
    BindText(stmt.get(), 2, name);
    if (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        return sqlite3_column_int64(stmt.get(), 0);
    }
    return std::nullopt;
}

StoreResult<RegKey> KeyStore::OpenKey(RegKey parent, std::string_view subPath) const {
    const auto names = SplitKeyPath(subPath);
    if (!names) {
        return {StoreStatus::InvalidName, {}};
    }
    if (!KeyExists(parent)) {
        return {StoreStatus::NotFound, {}};
    }
    std::int64_t id = parent.id;
    for (const auto& name : *names) {
        const auto child = FindChild(id, name);
        if (!child) {
            return {StoreStatus::NotFound, {}};
        }
        id = *child;
    }
    return {StoreStatus::Ok, RegKey{id}};
}

StoreResult<RegKey> KeyStore::CreateKey(RegKey parent, std::string_view subPath) {
    const auto names = SplitKeyPath(subPath);
    if (!names) {
        return {StoreStatus::InvalidName, {}};
    }
    WriteTransaction tx(db_.get());
    if (!tx.begun()) {
        return {StoreStatus::Failed, {}};
    }
    if (!KeyExists(parent)) {
        return {StoreStatus::NotFound, {}};
    }
    std::int64_t id = parent.id;
    for (const auto& name : *names) {
        if (const auto child = FindChild(id, name)) {
            id = *child;
            continue;
        }
        auto insert = Prepare("INSERT INTO reg_keys(parent, name) VALUES(?, ?)");
        if (!insert) {
            return {StoreStatus::Failed, {}};
        }
        sqlite3_bind_int64(insert.get(), 1, id);
        BindText(insert.get(), 2, name);
        if (sqlite3_step(insert.get()) != SQLITE_DONE) {
            return {StoreStatus::Failed, {}};
        }
        id = sqlite3_last_insert_rowid(db_.get());
    }
    if (!tx.Commit()) {
        return {StoreStatus::Failed, {}};
    }
    return {StoreStatus::Ok, RegKey{id}};
}

StoreStatus KeyStore::DeleteKey(RegKey parent, std::string_view subPath) {
    if (subPath.empty()) {
        return StoreStatus::InvalidName;  // the root, or a key deleting itself, is not allowed
    }
    WriteTransaction tx(db_.get());
    if (!tx.begun()) {
        return StoreStatus::Failed;
    }
    const auto key = OpenKey(parent, subPath);
    if (!key.ok()) {
        return key.status;
    }
    const auto count = SubkeyCount(key.value);
    if (!count.ok()) {
        return count.status;
    }
    if (count.value > 0) {
        return StoreStatus::HasSubkeys;
    }
    auto values = Prepare("DELETE FROM reg_values WHERE key_id=?");
    auto self = Prepare("DELETE FROM reg_keys WHERE id=?");
    if (!values || !self) {
        return StoreStatus::Failed;
    }
    sqlite3_bind_int64(values.get(), 1, key.value.id);
    sqlite3_bind_int64(self.get(), 1, key.value.id);
    if (sqlite3_step(values.get()) != SQLITE_DONE || sqlite3_step(self.get()) != SQLITE_DONE) {
        return StoreStatus::Failed;
    }
    return tx.Commit() ? StoreStatus::Ok : StoreStatus::Failed;
}

StoreResult<int> KeyStore::SubkeyCount(RegKey key) const {
    if (!KeyExists(key)) {
        return {StoreStatus::NotFound, 0};
    }
    auto stmt = Prepare("SELECT count(*) FROM reg_keys WHERE parent=?");
    if (!stmt) {
        return {StoreStatus::Failed, 0};
    }
    sqlite3_bind_int64(stmt.get(), 1, key.id);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) {
        return {StoreStatus::Failed, 0};
    }
    return {StoreStatus::Ok, sqlite3_column_int(stmt.get(), 0)};
}

StoreResult<std::string> KeyStore::SubkeyName(RegKey key, int index) const {
    if (index < 0) {
        return {StoreStatus::NotFound, {}};
    }
    if (!KeyExists(key)) {
        return {StoreStatus::NotFound, {}};
    }
    auto stmt = Prepare("SELECT name FROM reg_keys WHERE parent=? ORDER BY name LIMIT 1 OFFSET ?");
    if (!stmt) {
        return {StoreStatus::Failed, {}};
    }
    sqlite3_bind_int64(stmt.get(), 1, key.id);
    sqlite3_bind_int(stmt.get(), 2, index);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_ROW) {
        return {StoreStatus::Ok, ColumnText(stmt.get(), 0)};
    }
    return {rc == SQLITE_DONE ? StoreStatus::NotFound : StoreStatus::Failed, {}};
}

StoreResult<std::vector<std::string>> KeyStore::NamesOf(RegKey key, const char* sql) const {
    if (!KeyExists(key)) {
        return {StoreStatus::NotFound, {}};
    }
    auto stmt = Prepare(sql);
    if (!stmt) {
        return {StoreStatus::Failed, {}};
    }
    sqlite3_bind_int64(stmt.get(), 1, key.id);
    std::vector<std::string> names;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        names.push_back(ColumnText(stmt.get(), 0));
    }
    if (rc != SQLITE_DONE) {
        return {StoreStatus::Failed, {}};
    }
    return {StoreStatus::Ok, std::move(names)};
}

StoreResult<std::vector<std::string>> KeyStore::SubkeyNames(RegKey key) const {
    return NamesOf(key, "SELECT name FROM reg_keys WHERE parent=? ORDER BY name");
}

StoreStatus KeyStore::VisitSubkeyValues(
    RegKey key, const std::function<void(const SubkeyValueView&)>& visit) const {
    if (!KeyExists(key)) {
        return StoreStatus::NotFound;
    }
    // One statement, so the whole answer comes from one snapshot of the file.
    auto stmt = Prepare(
        "SELECT k.id, k.name, v.name, v.type, v.data FROM reg_keys k "
        "LEFT JOIN reg_values v ON v.key_id=k.id WHERE k.parent=? ORDER BY k.name");
    if (!stmt) {
        return StoreStatus::Failed;
    }
    sqlite3_bind_int64(stmt.get(), 1, key.id);
    const auto view = [&](int column) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt.get(), column));
        const int size = sqlite3_column_bytes(stmt.get(), column);
        return bytes && size > 0 ? std::string_view(bytes, static_cast<std::size_t>(size))
                                 : std::string_view();
    };
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        SubkeyValueView value;
        value.subkeyId = sqlite3_column_int64(stmt.get(), 0);
        value.subkey = view(1);
        value.hasValue = sqlite3_column_type(stmt.get(), 2) != SQLITE_NULL;
        if (value.hasValue) {
            value.name = view(2);
            value.type = static_cast<std::uint32_t>(sqlite3_column_int64(stmt.get(), 3));
            value.data = view(4);
        }
        visit(value);
    }
    return rc == SQLITE_DONE ? StoreStatus::Ok : StoreStatus::Failed;
}

StoreStatus KeyStore::SetValue(RegKey key, std::string_view name, std::uint32_t type,
                               std::string_view data) {
    if (name.size() > kMaxValueNameLength) {
        return StoreStatus::InvalidName;
    }
    WriteTransaction tx(db_.get());
    if (!tx.begun()) {
        return StoreStatus::Failed;
    }
    if (!KeyExists(key)) {
        return StoreStatus::NotFound;
    }
    // A rewrite keeps the name's first spelling, as the registry does.
    auto stmt = Prepare(
        "INSERT INTO reg_values(key_id, name, type, data) VALUES(?, ?, ?, ?) "
        "ON CONFLICT(key_id, name) DO UPDATE SET type=excluded.type, data=excluded.data");
    if (!stmt) {
        return StoreStatus::Failed;
    }
    sqlite3_bind_int64(stmt.get(), 1, key.id);
    BindText(stmt.get(), 2, name);
    sqlite3_bind_int64(stmt.get(), 3, type);
    sqlite3_bind_blob(stmt.get(), 4, data.data() ? data.data() : "", static_cast<int>(data.size()),
                      SQLITE_TRANSIENT);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
        return StoreStatus::Failed;
    }
    return tx.Commit() ? StoreStatus::Ok : StoreStatus::Failed;
}

StoreStatus KeyStore::SetString(RegKey key, std::string_view name, std::string_view bytes) {
    return SetValue(key, name, static_cast<std::uint32_t>(ValueType::String), bytes);
}

StoreStatus KeyStore::SetDword(RegKey key, std::string_view name, std::uint32_t value) {
    const std::array<char, 4> bytes{
        static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
        static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
    return SetValue(key, name, static_cast<std::uint32_t>(ValueType::Dword),
                    std::string_view(bytes.data(), bytes.size()));
}

StoreResult<StoredValue> KeyStore::QueryValue(RegKey key, std::string_view name) const {
    auto stmt = Prepare("SELECT type, data FROM reg_values WHERE key_id=? AND name=?");
    if (!stmt) {
        return {StoreStatus::Failed, {}};
    }
    sqlite3_bind_int64(stmt.get(), 1, key.id);
    BindText(stmt.get(), 2, name);
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) {
        return {rc == SQLITE_DONE ? StoreStatus::NotFound : StoreStatus::Failed, {}};
    }
    StoredValue value;
    value.type = static_cast<std::uint32_t>(sqlite3_column_int64(stmt.get(), 0));
    const auto* blob = static_cast<const char*>(sqlite3_column_blob(stmt.get(), 1));
    const int size = sqlite3_column_bytes(stmt.get(), 1);
    if (blob && size > 0) {
        value.data.assign(blob, static_cast<std::size_t>(size));
    }
    return {StoreStatus::Ok, std::move(value)};
}

StoreStatus KeyStore::DeleteValue(RegKey key, std::string_view name) {
    auto stmt = Prepare("DELETE FROM reg_values WHERE key_id=? AND name=?");
    if (!stmt) {
        return StoreStatus::Failed;
    }
    sqlite3_bind_int64(stmt.get(), 1, key.id);
    BindText(stmt.get(), 2, name);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
        return StoreStatus::Failed;
    }
    return sqlite3_changes(db_.get()) > 0 ? StoreStatus::Ok : StoreStatus::NotFound;
}

StoreResult<std::vector<std::string>> KeyStore::ValueNames(RegKey key) const {
    return NamesOf(key, "SELECT name FROM reg_values WHERE key_id=? ORDER BY name");
}

std::uint32_t ReadDword(const SubkeyValueView& value) {
    if (value.type != static_cast<std::uint32_t>(ValueType::Dword) || value.data.size() != 4) {
        return 0;
    }
    const auto& b = value.data;
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[3])) << 24;
}

}  // namespace orvane
