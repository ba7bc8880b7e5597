#include "store/key_store.h"

#include "store/key_store_internals.h"

namespace orvane {

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
    keystore::BindText(stmt.get(), 2, name);
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
                keystore::SameName(it->path, subPath)) {
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
        // Trying the kept writes again may just have given a kept key its row.
        parent = Real(parent);
        const auto made = keystore::TryWithin(db_.get(), busyWait_->workers, kBusyWaitMs, busy_,
                                              [&] { return CreateKeyNow(parent, *names); });
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
    keystore::WriteTransaction tx(db_.get());
    if (!tx.begun()) {
        busy_ = keystore::IsBusy(sqlite3_errcode(db_.get()));
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
        keystore::BindText(insert.get(), 2, name);
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
        // Trying the kept writes again may just have given a kept key its row.
        parent = Real(parent);
        const StoreStatus status =
            keystore::TryWithin(db_.get(), busyWait_->workers, kBusyWaitMs, busy_,
                                [&] { return DeleteKeyNow(parent, subPath); });
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
    keystore::WriteTransaction tx(db_.get());
    if (!tx.begun()) {
        busy_ = keystore::IsBusy(sqlite3_errcode(db_.get()));
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

}  // namespace orvane
