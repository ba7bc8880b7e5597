#pragma once

#include <QTemporaryDir>

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

// Reads a whole file as bytes (empty when missing).
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace orvane::test
