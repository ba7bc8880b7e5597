#include "common/volumes.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <iterator>
#include <string_view>

namespace orvane {
namespace {

// Kernel interfaces and packaging layers: nothing the operator would pick as a disk.
constexpr std::string_view kSystemTypes[] = {
    "proc",        "sysfs",      "devtmpfs",   "devpts",      "cgroup",
    "cgroup2",     "overlay",    "squashfs",   "securityfs",  "debugfs",
    "tracefs",     "pstore",     "bpf",        "mqueue",      "hugetlbfs",
    "fusectl",     "configfs",   "autofs",     "binfmt_misc", "efivarfs",
    "nsfs",        "ramfs",      "rpc_pipefs", "selinuxfs",   "fuse.gvfsd-fuse",
    "fuse.portal", "fuse.lxcfs",
};

constexpr std::string_view kOpticalTypes[] = {"iso9660", "udf"};

constexpr std::string_view kNetworkTypes[] = {
    "nfs",        "nfs4",  "cifs",        "smb3",        "smbfs",     "ncpfs",
    "afs",        "9p",    "ceph",        "glusterfs",   "lustre",    "sshfs",
    "fuse.sshfs", "davfs", "fuse.davfs2", "fuse.rclone", "fuse.s3fs", "fuse.glusterfs",
};

// Where a tmpfs is someone's scratch disk rather than the system's.
constexpr std::string_view kUserMountAreas[] = {"/mnt", "/media", "/srv"};

template <std::size_t N>
bool OneOf(const std::string_view (&names)[N], std::string_view name) {
    return std::ranges::find(names, name) != std::end(names);
}

// path is base or lies below it, compared by whole components.
bool IsAtOrBelow(std::string_view path, std::string_view base) {
    while (base.size() > 1 && base.back() == '/') {
        base.remove_suffix(1);
    }
    if (base.empty() || path.substr(0, base.size()) != base) {
        return false;
    }
    return base == "/" || path.size() == base.size() || path[base.size()] == '/';
}

bool IsNetwork(const MountedVolume& volume) {
    if (OneOf(kNetworkTypes, volume.fileSystemType)) {
        return true;
    }
    // Other user-space file systems give away a remote source by how they name it.
    if (volume.fileSystemType.starts_with("fuse")) {
        const std::string_view device = volume.device;
        return device.starts_with("//") || device.find("://") != std::string_view::npos ||
               device.find(":/") != std::string_view::npos;
    }
    return false;
}

bool IsRecordable(const MountedVolume& volume, const std::string& homePath) {
    if (!volume.ready || volume.rootPath.empty()) {
        return false;
    }
    const std::string_view type = volume.fileSystemType;
    if (OneOf(kOpticalTypes, type)) {
        return false;
    }
    // A live system or a container may run from an overlay; its root is still the disk.
    if (type == "overlay" && volume.rootPath == "/") {
        return true;
    }
    if (OneOf(kSystemTypes, type)) {
        return false;
    }
    if (type == "tmpfs") {
        const bool inHome = homePath.size() > 1 && IsAtOrBelow(volume.rootPath, homePath);
        return inHome || std::ranges::any_of(kUserMountAreas, [&](std::string_view area) {
                   return IsAtOrBelow(volume.rootPath, area);
               });
    }
    return true;
}

}  // namespace

std::vector<VolumeRoot> RecordableRoots(const std::vector<MountedVolume>& volumes,
                                        const std::string& homePath) {
    std::vector<VolumeRoot> roots;
    for (const MountedVolume& volume : volumes) {
        if (IsRecordable(volume, homePath)) {
            roots.push_back({volume.rootPath, IsNetwork(volume)});
        }
    }
    // "/" sorts first by itself: no other absolute path is shorter or smaller.
    std::stable_sort(roots.begin(), roots.end(), [](const VolumeRoot& a, const VolumeRoot& b) {
        return a.rootPath < b.rootPath;
    });
    // A path mounted over several times is one place to the operator; the first kept wins.
    roots.erase(std::unique(roots.begin(), roots.end(),
                            [](const VolumeRoot& a, const VolumeRoot& b) {
                                return a.rootPath == b.rootPath;
                            }),
                roots.end());
    return roots;
}

std::vector<MountedVolume> ReadMountedVolumes() {
    std::vector<MountedVolume> volumes;
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
        const QString root = storage.rootPath();
        if (!QFileInfo(root).isDir()) {
            continue;
        }
        volumes.push_back({root.toStdString(), storage.fileSystemType().toStdString(),
                           storage.device().toStdString(), storage.isReady()});
    }
    return volumes;
}

std::vector<VolumeRoot> LocalRecordableRoots() {
    return RecordableRoots(ReadMountedVolumes(), QDir::homePath().toStdString());
}

int RootHolding(const std::vector<VolumeRoot>& roots, const std::string& folder) {
    int best = -1;
    std::size_t bestLength = 0;
    for (std::size_t i = 0; i < roots.size(); ++i) {
        const std::string& root = roots[i].rootPath;
        if (IsAtOrBelow(folder, root) && (best < 0 || root.size() > bestLength)) {
            best = static_cast<int>(i);
            bestLength = root.size();
        }
    }
    return best;
}

}  // namespace orvane
