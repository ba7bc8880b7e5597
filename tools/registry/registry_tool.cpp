#include "registry_tool.h"

#include "common/fixed_text.h"
#include "store/clip_index.h"
#include "store/reg_file.h"
#include "store/registry_layout.h"
#include "store/store_location.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>

namespace orvane {
namespace {

constexpr const char* kRootName = "HKEY_CURRENT_USER";
constexpr const char* kUsage =
    "usage: orvane-registry query KEY [/v NAME | /s] | add KEY [/v NAME] [/t REG_SZ|REG_DWORD] [/d "
    "DATA] [/f] | delete KEY [/v NAME] /f | export KEY [FILE [/y]] | import FILE";
constexpr const char* kNotFound =
    "The system was unable to find the specified registry key or value.";

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

struct Arguments {
    std::string operation;
    std::string key;   // the file, for import
    std::string file;  // export's second argument
    std::optional<std::string> valueName;
    std::optional<std::string> type;
    std::optional<std::string> data;
    bool force = false;
    bool recursive = false;  // query /s
    bool overwrite = false;  // export /y
};

// Parses "OP KEY [FILE] [/switch [arg]]...". Switches may be written with '/' or '-', any
// case; only export takes a second argument that is not a switch.
std::optional<Arguments> ParseArguments(const std::vector<std::string>& args, std::string& error) {
    if (args.size() < 2) {
        error = kUsage;
        return std::nullopt;
    }
    Arguments parsed;
    parsed.operation = args[0];
    parsed.key = args[1];
    std::size_t i = 2;
    // A file may be an absolute path: only the one switch export knows is not taken for one.
    if (EqualsIgnoringCase(parsed.operation, "export") && i < args.size() &&
        !EqualsIgnoringCase(args[i], "/y") && !EqualsIgnoringCase(args[i], "-y")) {
        parsed.file = args[i++];
    }
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
            error = "unexpected argument: " + arg;
            return std::nullopt;
        }
        const std::string_view name = std::string_view(arg).substr(1);
        bool* flag = EqualsIgnoringCase(name, "f")   ? &parsed.force
                     : EqualsIgnoringCase(name, "s") ? &parsed.recursive
                     : EqualsIgnoringCase(name, "y") ? &parsed.overwrite
                                                     : nullptr;
        if (flag) {
            *flag = true;
            continue;
        }
        std::optional<std::string>* slot = nullptr;
        if (EqualsIgnoringCase(name, "v")) {
            slot = &parsed.valueName;
        } else if (EqualsIgnoringCase(name, "t")) {
            slot = &parsed.type;
        } else if (EqualsIgnoringCase(name, "d")) {
            slot = &parsed.data;
        } else {
            error = "unknown switch: " + arg;
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            error = "switch " + arg + " needs an argument";
            return std::nullopt;
        }
        *slot = args[++i];
    }
    return parsed;
}

// "HKCU\\A\\B" -> "A\\B"; nullopt for other roots.
std::optional<std::string> SubPathOf(const std::string& key) {
    const auto slash = key.find('\\');
    const std::string root = key.substr(0, slash);
    if (!EqualsIgnoringCase(root, "HKCU") && !EqualsIgnoringCase(root, kRootName)) {
        return std::nullopt;
    }
    return slash == std::string::npos ? std::string() : key.substr(slash + 1);
}

std::string FullName(const std::string& subPath) {
    return subPath.empty() ? std::string(kRootName) : std::string(kRootName) + "\\" + subPath;
}

std::string TypeName(std::uint32_t type) {
    switch (static_cast<ValueType>(type)) {
        case ValueType::String:
            return "REG_SZ";
        case ValueType::Dword:
            return "REG_DWORD";
    }
    return "REG_TYPE_" + std::to_string(type);
}

std::optional<std::uint32_t> DwordOf(const StoredValue& value) {
    if (value.type != static_cast<std::uint32_t>(ValueType::Dword) || value.data.size() != 4) {
        return std::nullopt;
    }
    std::uint32_t result = 0;
    for (int i = 3; i >= 0; --i) {
        result = result << 8 | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
    }
    return result;
}

// DATA column of a query line, as reg prints it.
std::string QueryData(const StoredValue& value) {
    if (value.type == static_cast<std::uint32_t>(ValueType::String)) {
        return std::string(TextBeforeNul(value.data));
    }
    if (const auto dword = DwordOf(value)) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "0x%x", *dword);
        return buffer;
    }
    std::string hex;
    for (const char byte : value.data) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%s%02x", hex.empty() ? "" : ",",
                      static_cast<unsigned char>(byte));
        hex += digits;
    }
    return hex;
}

std::string DisplayName(const std::string& name) {
    return name.empty() ? "(Default)" : name;
}

void PrintValueLine(std::ostream& out, const std::string& name, const StoredValue& value) {
    out << "    " << DisplayName(name) << "    " << TypeName(value.type) << "    "
        << QueryData(value) << "\n";
}

int Fail(std::ostream& err, const std::string& message) {
    err << "ERROR: " << message << "\n";
    return 1;
}

void PrintValues(KeyStore& store, RegKey key, std::ostream& out) {
    const auto names = store.ValueNames(key);
    for (const auto& name : names.value) {
        if (const auto value = store.QueryValue(key, name); value.ok()) {
            PrintValueLine(out, name, value.value);
        }
    }
}

std::string ChildPath(const std::string& subPath, const std::string& child) {
    return subPath.empty() ? child : subPath + "\\" + child;
}

// /s: every key below, each with its values, as reg prints them.
void PrintTree(KeyStore& store, RegKey key, const std::string& subPath, std::ostream& out) {
    out << "\n" << FullName(subPath) << "\n";
    PrintValues(store, key, out);
    const auto children = store.SubkeyNames(key);
    for (const auto& child : children.value) {
        if (const auto childKey = store.OpenKey(key, child); childKey.ok()) {
            PrintTree(store, childKey.value, ChildPath(subPath, child), out);
        }
    }
}

int Query(KeyStore& store, const Arguments& args, const std::string& subPath, std::ostream& out,
          std::ostream& err) {
    const auto key = store.OpenKey(KeyStore::kRoot, subPath);
    if (!key.ok()) {
        return Fail(err, kNotFound);
    }
    if (args.recursive && args.valueName) {
        return Fail(err, "/s and /v cannot be given together.");
    }
    if (args.recursive) {
        PrintTree(store, key.value, subPath, out);
        return 0;
    }
    out << "\n" << FullName(subPath) << "\n";
    if (args.valueName) {
        const auto value = store.QueryValue(key.value, *args.valueName);
        if (!value.ok()) {
            return Fail(err, kNotFound);
        }
        PrintValueLine(out, *args.valueName, value.value);
        return 0;
    }
    PrintValues(store, key.value, out);
    const auto children = store.SubkeyNames(key.value);
    if (children.ok() && !children.value.empty()) {
        out << "\n";
        for (const auto& child : children.value) {
            out << FullName(ChildPath(subPath, child)) << "\n";
        }
    }
    return 0;
}

int Add(KeyStore& store, const Arguments& args, const std::string& subPath, std::ostream& out,
        std::ostream& err) {
    if (subPath.empty()) {
        return Fail(err, "Invalid key name.");
    }
    const std::string typeName = args.type.value_or("REG_SZ");
    const bool isDword = EqualsIgnoringCase(typeName, "REG_DWORD");
    if (!isDword && !EqualsIgnoringCase(typeName, "REG_SZ")) {
        return Fail(err, "Unsupported type " + typeName + ": use REG_SZ or REG_DWORD.");
    }
    std::uint32_t dword = 0;
    if (isDword) {
        const std::string text = args.data.value_or("0");
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const char* first = text.data() + (hex ? 2 : 0);
        const char* last = text.data() + text.size();
        const auto [end, ec] = std::from_chars(first, last, dword, hex ? 16 : 10);
        if (ec != std::errc() || end != last || first == last) {
            return Fail(err, "Invalid DWORD data: " + text);
        }
    }
    const auto key = store.CreateKey(KeyStore::kRoot, subPath);
    if (!key.ok()) {
        return Fail(err, "Cannot create the key " + FullName(subPath) + ".");
    }
    const std::string name = args.valueName.value_or("");
    if (!args.force && store.QueryValue(key.value, name).ok()) {
        return Fail(err, "Value " + DisplayName(name) + " exists; add /f to overwrite it.");
    }
    const StoreStatus status = isDword ? store.SetDword(key.value, name, dword)
                                       : store.SetString(key.value, name, args.data.value_or(""));
    if (status != StoreStatus::Ok) {
        return Fail(err, "Cannot write the value " + DisplayName(name) + ".");
    }
    out << "The operation completed successfully.\n";
    return 0;
}

// Deletes a key with everything below it, deepest keys first.
StoreStatus DeleteTree(KeyStore& store, RegKey parent, const std::string& name) {
    const auto key = store.OpenKey(parent, name);
    if (!key.ok()) {
        return key.status;
    }
    while (true) {
        const auto child = store.SubkeyName(key.value, 0);
        if (!child.ok()) {
            break;
        }
        if (const auto status = DeleteTree(store, key.value, child.value);
            status != StoreStatus::Ok) {
            return status;
        }
    }
    return store.DeleteKey(parent, name);
}

int Delete(KeyStore& store, const Arguments& args, const std::string& subPath, std::ostream& out,
           std::ostream& err) {
    if (!args.force) {
        return Fail(err, "delete needs /f: nothing is asked here.");
    }
    const auto key = store.OpenKey(KeyStore::kRoot, subPath);
    if (!key.ok()) {
        return Fail(err, kNotFound);
    }
    StoreStatus status = StoreStatus::Ok;
    if (args.valueName) {
        status = store.DeleteValue(key.value, *args.valueName);
    } else if (subPath.empty()) {
        return Fail(err, "The root key cannot be deleted.");
    } else {
        status = DeleteTree(store, KeyStore::kRoot, subPath);
    }
    if (status == StoreStatus::NotFound) {
        return Fail(err, kNotFound);
    }
    if (status != StoreStatus::Ok) {
        return Fail(err, "The key store refused the deletion.");
    }
    out << "The operation completed successfully.\n";
    return 0;
}

// The key and everything below it, parents first.
void CollectKeys(KeyStore& store, RegKey key, const std::string& subPath,
                 std::vector<RegFileKey>& keys) {
    RegFileKey entry;
    entry.path = subPath;
    const auto names = store.ValueNames(key);
    for (const auto& name : names.value) {
        if (auto value = store.QueryValue(key, name); value.ok()) {
            entry.values.push_back({name, std::move(value.value)});
        }
    }
    keys.push_back(std::move(entry));
    const auto children = store.SubkeyNames(key);
    for (const auto& child : children.value) {
        if (const auto childKey = store.OpenKey(key, child); childKey.ok()) {
            CollectKeys(store, childKey.value, ChildPath(subPath, child), keys);
        }
    }
}

int Export(KeyStore& store, const Arguments& args, const std::string& subPath, std::ostream& out,
           std::ostream& err) {
    const auto key = store.OpenKey(KeyStore::kRoot, subPath);
    if (!key.ok()) {
        return Fail(err, kNotFound);
    }
    std::vector<RegFileKey> keys;
    CollectKeys(store, key.value, subPath, keys);
    const std::string text = FormatRegText(keys);
    if (args.file.empty()) {
        out << text;
        return 0;
    }
    std::error_code ec;
    if (!args.overwrite && std::filesystem::exists(args.file, ec)) {
        return Fail(err, args.file + " exists; add /y to overwrite it.");
    }
    const std::string bytes = EncodeRegFile(text);
    // Written beside it and renamed once complete: a full disk leaves no half a backup, and
    // the file /y would replace stays as it was.
    QSaveFile file(QString::fromStdString(args.file));
    const auto size = static_cast<qint64>(bytes.size());
    // Unbuffered: a write that fails is seen here, not lost in a flush that commit() ignores.
    // A short write is tried again, so that the one that fails says why (a full disk).
    qint64 written = 0;
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        for (qint64 n = 0; written < size; written += n) {
            if ((n = file.write(bytes.data() + written, size - written)) <= 0) {
                break;
            }
        }
    }
    if (written != size || !file.commit()) {
        return Fail(err, "cannot write " + args.file + ": " + file.errorString().toStdString());
    }
    out << "The operation completed successfully.\n";
    return 0;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// What the program itself would refuse to keep in its clip index: an entry's key and the
// files it names must be plain file names, one key below the index.
std::string ClipEntryProblem(const RegFileKey& key) {
    const std::string index = std::string(kClipIndexKeyPath) + "\\";
    if (key.remove || !StartsWithIgnoringCase(key.path, index)) {
        return {};
    }
    const std::string entry = key.path.substr(index.size());
    if (!IsPlainFileName(QString::fromStdString(entry))) {
        return "a clip index entry must be named by a plain file name";
    }
    for (const RegFileValue& value : key.values) {
        const bool namesFile = EqualsIgnoringCase(value.name, "FileName") ||
                               EqualsIgnoringCase(value.name, "ImageName");
        if (!namesFile || !value.value ||
            value.value->type != static_cast<std::uint32_t>(ValueType::String)) {
            continue;
        }
        const std::string_view text = TextBeforeNul(value.value->data);
        if (!(text.empty() && EqualsIgnoringCase(value.name, "ImageName")) &&
            !IsPlainFileName(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())))) {
            return "\"" + value.name + "\" of a clip index entry must be a plain file name";
        }
    }
    return {};
}

// Writes the parsed keys in order; false at the first write the store refuses.
bool ApplyKeys(KeyStore& store, const std::vector<RegFileKey>& keys) {
    for (const RegFileKey& key : keys) {
        if (key.remove) {
            const StoreStatus status = DeleteTree(store, KeyStore::kRoot, key.path);
            if (status != StoreStatus::Ok && status != StoreStatus::NotFound) {
                return false;
            }
            continue;
        }
        const auto opened = store.CreateKey(KeyStore::kRoot, key.path);
        if (!opened.ok()) {
            return false;
        }
        for (const RegFileValue& value : key.values) {
            StoreStatus status = StoreStatus::Ok;
            if (!value.value) {
                status = store.DeleteValue(opened.value, value.name);
                status = status == StoreStatus::NotFound ? StoreStatus::Ok : status;
            } else if (value.value->type == static_cast<std::uint32_t>(ValueType::Dword)) {
                status =
                    store.SetDword(opened.value, value.name, DwordOf(*value.value).value_or(0));
            } else {
                status = store.SetString(opened.value, value.name, value.value->data);
            }
            if (status != StoreStatus::Ok) {
                return false;
            }
        }
    }
    return true;
}

int Import(KeyStore& store, const std::string& path, std::ostream& out, std::ostream& err) {
    // QFile refuses a folder and reports a failed read; a stream would throw from its buffer.
    // The file is read whole, so its size is bounded first: a device such as /dev/zero, or a
    // file far larger than any store's export, is refused instead of filling the memory.
    constexpr qint64 kMaxImportBytes = qint64{256} << 20;
    QFile file(QString::fromStdString(path));
    const QByteArray read =
        file.open(QIODevice::ReadOnly) ? file.read(kMaxImportBytes + 1) : QByteArray();
    if (file.error() != QFileDevice::NoError) {
        return Fail(err, "cannot read " + path + ": " + file.errorString().toStdString());
    }
    if (read.size() > kMaxImportBytes) {
        return Fail(err, "cannot read " + path +
                             ": it is larger than 256 MB, more than any key store's export");
    }
    const std::string bytes(read.constData(), static_cast<std::size_t>(read.size()));
    const RegFileParse parsed = ParseRegFile(bytes);
    if (!parsed.ok()) {
        return Fail(err, path +
                             (parsed.errorLine ? " line " + std::to_string(parsed.errorLine)
                                               : std::string()) +
                             ": " + parsed.error);
    }
    for (const RegFileKey& key : parsed.keys) {
        if (const std::string problem = ClipEntryProblem(key); !problem.empty()) {
            return Fail(err, path + " line " + std::to_string(key.line) + ": " + problem);
        }
    }
    if (store.WriteTogether([&] { return ApplyKeys(store, parsed.keys); }) != StoreStatus::Ok) {
        return Fail(err, "the key store refused the import; nothing of " + path + " was written.");
    }
    out << "The operation completed successfully.\n";
    return 0;
}

}  // namespace

int RunRegistryTool(KeyStore& store, const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err) {
    std::string error;
    const auto parsed = ParseArguments(args, error);
    if (!parsed) {
        return Fail(err, error);
    }
    const std::string& op = parsed->operation;
    if (EqualsIgnoringCase(op, "import")) {
        return Import(store, parsed->key, out, err);
    }
    const auto subPath = SubPathOf(parsed->key);
    if (!subPath || !SplitKeyPath(*subPath)) {
        return Fail(err, "Invalid key name: " + parsed->key + " (keys start with HKCU\\).");
    }
    if (EqualsIgnoringCase(op, "query")) {
        return Query(store, *parsed, *subPath, out, err);
    }
    if (EqualsIgnoringCase(op, "add")) {
        return Add(store, *parsed, *subPath, out, err);
    }
    if (EqualsIgnoringCase(op, "delete")) {
        return Delete(store, *parsed, *subPath, out, err);
    }
    if (EqualsIgnoringCase(op, "export")) {
        return Export(store, *parsed, *subPath, out, err);
    }
    return Fail(err, "unknown operation " + op + "; " + kUsage);
}

int RunRegistryTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto parsed = ParseArguments(args, error);
    if (!parsed) {
        return Fail(err, error);
    }
    // Only the operations that write create the store: a mistyped ORVANE_REGISTRY is an error
    // for a query, not a new empty store, and a store this user may only read can still be
    // queried and exported.
    const std::string& op = parsed->operation;
    const bool readOnly = EqualsIgnoringCase(op, "query") || EqualsIgnoringCase(op, "export");
    if (!readOnly && !EqualsIgnoringCase(op, "add") && !EqualsIgnoringCase(op, "delete") &&
        !EqualsIgnoringCase(op, "import")) {
        return Fail(err, "unknown operation " + op + "; " + kUsage);
    }
    const std::string path = KeyStorePath();
    auto opened = readOnly ? KeyStore::OpenReadOnly(path) : KeyStore::Open(path);
    if (!opened.store) {
        return Fail(err, "cannot open the key store " + path + ": " + opened.detail);
    }
    return RunRegistryTool(*opened.store, args, out, err);
}

}  // namespace orvane
