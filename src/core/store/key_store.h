#pragma once

#include "store/sqlite_handle.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// Outcome of a key store operation. Errors are values: nothing here throws.
enum class StoreStatus {
    Ok,
    NotFound,     // key or value does not exist
    HasSubkeys,   // a key with subkeys cannot be deleted
    InvalidName,  // empty path component, over-long name
    Failed,       // the database refused the operation (I/O error, ...)
};

// Why a store file could not be opened. The file is never changed when opening fails.
enum class OpenProblem {
    None,
    Unreadable,       // the file exists but cannot be opened for reading and writing
    NotADatabase,     // the file is not an SQLite database
    NewerSchema,      // written by a newer Orvane with a layout this one does not know
    ForeignDatabase,  // an SQLite database of some other program
    Damaged,          // a store of ours whose pages are damaged (a failing disk, a cut copy)
};

// Registry value types, numbered as the Windows registry numbers them.
enum class ValueType : std::uint32_t {
    String = 1,  // REG_SZ: raw bytes of the given length
    Dword = 4,   // REG_DWORD: 32-bit little-endian
};

struct StoredValue {
    std::uint32_t type = 0;
    std::string data;  // raw bytes as written
};

// One value of a subkey as KeyStore::VisitSubkeyValues passes it; the views last only for
// the call.
struct SubkeyValueView {
    std::int64_t subkeyId = 0;  // tells the subkeys apart, whatever their names
    std::string_view subkey;
    bool hasValue = false;  // false once for a subkey that holds no value
    std::string_view name;
    std::uint32_t type = 0;
    std::string_view data;
};

// A REG_DWORD value of a whole-key read as its number (little-endian, as stored); 0 for a
// value of another type or size, as another tool may have written it.
std::uint32_t ReadDword(const SubkeyValueView& value);

// A key is named by its row; the root (HKEY_CURRENT_USER) is always there.
struct RegKey {
    std::int64_t id = 0;
    friend bool operator==(RegKey, RegKey) = default;
};

template <typename T>
struct StoreResult {
    StoreStatus status = StoreStatus::Failed;
    T value{};
    bool ok() const { return status == StoreStatus::Ok; }
};

// A key store with the semantics of the Windows registry, kept in one SQLite file:
// keys nest, their names keep their case but compare ignoring ASCII case, subkeys are
// enumerated by index in case-insensitive name order, and values are typed. Every write is
// durable when the call returns (WAL journal, full sync), unless another program holds the
// file locked for longer than kBusyWaitMs: then the write is kept in memory, in order, the
// call returns at once, this store reads it back as written, and the kept writes go in as
// soon as the lock goes (retried from the event loop, before any later write, and when the
// store closes). Sub-paths are written with backslashes: "Software\\Company\\App".
//
// Not thread-safe: one KeyStore belongs to one thread. A worker thread that writes to the
// same file opens its own connection (ShareWithWorker, OpenForWorker).
class KeyStore {
  public:
    static constexpr RegKey kRoot{0};
    static constexpr std::size_t kMaxKeyNameLength = 255;
    static constexpr std::size_t kMaxValueNameLength = 16383;
    // How long a write waits for another program's lock before it is kept for later: short
    // enough not to freeze the GUI thread, long enough for the ordinary write of another
    // process to end.
    static constexpr int kBusyWaitMs = 150;

    struct OpenOutcome;
    struct WorkerShare;

    // Opens the store file, creating it (mode 0600, and its folder) when it is missing.
    static OpenOutcome Open(const std::string& path);
    // Opens an existing store file for reading only: never creates it, never writes to it (the
    // file and its folder may be read-only); a missing file is Unreadable.
    static OpenOutcome OpenReadOnly(const std::string& path);
    // A store that lives in memory only, for a run whose store file cannot be used.
    static KeyStore OpenInMemory();

    KeyStore(KeyStore&& other) noexcept;
    KeyStore& operator=(KeyStore&& other) noexcept;
    // Writes kept back by a lock are tried once more, waiting a little; those that still
    // cannot go in are logged.
    ~KeyStore();

    StoreResult<RegKey> CreateKey(RegKey parent, std::string_view subPath);
    StoreResult<RegKey> OpenKey(RegKey parent, std::string_view subPath) const;
    // Deletes the key at subPath below parent; refused with HasSubkeys while it has any.
    StoreStatus DeleteKey(RegKey parent, std::string_view subPath);
    StoreResult<int> SubkeyCount(RegKey key) const;
    StoreResult<std::string> SubkeyName(RegKey key, int index) const;
    // All subkey names, or all values of all subkeys, in the order SubkeyName enumerates the
    // subkeys, each in one read: enumerating a key of many thousand subkeys index by index
    // costs a scan per index.
    StoreResult<std::vector<std::string>> SubkeyNames(RegKey key) const;
    // Every value of every subkey, subkey after subkey, without copying any of them.
    StoreStatus VisitSubkeyValues(RegKey key,
                                  const std::function<void(const SubkeyValueView&)>& visit) const;

    StoreStatus SetString(RegKey key, std::string_view name, std::string_view bytes);
    StoreStatus SetDword(RegKey key, std::string_view name, std::uint32_t value);
    StoreResult<StoredValue> QueryValue(RegKey key, std::string_view name) const;
    StoreStatus DeleteValue(RegKey key, std::string_view name);
    // Value names of a key in case-insensitive order.
    StoreResult<std::vector<std::string>> ValueNames(RegKey key) const;

    // Runs write as one transaction: what it writes through this store goes in together or
    // not at all, in one durable commit, and what it reads no other connection changes
    // meanwhile. write returns false to take all of it back. When the file stays locked past
    // the busy wait, write runs without one: its writes are kept, in order, as single writes
    // are. Calls inside write may nest.
    StoreStatus WriteTogether(const std::function<bool()>& write);

    bool inMemory() const { return inMemory_; }

    // What a worker thread needs to open its own connection to this store's file; the path is
    // empty for a store in memory, which no other connection reaches. From then on this
    // store's thread never waits for the worker: a write here that finds the file locked while
    // the worker writes is kept at once, as for another program's lock held too long.
    WorkerShare ShareWithWorker();
    // On the worker's thread: the connection of its own, with the same durability, busy wait
    // and kept writes (tried again at its next write and when it closes: a worker has no event
    // loop). Two connections of one process to one file are safe in SQLite's multi-thread mode
    // as long as each stays on its thread. nullopt with SQLite's reason in detail.
    static std::optional<KeyStore> OpenForWorker(const WorkerShare& share, std::string& detail);

    // Writes kept back by another program's lock and not in the file yet.
    std::size_t pendingWrites() const;
    // Tries the kept writes again, waiting up to waitMs for the lock; true when none is left.
    bool FlushPendingWrites(int waitMs = 0);

  private:
    struct PendingWrite;
    struct WriteBehind;
    struct BusyWait;

    KeyStore(SqliteDb db, bool inMemory);

    SqliteStatement Prepare(const char* sql) const;
    // The names a one-parameter query (the key's id) lists.
    StoreResult<std::vector<std::string>> NamesOf(RegKey key, const char* sql) const;
    bool Exec(const char* sql) const;
    bool KeyExists(RegKey key) const;
    std::optional<std::int64_t> FindChild(std::int64_t parent, std::string_view name) const;
    StoreStatus SetValue(RegKey key, std::string_view name, std::uint32_t type,
                         std::string_view data);

    // The writes themselves, against the file; a lock that outlasts the wait sets busy_.
    StoreResult<RegKey> CreateKeyNow(RegKey parent, const std::vector<std::string>& names);
    StoreStatus DeleteKeyNow(RegKey parent, std::string_view subPath);
    StoreStatus SetValueNow(RegKey key, std::string_view name, std::uint32_t type,
                            std::string_view data);
    StoreStatus DeleteValueNow(RegKey key, std::string_view name);
    StoreStatus Apply(const PendingWrite& write);

    // True while writes are kept back (after one more try to put them in).
    bool Keeping();
    void Keep(PendingWrite write);
    // The row of a key whose creation was kept back, once it has one.
    RegKey Real(RegKey key) const;
    bool KnownKey(RegKey key) const;
    const PendingWrite* LatestKept(std::int64_t key, std::string_view name) const;
    void CloseKept();

    std::unique_ptr<BusyWait> busyWait_;  // outlives the connection that calls it
    SqliteDb db_;
    bool inMemory_ = false;
    bool busy_ = false;
    std::unique_ptr<WriteBehind> behind_;
};

struct KeyStore::OpenOutcome {
    std::optional<KeyStore> store;
    OpenProblem problem = OpenProblem::None;
    std::string detail;  // the database's own words, for the log and the operator
};

struct KeyStore::WorkerShare {
    std::string path;
    // How many of the worker connections are writing now.
    std::shared_ptr<std::atomic<int>> writing;
};

// Called on the committing thread after every write transaction of any store in the
// process: tests check with it which threads write. Null switches it off.
using StoreCommitObserver = void (*)();
void SetStoreCommitObserver(StoreCommitObserver observer);

// Splits "A\\B\\C" into its names; nullopt when a component is empty or too long.
std::optional<std::vector<std::string>> SplitKeyPath(std::string_view path);

}  // namespace orvane
