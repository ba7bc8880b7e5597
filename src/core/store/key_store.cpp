#include "store/key_store.h"

#include "common/log.h"
#include "store/key_store_internals.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace orvane {
namespace {

// Layout version of the store file, kept in SQLite's user_version.
constexpr int kSchemaVersion = 1;
// Opening may create the tables; it happens once, at start-up, and may wait longer.
constexpr int kOpenBusyTimeoutMs = 5000;

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

// Reads the layout version and checks that the file is a store of ours, undamaged, without
// writing anything; false with the problem set otherwise.
bool CheckStoreFile(sqlite3* db, KeyStore::OpenOutcome& outcome, int& version) {
    // Read the header first: a file that is not a database fails here, before anything
    // could be written to it.
    int tables = 0;
    {
        sqlite3_stmt* stmt = nullptr;
        int prc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr);
        SqliteStatement guard(stmt);
        if (prc == SQLITE_OK) {
            prc = sqlite3_step(stmt);
        }
        if (prc != SQLITE_ROW) {
            outcome.problem =
                (prc & 0xFF) == SQLITE_NOTADB ? OpenProblem::NotADatabase : OpenProblem::Unreadable;
            outcome.detail = sqlite3_errmsg(db);
            return false;
        }
        version = sqlite3_column_int(stmt, 0);
    }
    {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db,
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
        return false;
    }
    if (version == 0 && tables > 0) {
        outcome.problem = OpenProblem::ForeignDatabase;
        outcome.detail = "the file holds tables of another program";
        return false;
    }

    if (version > 0) {
        // A store of ours whose pages were damaged opens like a good one; it must not be
        // written to, or the damage spreads over what can still be read.
        sqlite3_stmt* stmt = nullptr;
        int prc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &stmt, nullptr);
        SqliteStatement guard(stmt);
        std::string verdict;
        if (prc == SQLITE_OK && (prc = sqlite3_step(stmt)) == SQLITE_ROW) {
            verdict = keystore::ColumnText(stmt, 0);
        }
        if (verdict != "ok") {
            outcome.problem = OpenProblem::Damaged;
            outcome.detail = verdict.empty() ? sqlite3_errmsg(db) : verdict;
            return false;
        }
    }

    return true;
}

// A path as the path part of a file: URI.
std::string UriEscaped(const std::string& path) {
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::strchr("/._-~", c)) {
            out.push_back(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        }
    }
    return out;
}

std::atomic<StoreCommitObserver> commitObserver{nullptr};

int TellCommit(void*) {
    if (const StoreCommitObserver observer = commitObserver.load()) {
        observer();
    }
    return 0;  // the commit goes ahead
}

}  // namespace

void SetStoreCommitObserver(StoreCommitObserver observer) {
    commitObserver.store(observer);
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

    int version = 0;
    if (!CheckStoreFile(db.get(), outcome, version)) {
        return outcome;
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
        keystore::WriteTransaction tx(store.db_.get());
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

KeyStore::OpenOutcome KeyStore::OpenReadOnly(const std::string& path) {
    OpenOutcome outcome;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        outcome.problem = OpenProblem::Unreadable;
        outcome.detail = "there is no such file";
        return outcome;
    }
    // A reader of a WAL database needs its -shm file, which SQLite creates when missing. In a
    // folder this user cannot write, that fails; without a -wal file the database file holds
    // every committed write, and it can be read as it is ("immutable": no locks, no -shm).
    const bool walPending = std::filesystem::file_size(path + "-wal", ec) > 0 && !ec;
    for (const bool immutable : {false, true}) {
        if (immutable && (walPending || outcome.problem != OpenProblem::Unreadable)) {
            break;
        }
        std::string name = path;
        int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
        if (immutable) {
            name = "file:" + UriEscaped(path) + "?immutable=1";
            flags |= SQLITE_OPEN_URI;
        }
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
        SqliteDb db(raw);
        if (rc != SQLITE_OK) {
            outcome.problem = OpenProblem::Unreadable;
            outcome.detail = db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
            continue;
        }
        sqlite3_extended_result_codes(db.get(), 1);
        outcome = {};
        int version = 0;
        if (!CheckStoreFile(db.get(), outcome, version)) {
            continue;
        }
        if (version == 0) {
            outcome.problem = OpenProblem::NotADatabase;
            outcome.detail = "the file holds no key store yet";
            return outcome;
        }
        outcome.store.emplace(KeyStore(std::move(db), false));
        return outcome;
    }
    return outcome;
}

KeyStore::KeyStore(SqliteDb db, bool inMemory)
    : busyWait_(std::make_unique<BusyWait>()), db_(std::move(db)), inMemory_(inMemory) {
    sqlite3_busy_handler(db_.get(), &BusyWait::Retry, busyWait_.get());
    sqlite3_commit_hook(db_.get(), &TellCommit, nullptr);
}

StoreStatus KeyStore::WriteTogether(const std::function<bool()>& write) {
    if (sqlite3_get_autocommit(db_.get()) == 0) {
        return write() ? StoreStatus::Ok : StoreStatus::Failed;  // already inside one
    }
    if (!Keeping()) {
        const StoreStatus status =
            keystore::TryWithin(db_.get(), busyWait_->workers, kBusyWaitMs, busy_, [&] {
                keystore::WriteTransaction tx(db_.get());
                if (!tx.begun()) {
                    busy_ = keystore::IsBusy(sqlite3_errcode(db_.get()));
                    return StoreStatus::Failed;
                }
                // The lock is ours from BEGIN IMMEDIATE on: nothing inside waits for it.
                const bool written = write();
                busy_ = false;
                return written && tx.Commit() ? StoreStatus::Ok : StoreStatus::Failed;
            });
        if (status != StoreStatus::Failed || !busy_) {
            return status;
        }
    }
    return write() ? StoreStatus::Ok : StoreStatus::Failed;
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

KeyStore::WorkerShare KeyStore::ShareWithWorker() {
    const char* file = db_ && !inMemory_ ? sqlite3_db_filename(db_.get(), "main") : nullptr;
    if (!file || !*file) {
        return {};
    }
    if (!busyWait_->workers.yieldTo) {
        busyWait_->workers.yieldTo = std::make_shared<std::atomic<int>>(0);
    }
    return {file, busyWait_->workers.yieldTo};
}

std::optional<KeyStore> KeyStore::OpenForWorker(const WorkerShare& share, std::string& detail) {
    if (share.path.empty() || !share.writing) {
        detail = "the store is not kept in a file";
        return std::nullopt;
    }
    if (!sqlite3_threadsafe()) {
        detail = "SQLite is built without threads";
        return std::nullopt;
    }
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(share.path.c_str(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteDb db(raw);
    if (rc != SQLITE_OK) {
        detail = db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
        return std::nullopt;
    }
    sqlite3_extended_result_codes(db.get(), 1);
    KeyStore store(std::move(db), false);
    store.busyWait_->workers.marks = share.writing;
    // The owner has checked the file and made it WAL, which the file keeps; the sync level is
    // each connection's own.
    if (!store.Exec("PRAGMA synchronous=FULL")) {
        detail = sqlite3_errmsg(store.db_.get());
        return std::nullopt;
    }
    return store;
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

}  // namespace orvane
