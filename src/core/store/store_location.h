#pragma once

#include <string>

namespace orvane {

// Environment variable that points the program (and its tests) at another store file.
inline constexpr const char* kRegistryEnvVar = "ORVANE_REGISTRY";

// Where the key store lives: $ORVANE_REGISTRY when set, otherwise
// $XDG_CONFIG_HOME/Quillmar-Brakken/registry.sqlite3 (~/.config when XDG_CONFIG_HOME is unset or
// not an absolute path).
std::string KeyStorePath();

}  // namespace orvane
