#include "store/store_location.h"

#include "common/base_dirs.h"
#include "store/registry_layout.h"

#include <cstdlib>

namespace orvane {

std::string KeyStorePath() {
    if (const char* explicitPath = std::getenv(kRegistryEnvVar); explicitPath && *explicitPath) {
        return explicitPath;
    }
    return BaseFolder("XDG_CONFIG_HOME", ".config") + "/" + kCompanyKeyName + "/registry.sqlite3";
}

}  // namespace orvane
