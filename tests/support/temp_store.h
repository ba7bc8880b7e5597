#pragma once

#include <QTemporaryDir>
#include <QtGlobal>

#include <string>

namespace orvane::test {

// A private folder for one test with a store path inside it; ORVANE_REGISTRY points at the
// store while the object lives, and the folder goes away with it.
class TempStore {
  public:
    TempStore();
    ~TempStore();
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    const std::string& path() const { return path_; }
    std::string folder() const { return dir_.path().toStdString(); }
    std::string File(const std::string& name) const { return folder() + "/" + name; }

  private:
    QTemporaryDir dir_;
    std::string path_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};

// Writes the store a live-view test starts from: the site on sitePort, call-backs on
// listenPort (a free loopback port when 0), and the account admin/admin at 127.0.0.1 with
// ReLink as given.
void PrepareSiteStore(const std::string& path, quint16 sitePort, int reLink = 1,
                      quint16 listenPort = 0);

// Reads a whole file as bytes (empty when missing).
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace orvane::test
