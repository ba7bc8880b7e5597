#pragma once

#include <QString>

#include <sys/types.h>
#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <span>

namespace orvane {

// The file a clip is written to. A writer goes through this rather than through a
// descriptor, so that a full disk or a failing volume can be played without one.
class MediaFile {
  public:
    virtual ~MediaFile() = default;

    // Writes the parts at pos as one call: the bytes that went out, possibly fewer than
    // asked, or -1 with errno set.
    virtual ssize_t WriteAt(std::uint64_t pos, std::span<const iovec> parts) = 0;
    virtual bool Truncate(std::uint64_t size) = 0;
    // Starts write-back of what was written; never waits for the disk.
    virtual void StartWriteBack() = 0;
    // True once the file has no name any more (deleted, or its folder removed).
    virtual bool Removed() const = 0;
    // True once its path no longer leads to it while it may still have its name elsewhere
    // (its folder moved, its volume unmounted under it): what is written reaches nobody.
    virtual bool Unreachable() const = 0;
    // Closes the file; false with errno set when the last bytes did not make it.
    virtual bool Close() = 0;
    // Closes the file and removes it, but only when this open created it: a path that named
    // something else before (a device, a link) is left as it was.
    virtual void Discard() = 0;
};

// Opens path for writing: created new when exclusive (it must not exist yet), otherwise
// created or truncated. nullptr with the system's reason in error.
std::unique_ptr<MediaFile> OpenMediaFile(const QString& path, bool exclusive, QString& error);

}  // namespace orvane
