#include "store/key_store.h"

#include "store/key_store_internals.h"

namespace orvane {

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
        return {StoreStatus::Ok, keystore::ColumnText(stmt.get(), 0)};
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
        names.push_back(keystore::ColumnText(stmt.get(), 0));
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

StoreResult<std::vector<std::string>> KeyStore::ValueNames(RegKey key) const {
    return NamesOf(key, "SELECT name FROM reg_values WHERE key_id=? ORDER BY name");
}

}  // namespace orvane
