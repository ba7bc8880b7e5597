#include "registry_tool.h"

#include "common/fixed_text.h"
#include "store/store_location.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <ostream>

namespace orvane {
namespace {

constexpr const char* kRootName = "HKEY_CURRENT_USER";
constexpr const char* kUsage =
    "usage: orvane-registry query KEY [/v NAME] | add KEY /v NAME /t REG_SZ|REG_DWORD /d DATA "
    "[/f] | delete KEY [/v NAME] /f | export KEY";

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

struct Arguments {
    std::string operation;
    std::string key;
    std::optional<std::string> valueName;
    std::optional<std::string> type;
    std::optional<std::string> data;
    bool force = false;
};

// Parses "OP KEY [/switch [arg]]...". Switches may be written with '/' or '-', any case.
std::optional<Arguments> ParseArguments(const std::vector<std::string>& args, std::string& error) {
    if (args.size() < 2) {
        error = kUsage;
        return std::nullopt;
    }
    Arguments parsed;
    parsed.operation = args[0];
    parsed.key = args[1];
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
            error = "unexpected argument: " + arg;
            return std::nullopt;
        }
        const std::string_view name = std::string_view(arg).substr(1);
        if (EqualsIgnoringCase(name, "f")) {
            parsed.force = true;
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

std::string HexBytes(std::string_view bytes) {
    std::string out;
    char buffer[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%s%02x", i ? "," : "",
                      static_cast<unsigned char>(bytes[i]));
        out += buffer;
    }
    return out;
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
    return HexBytes(value.data);
}

std::string DisplayName(const std::string& name) {
    return name.empty() ? "(Default)" : name;
}

void PrintValueLine(std::ostream& out, const std::string& name, const StoredValue& value) {
    out << "    " << DisplayName(name) << "    " << TypeName(value.type) << "    "
        << QueryData(value) << "\n";
}

std::string QuotedRegText(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out + "\"";
}

int Fail(std::ostream& err, const std::string& message) {
    err << "ERROR: " << message << "\n";
    return 1;
}

int Query(KeyStore& store, const Arguments& args, const std::string& subPath, std::ostream& out,
          std::ostream& err) {
    const auto key = store.OpenKey(KeyStore::kRoot, subPath);
    if (!key.ok()) {
        return Fail(err, "The system was unable to find the specified registry key or value.");
    }
    out << "\n" << FullName(subPath) << "\n";
    if (args.valueName) {
        const auto value = store.QueryValue(key.value, *args.valueName);
        if (!value.ok()) {
            return Fail(err, "The system was unable to find the specified registry key or value.");
        }
        PrintValueLine(out, *args.valueName, value.value);
        return 0;
    }
    const auto names = store.ValueNames(key.value);
    for (const auto& name : names.value) {
        if (const auto value = store.QueryValue(key.value, name); value.ok()) {
            PrintValueLine(out, name, value.value);
        }
    }
    const auto count = store.SubkeyCount(key.value);
    if (count.ok() && count.value > 0) {
        out << "\n";
        for (int i = 0; i < count.value; ++i) {
            if (const auto child = store.SubkeyName(key.value, i); child.ok()) {
                out << FullName(subPath.empty() ? child.value : subPath + "\\" + child.value)
                    << "\n";
            }
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
        return Fail(err, "The system was unable to find the specified registry key or value.");
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
        return Fail(err, "The system was unable to find the specified registry key or value.");
    }
    if (status != StoreStatus::Ok) {
        return Fail(err, "The key store refused the deletion.");
    }
    out << "The operation completed successfully.\n";
    return 0;
}

void ExportKey(KeyStore& store, RegKey key, const std::string& subPath, std::ostream& out) {
    out << "[" << FullName(subPath) << "]\n";
    const auto names = store.ValueNames(key);
    for (const auto& name : names.value) {
        const auto value = store.QueryValue(key, name);
        if (!value.ok()) {
            continue;
        }
        out << (name.empty() ? std::string("@") : QuotedRegText(name)) << "=";
        if (value.value.type == static_cast<std::uint32_t>(ValueType::String)) {
            out << QuotedRegText(TextBeforeNul(value.value.data));
        } else if (const auto dword = DwordOf(value.value)) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "dword:%08x", *dword);
            out << buffer;
        } else {
            out << "hex(" << value.value.type << "):" << HexBytes(value.value.data);
        }
        out << "\n";
    }
    out << "\n";
    const auto count = store.SubkeyCount(key);
    for (int i = 0; count.ok() && i < count.value; ++i) {
        const auto child = store.SubkeyName(key, i);
        if (!child.ok()) {
            continue;
        }
        if (const auto childKey = store.OpenKey(key, child.value); childKey.ok()) {
            ExportKey(store, childKey.value,
                      subPath.empty() ? child.value : subPath + "\\" + child.value, out);
        }
    }
}

}  // namespace

int RunRegistryTool(KeyStore& store, const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err) {
    std::string error;
    const auto parsed = ParseArguments(args, error);
    if (!parsed) {
        return Fail(err, error);
    }
    const auto subPath = SubPathOf(parsed->key);
    if (!subPath || !SplitKeyPath(*subPath)) {
        return Fail(err, "Invalid key name: " + parsed->key + " (keys start with HKCU\\).");
    }
    const std::string& op = parsed->operation;
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
        const auto key = store.OpenKey(KeyStore::kRoot, *subPath);
        if (!key.ok()) {
            return Fail(err, "The system was unable to find the specified registry key or value.");
        }
        ExportKey(store, key.value, *subPath, out);
        return 0;
    }
    return Fail(err, "unknown operation " + op + "; " + kUsage);
}

int RunRegistryTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string path = KeyStorePath();
    auto opened = KeyStore::Open(path);
    if (!opened.store) {
        return Fail(err, "cannot open the key store " + path + ": " + opened.detail);
    }
    return RunRegistryTool(*opened.store, args, out, err);
}

}  // namespace orvane
