#include "store/key_store.h"

#include "common/log.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <thread>

namespace orvane {
namespace {

// Layout version of the store file, kept in SQLite's user_version.
constexpr int kSchemaVersion = 1;
// Opening may create the tables; it happens once, at start-up, and may wait longer.
constexpr int kOpenBusyTimeoutMs = 5000;
// Kept writes are tried again this often while the event loop runs.
constexpr int kRetryIntervalMs = 250;
// The longest a write waits for other processes that keep committing.
constexpr int kProgressLimitMs = 5000;
// A closing store waits this long for a lock to go before it gives up on kept writes.
constexpr int kCloseWaitMs = 2000;

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

bool IsBusy(int rc) {
    return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

// Counts the commits of other connections to the file.
std::int64_t DataVersion(sqlite3* db) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &raw, nullptr);
    const SqliteStatement stmt(raw);
    return stmt && sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : -1;
}

// Runs a write, again while the file is locked, for up to budgetMs. A lock that changes
// hands (another process writing in a loop, each write short) is waited for as long as
// others commit, within kProgressLimitMs: those writers make way soon. A lock held without
// a commit (a long transaction, a backup) is given up on after budgetMs.
template <typename Write>
auto TryWithin(sqlite3* db, int budgetMs, bool& busy, Write&& write) {
    const auto start = std::chrono::steady_clock::now();
    const auto limit = start + std::chrono::milliseconds(kProgressLimitMs);
    auto deadline = start + std::chrono::milliseconds(budgetMs);
    std::int64_t version = DataVersion(db);
    while (true) {
        busy = false;
        auto result = write();
        const auto now = std::chrono::steady_clock::now();
        if (!busy || now >= limit) {
            return result;
        }
        if (now >= deadline) {
            const std::int64_t current = DataVersion(db);
            if (current == version || budgetMs == 0) {
                return result;
            }
            version = current;
            deadline = now + std::chrono::milliseconds(budgetMs);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
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

// How long the current statement may still wait for another connection's lock. SQLite's own
// busy timeout sleeps ever longer between tries, and a writer of another process that
// writes in a loop takes the lock back in those gaps; trying every half millisecond finds
// the gaps between its transactions.
struct KeyStore::BusyWait {
    int budgetMs = kBusyWaitMs;
    std::chrono::steady_clock::time_point start;

    static int Retry(void* self, int attempt) {
        auto* wait = static_cast<BusyWait*>(self);
        const auto now = std::chrono::steady_clock::now();
        if (attempt == 0) {
            wait->start = now;
        }
        if (now - wait->start >= std::chrono::milliseconds(wait->budgetMs)) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        return 1;
    }
};

struct KeyStore::PendingWrite {
    enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = Kind::SetValue;
    std::int64_t key = 0;  // the parent (CreateKey, DeleteKey) or the value's key
    std::string path;      // the sub-path (CreateKey, DeleteKey) or the value's name
    std::uint32_t type = 0;
    std::string data;
    std::int64_t madeKey = 0;  // CreateKey: the id handed out until the key has a row
};

// Writes kept back by a lock. It lives apart from the store, so that the retry timer finds
// the store after a move.
struct KeyStore::WriteBehind {
    KeyStore* owner = nullptr;
    std::deque<PendingWrite> writes;
    // Keys created while kept get ids below zero; once made, their rows.
    std::map<std::int64_t, std::int64_t> madeKeys;
    std::int64_t nextMadeKey = -1;
    std::chrono::steady_clock::time_point lastTry;  // of a try that waited for the lock
    std::unique_ptr<QTimer> retry;
};

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
    sqlite3_busy_timeout(db.get(), kOpenBusyTimeoutMs);
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

    if (version > 0) {
        // A store of ours whose pages were damaged opens like a good one; it must not be
        // written to, or the damage spreads over what can still be read.
        sqlite3_stmt* stmt = nullptr;
        int prc = sqlite3_prepare_v2(db.get(), "PRAGMA quick_check(1)", -1, &stmt, nullptr);
        SqliteStatement guard(stmt);
        std::string verdict;
        if (prc == SQLITE_OK && (prc = sqlite3_step(stmt)) == SQLITE_ROW) {
            verdict = ColumnText(stmt, 0);
        }
        if (verdict != "ok") {
            outcome.problem = OpenProblem::Damaged;
            outcome.detail = verdict.empty() ? sqlite3_errmsg(db.get()) : verdict;
            return outcome;
        }
    }

    KeyStore store(std::move(db), false);
    store.busyWait_->budgetMs = kOpenBusyTimeoutMs;
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
    store.busyWait_->budgetMs = kBusyWaitMs;
    outcome.store.emplace(std::move(store));
    return outcome;
}

KeyStore::KeyStore(SqliteDb db, bool inMemory)
    : busyWait_(std::make_unique<BusyWait>()), db_(std::move(db)), inMemory_(inMemory) {
    sqlite3_busy_handler(db_.get(), &BusyWait::Retry, busyWait_.get());
}

KeyStore::KeyStore(KeyStore&& other) noexcept
    : busyWait_(std::move(other.busyWait_)),
      db_(std::move(other.db_)),
      inMemory_(other.inMemory_),
      behind_(std::move(other.behind_)) {
    if (behind_) {
        behind_->owner = this;
    }
}

KeyStore& KeyStore::operator=(KeyStore&& other) noexcept {
    if (this != &other) {
        CloseKept();
        db_ = std::move(other.db_);
        busyWait_ = std::move(other.busyWait_);
        inMemory_ = other.inMemory_;
        behind_ = std::move(other.behind_);
        if (behind_) {
            behind_->owner = this;
        }
    }
    return *this;
}

KeyStore::~KeyStore() {
    CloseKept();
}

void KeyStore::CloseKept() {
    if (!behind_ || !db_) {
        behind_.reset();
        return;
    }
    behind_->retry.reset();
    if (!FlushPendingWrites(kCloseWaitMs)) {
        qCWarning(lcStore) << behind_->writes.size()
                           << "settings changes are lost: the store file stayed locked by "
                              "another program";
    }
    behind_.reset();
}

std::size_t KeyStore::pendingWrites() const {
    return behind_ ? behind_->writes.size() : 0;
}

bool KeyStore::FlushPendingWrites(int waitMs) {
    if (!behind_ || behind_->writes.empty()) {
        return true;
    }
    busyWait_->budgetMs = waitMs;
    while (!behind_->writes.empty()) {
        const StoreStatus status =
            TryWithin(db_.get(), waitMs, busy_, [&] { return Apply(behind_->writes.front()); });
        if (status == StoreStatus::Failed && busy_) {
            break;
        }
        if (status != StoreStatus::Ok) {
            // Its key went meanwhile, or the file refused it: it cannot go in any more.
            qCWarning(lcStore) << "a kept store write could not be made:"
                               << behind_->writes.front().path.c_str();
        }
        behind_->writes.pop_front();
    }
    busyWait_->budgetMs = kBusyWaitMs;
    if (!behind_->writes.empty()) {
        return false;
    }
    if (behind_->retry) {
        behind_->retry->stop();
    }
    qCInfo(lcStore) << "the store is free again; kept writes are in the file";
    return true;
}

StoreStatus KeyStore::Apply(const PendingWrite& write) {
    const RegKey key = Real(RegKey{write.key});
    if (key.id < 0) {
        return StoreStatus::NotFound;  // its key was never made
    }
    switch (write.kind) {
        case PendingWrite::Kind::CreateKey: {
            const auto names = SplitKeyPath(write.path);
            const auto made = CreateKeyNow(key, names.value_or(std::vector<std::string>{}));
            if (made.ok()) {
                behind_->madeKeys[write.madeKey] = made.value.id;
            }
            return made.status;
        }
        case PendingWrite::Kind::DeleteKey:
            return DeleteKeyNow(key, write.path);
        case PendingWrite::Kind::SetValue:
            return SetValueNow(key, write.path, write.type, write.data);
        case PendingWrite::Kind::DeleteValue: {
            const StoreStatus status = DeleteValueNow(key, write.path);
            return status == StoreStatus::NotFound ? StoreStatus::Ok : status;
        }
    }
    return StoreStatus::Failed;
}

bool KeyStore::Keeping() {
    if (!behind_ || behind_->writes.empty()) {
        return false;
    }
    // One try that waits per retry interval; between tries, writes join the queue at once,
    // so that a run of them (a clip's entry) costs one wait, not one each.
    const auto now = std::chrono::steady_clock::now();
    if (now - behind_->lastTry < std::chrono::milliseconds(kRetryIntervalMs)) {
        return true;
    }
    behind_->lastTry = now;
    return !FlushPendingWrites(kBusyWaitMs);
}

void KeyStore::Keep(PendingWrite write) {
    if (!behind_) {
        behind_ = std::make_unique<WriteBehind>();
        behind_->owner = this;
    }
    if (behind_->writes.empty()) {
        behind_->lastTry = std::chrono::steady_clock::now();
        qCInfo(lcStore) << "the store file is locked by another program; writes are kept "
                           "until it is free";
    }
    behind_->writes.push_back(std::move(write));
    // Retried from the event loop of the thread the store belongs to, when it has one.
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread()) {
        return;
    }
    if (!behind_->retry) {
        behind_->retry = std::make_unique<QTimer>();
        behind_->retry->setInterval(kRetryIntervalMs);
        WriteBehind* behind = behind_.get();
        QObject::connect(behind->retry.get(), &QTimer::timeout,
                         [behind] { behind->owner->FlushPendingWrites(0); });
    }
    if (!behind_->retry->isActive()) {
        behind_->retry->start();
    }
}

RegKey KeyStore::Real(RegKey key) const {
    if (key.id >= 0 || !behind_) {
        return key;
    }
    const auto made = behind_->madeKeys.find(key.id);
    return made == behind_->madeKeys.end() ? key : RegKey{made->second};
}

bool KeyStore::KnownKey(RegKey key) const {
    if (key.id >= 0) {
        return KeyExists(key);
    }
    return behind_ && key.id > behind_->nextMadeKey;
}

const KeyStore::PendingWrite* KeyStore::LatestKept(std::int64_t key, std::string_view name) const {
    if (!behind_) {
        return nullptr;
    }
    for (auto it = behind_->writes.rbegin(); it != behind_->writes.rend(); ++it) {
        if ((it->kind == PendingWrite::Kind::SetValue ||
             it->kind == PendingWrite::Kind::DeleteValue) &&
            Real(RegKey{it->key}).id == key && SameName(it->path, name)) {
            return &*it;
        }
    }
    return nullptr;
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
    parent = Real(parent);
    // A key whose creation is kept back is found by the path it was created with.
    if (behind_) {
        for (auto it = behind_->writes.rbegin(); it != behind_->writes.rend(); ++it) {
            if (it->kind == PendingWrite::Kind::CreateKey && Real(RegKey{it->key}) == parent &&
                SameName(it->path, subPath)) {
                return {StoreStatus::Ok, RegKey{it->madeKey}};
            }
        }
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
    parent = Real(parent);
    // A key that is there already needs no write, and so no lock.
    if (const auto existing = OpenKey(parent, subPath); existing.ok()) {
        return existing;
    }
    if (!Keeping()) {
        const auto made =
            TryWithin(db_.get(), kBusyWaitMs, busy_, [&] { return CreateKeyNow(parent, *names); });
        if (made.status != StoreStatus::Failed || !busy_) {
            return made;
        }
    }
    if (!KnownKey(parent)) {
        return {StoreStatus::NotFound, {}};
    }
    PendingWrite write;
    write.kind = PendingWrite::Kind::CreateKey;
    write.key = parent.id;
    write.path = std::string(subPath);
    write.madeKey = behind_ ? behind_->nextMadeKey : -1;
    Keep(std::move(write));
    return {StoreStatus::Ok, RegKey{behind_->nextMadeKey--}};
}

StoreResult<RegKey> KeyStore::CreateKeyNow(RegKey parent, const std::vector<std::string>& names) {
    WriteTransaction tx(db_.get());
    if (!tx.begun()) {
        busy_ = IsBusy(sqlite3_errcode(db_.get()));
        return {StoreStatus::Failed, {}};
    }
    if (!KeyExists(parent)) {
        return {StoreStatus::NotFound, {}};
    }
    std::int64_t id = parent.id;
    for (const auto& name : names) {
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
    parent = Real(parent);
    if (!Keeping()) {
        const StoreStatus status =
            TryWithin(db_.get(), kBusyWaitMs, busy_, [&] { return DeleteKeyNow(parent, subPath); });
        if (status != StoreStatus::Failed || !busy_) {
            return status;
        }
    }
    // What can be told without the lock is told now; the deletion itself waits.
    const auto key = OpenKey(parent, subPath);
    if (!key.ok()) {
        return key.status;
    }
    if (key.value.id >= 0 && SubkeyCount(key.value).value > 0) {
        return StoreStatus::HasSubkeys;
    }
    PendingWrite write;
    write.kind = PendingWrite::Kind::DeleteKey;
    write.key = parent.id;
    write.path = std::string(subPath);
    Keep(std::move(write));
    return StoreStatus::Ok;
}

StoreStatus KeyStore::DeleteKeyNow(RegKey parent, std::string_view subPath) {
    WriteTransaction tx(db_.get());
    if (!tx.begun()) {
        busy_ = IsBusy(sqlite3_errcode(db_.get()));
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
    key = Real(key);
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
    key = Real(key);
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
    key = Real(key);
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
    key = Real(key);
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
    key = Real(key);
    if (!Keeping()) {
        const StoreStatus status = TryWithin(db_.get(), kBusyWaitMs, busy_,
                                             [&] { return SetValueNow(key, name, type, data); });
        if (status != StoreStatus::Failed || !busy_) {
            return status;
        }
    }
    if (!KnownKey(key)) {
        return StoreStatus::NotFound;
    }
    PendingWrite write;
    write.kind = PendingWrite::Kind::SetValue;
    write.key = key.id;
    write.path = std::string(name);
    write.type = type;
    write.data = std::string(data);
    Keep(std::move(write));
    return StoreStatus::Ok;
}

StoreStatus KeyStore::SetValueNow(RegKey key, std::string_view name, std::uint32_t type,
                                  std::string_view data) {
    WriteTransaction tx(db_.get());
    if (!tx.begun()) {
        busy_ = IsBusy(sqlite3_errcode(db_.get()));
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
    key = Real(key);
    // A write kept back by a lock reads as written.
    if (const PendingWrite* kept = LatestKept(key.id, name)) {
        if (kept->kind == PendingWrite::Kind::DeleteValue) {
            return {StoreStatus::NotFound, {}};
        }
        return {StoreStatus::Ok, StoredValue{kept->type, kept->data}};
    }
    if (key.id < 0) {
        return {StoreStatus::NotFound, {}};
    }
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
    key = Real(key);
    if (!Keeping()) {
        const StoreStatus status =
            TryWithin(db_.get(), kBusyWaitMs, busy_, [&] { return DeleteValueNow(key, name); });
        if (status != StoreStatus::Failed || !busy_) {
            return status;
        }
    }
    if (!QueryValue(key, name).ok()) {
        return StoreStatus::NotFound;
    }
    PendingWrite write;
    write.kind = PendingWrite::Kind::DeleteValue;
    write.key = key.id;
    write.path = std::string(name);
    Keep(std::move(write));
    return StoreStatus::Ok;
}

StoreStatus KeyStore::DeleteValueNow(RegKey key, std::string_view name) {
    auto stmt = Prepare("DELETE FROM reg_values WHERE key_id=? AND name=?");
    if (!stmt) {
        return StoreStatus::Failed;
    }
    sqlite3_bind_int64(stmt.get(), 1, key.id);
    BindText(stmt.get(), 2, name);
    if (const int rc = sqlite3_step(stmt.get()); rc != SQLITE_DONE) {
        busy_ = IsBusy(rc);
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
