#pragma once

#include <string>
#include <vector>

namespace orvane {

// One mounted file system as the system reports it.
struct MountedVolume {
    std::string rootPath;        // where it is mounted, e.g. "/home"
    std::string fileSystemType;  // e.g. "ext4", "nfs4", "tmpfs"
    std::string device;          // e.g. "/dev/sda2", "//server/share"
    bool ready = true;
};

// A volume the record folder may be put on: a top-level item of the folder tree.
struct VolumeRoot {
    std::string rootPath;
    bool network = false;

    bool operator==(const VolumeRoot&) const = default;
};

// The volumes an operator can record onto, sorted by root path ("/" first), each path once:
// optical media, the kernel's and the system's own file systems, and volumes that are not
// ready are left out. A tmpfs is kept only under /mnt, /media, /srv or homePath, where
// someone put it on purpose.
std::vector<VolumeRoot> RecordableRoots(const std::vector<MountedVolume>& volumes,
                                        const std::string& homePath);

// The mounted volumes of this machine; mount points that are not folders (single files
// bound into a container) are left out.
std::vector<MountedVolume> ReadMountedVolumes();

// RecordableRoots of this machine for the current user.
std::vector<VolumeRoot> LocalRecordableRoots();

// Index of the root whose path is the longest whole-component prefix of folder, -1 when none
// holds it. "/home" holds "/home/op/" and "/home", never "/homeless".
int RootHolding(const std::vector<VolumeRoot>& roots, const std::string& folder);

}  // namespace orvane
