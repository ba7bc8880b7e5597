#include "common/disk_space.h"

#include "common/log.h"

#include <QStorageInfo>

#include <filesystem>

namespace orvane {
namespace {

// The folder itself when it exists, else the closest ancestor that does; empty when none.
std::filesystem::path NearestExisting(const std::string& path) {
    std::error_code ec;
    std::filesystem::path candidate = std::filesystem::absolute(path, ec);
    if (ec) {
        return {};
    }
    candidate = candidate.lexically_normal();
    while (!candidate.empty()) {
        if (std::filesystem::exists(candidate, ec)) {
            return candidate;
        }
        std::filesystem::path parent = candidate.parent_path();
        if (parent == candidate) {
            break;
        }
        candidate = std::move(parent);
    }
    return {};
}

}  // namespace

FreeSpace QueryFreeSpace(const std::string& path) {
    FreeSpace result;
    result.mountPoint = path;
    if (path.empty()) {
        return result;
    }
    const std::filesystem::path existing = NearestExisting(path);
    if (existing.empty()) {
        qCDebug(lcApp) << "no folder to query free space for" << path.c_str();
        return result;
    }
    const QStorageInfo volume(QString::fromStdString(existing.string()));
    if (!volume.isValid() || !volume.isReady()) {
        qCDebug(lcApp) << "cannot query free space of" << path.c_str();
        return result;
    }
    const qint64 available = volume.bytesAvailable();
    if (available > 0) {
        result.freeMB = static_cast<std::uint32_t>(static_cast<std::uint64_t>(available) >> 20);
    }
    result.mountPoint = volume.rootPath().toStdString();
    return result;
}

std::uint32_t GetFreeDiskMB(const std::string& path) {
    return QueryFreeSpace(path).freeMB;
}

}  // namespace orvane
