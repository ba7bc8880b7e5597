#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace orvane {

// What the disk watch knows of the volume that holds a folder.
struct FreeSpace {
    std::uint32_t freeMB = 0;  // bytes available to this user >> 20, cut to 32 bits
    std::string mountPoint;    // the volume's root, e.g. "/home"; what names it on screen
};

// Where free space comes from: the real volumes in the program, made-up numbers in tests.
using FreeSpaceSource = std::function<FreeSpace(const std::string& path)>;

// The volume of path, or of its nearest existing parent folder, so that a record folder not
// created yet still reads the disk it will be made on. 0 MB when nothing can be queried (an
// empty path, a volume that is gone); the mount point is then the path itself.
FreeSpace QueryFreeSpace(const std::string& path);

// Free MB available to this user on the volume that holds path; 0 when it cannot be queried.
std::uint32_t GetFreeDiskMB(const std::string& path);

}  // namespace orvane
