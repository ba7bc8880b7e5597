#include "store/store_location.h"

#include "store/registry_layout.h"

#include <cstdlib>

namespace orvane {

std::string KeyStorePath() {
    if (const char* explicitPath = std::getenv(kRegistryEnvVar); explicitPath && *explicitPath) {
        return explicitPath;
    }
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        config = std::string(home) + "/.config";
    } else {
        config = ".";
    }
    return config + "/" + kCompanyKeyName + "/registry.sqlite3";
}

}  // namespace orvane
