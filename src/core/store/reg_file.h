#pragma once

#include "store/key_store.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text form of registry keys that Windows' Registry Editor and reg exchange ("Windows
// Registry Editor Version 5.00"), both ways: parsing a file into keys and values, and writing
// keys and values as that text.
namespace orvane {

struct RegFileValue {
    std::string name;                  // empty for the key's default value ("@")
    std::optional<StoredValue> value;  // nullopt: "name"=- deletes the value
    int line = 0;                      // where it starts in the file; 0 when not parsed
};

struct RegFileKey {
    std::string path;     // below HKEY_CURRENT_USER, backslash-separated; empty for the root
    bool remove = false;  // [-KEY]: delete the key with everything below it
    std::vector<RegFileValue> values;
    int line = 0;
};

struct RegFileParse {
    std::vector<RegFileKey> keys;
    int errorLine = 0;  // 1-based line the error is on; 0 when the whole file is wrong
    std::string error;  // empty when the file was read
    bool ok() const { return error.empty(); }
};

// Reads a whole file: UTF-16LE with its byte order mark, as Registry Editor and export write
// it, or UTF-8 (with or without a mark), as export prints it; CRLF or LF line ends. Values are
// text (kept as UTF-8), dword: and hex(1): (text as UTF-16LE bytes, kept as UTF-8, NULs and
// all). Anything the key store cannot hold (other roots, other value types, malformed lines)
// is an error naming its line: nothing of such a file is taken.
RegFileParse ParseRegFile(std::string_view bytes);

// The keys as the file's text, header first, in UTF-8 with LF line ends. Text values that hold
// a NUL, a CR or an LF (padded fixed-size fields do) are written as hex(1): so that they read
// back byte for byte; values of other types as hex(N): with their raw bytes.
std::string FormatRegText(const std::vector<RegFileKey>& keys);

// Text as FormatRegText writes it, encoded as a file: UTF-16LE with a byte order mark, CRLF.
std::string EncodeRegFile(std::string_view text);

}  // namespace orvane
