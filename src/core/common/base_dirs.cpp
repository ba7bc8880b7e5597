#include "common/base_dirs.h"

#include <cstdlib>

namespace orvane {

std::string BaseFolder(const char* variable, const char* homeRelative) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') {
        return value;
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::string(home) + "/" + homeRelative;
    }
    return ".";
}

}  // namespace orvane
