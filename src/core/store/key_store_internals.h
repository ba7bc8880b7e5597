#pragma once

// What the key store's own sources share; nothing else includes this.

#include "store/key_store.h"

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace orvane {
namespace keystore {

// The longest a write waits for other processes that keep committing.
constexpr int kProgressLimitMs = 5000;

// Runs a multi-statement write as one IMMEDIATE transaction, so that two processes never
// interleave half of a key path, and rolls back when the body fails. Inside a transaction
// already under way (KeyStore::WriteTogether) it is a savepoint of that one: the outer
// transaction commits everything together.
class WriteTransaction {
  public:
    explicit WriteTransaction(sqlite3* db) : db_(db), nested_(sqlite3_get_autocommit(db) == 0) {
        begun_ = sqlite3_exec(db_, nested_ ? "SAVEPOINT keystore_write" : "BEGIN IMMEDIATE",
                              nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteTransaction() {
        if (begun_ && !committed_) {
            sqlite3_exec(
                db_, nested_ ? "ROLLBACK TO keystore_write; RELEASE keystore_write" : "ROLLBACK",
                nullptr, nullptr, nullptr);
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool begun() const { return begun_; }
    bool Commit() {
        committed_ = sqlite3_exec(db_, nested_ ? "RELEASE keystore_write" : "COMMIT", nullptr,
                                  nullptr, nullptr) == SQLITE_OK;
        return committed_;
    }

  private:
    sqlite3* db_;
    bool nested_ = false;
    bool begun_ = false;
    bool committed_ = false;
};

inline void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
    // An empty view may carry a null pointer, which SQLite would bind as NULL, not as "".
    sqlite3_bind_text(stmt, index, text.data() ? text.data() : "", static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

inline bool IsBusy(int rc) {
    return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
}

inline bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

// Counts the commits of other connections to the file.
inline std::int64_t DataVersion(sqlite3* db) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &raw, nullptr);
    const SqliteStatement stmt(raw);
    return stmt && sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : -1;
}

// The writes of a worker's connection to the same file (KeyStore::OpenForWorker): the
// worker's store counts them in marks, the owner's store gives way while yieldTo is above
// zero.
struct WorkerWrites {
    std::shared_ptr<std::atomic<int>> yieldTo;
    std::shared_ptr<std::atomic<int>> marks;

    bool Yielding() const { return yieldTo && yieldTo->load() > 0; }
};

// Counted from before the transaction begins until after it ends, so that the count is above
// zero whenever the worker holds the lock.
class WorkerWriteMark {
  public:
    explicit WorkerWriteMark(std::atomic<int>* count) : count_(count) {
        if (count_) {
            ++*count_;
        }
    }
    ~WorkerWriteMark() {
        if (count_) {
            --*count_;
        }
    }
    WorkerWriteMark(const WorkerWriteMark&) = delete;
    WorkerWriteMark& operator=(const WorkerWriteMark&) = delete;

  private:
    std::atomic<int>* count_;
};

// Runs a write, again while the file is locked, for up to budgetMs. A lock that changes
// hands (another process writing in a loop, each write short) is waited for as long as
// others commit, within kProgressLimitMs: those writers make way soon. A lock held without
// a commit (a long transaction, a backup) is given up on after budgetMs. A lock our own
// worker may hold is not waited for at all.
template <typename Write>
auto TryWithin(sqlite3* db, const WorkerWrites& workers, int budgetMs, bool& busy, Write&& write) {
    const auto start = std::chrono::steady_clock::now();
    const auto limit = start + std::chrono::milliseconds(kProgressLimitMs);
    auto deadline = start + std::chrono::milliseconds(budgetMs);
    std::int64_t version = DataVersion(db);
    while (true) {
        busy = false;
        auto result = [&] {
            const WorkerWriteMark mark(workers.marks.get());
            return write();
        }();
        const auto now = std::chrono::steady_clock::now();
        if (!busy || now >= limit || workers.Yielding()) {
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

inline std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
                : std::string();
}

}  // namespace keystore

// How long the current statement may still wait for another connection's lock. SQLite's own
// busy timeout sleeps ever longer between tries, and a writer of another process that
// writes in a loop takes the lock back in those gaps; trying every half millisecond finds
// the gaps between its transactions.
struct KeyStore::BusyWait {
    int budgetMs = kBusyWaitMs;
    std::chrono::steady_clock::time_point start;
    keystore::WorkerWrites workers;

    static int Retry(void* self, int attempt) {
        auto* wait = static_cast<BusyWait*>(self);
        if (wait->workers.Yielding()) {
            return 0;
        }
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

}  // namespace orvane
