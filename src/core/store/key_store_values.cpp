#include "store/key_store.h"

#include "store/key_store_internals.h"

#include <array>

namespace orvane {

StoreStatus KeyStore::SetValue(RegKey key, std::string_view name, std::uint32_t type,
                               std::string_view data) {
    if (name.size() > kMaxValueNameLength) {
        return StoreStatus::InvalidName;
    }
    key = Real(key);
    if (!Keeping()) {
        // Trying the kept writes again may just have given a kept key its row.
        key = Real(key);
        const StoreStatus status =
            keystore::TryWithin(db_.get(), busyWait_->workers, kBusyWaitMs, busy_,
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
    keystore::WriteTransaction tx(db_.get());
    if (!tx.begun()) {
        busy_ = keystore::IsBusy(sqlite3_errcode(db_.get()));
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
    keystore::BindText(stmt.get(), 2, name);
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
    keystore::BindText(stmt.get(), 2, name);
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
        // Trying the kept writes again may just have given a kept key its row.
        key = Real(key);
        const StoreStatus status =
            keystore::TryWithin(db_.get(), busyWait_->workers, kBusyWaitMs, busy_,
                                [&] { return DeleteValueNow(key, name); });
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
    keystore::BindText(stmt.get(), 2, name);
    if (const int rc = sqlite3_step(stmt.get()); rc != SQLITE_DONE) {
        busy_ = keystore::IsBusy(rc);
        return StoreStatus::Failed;
    }
    return sqlite3_changes(db_.get()) > 0 ? StoreStatus::Ok : StoreStatus::NotFound;
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
