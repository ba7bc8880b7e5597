#pragma once

#include "media/clip_recorder.h"
#include "store/clip_index.h"
#include "store/key_store.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

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

// A store file of the test's own, where layout tests write and read back.
class StoreFileTest : public testing::Test {
  protected:
    // A key as any program may make it, under the root.
    RegKey Key(const std::string& path) { return store_.CreateKey(KeyStore::kRoot, path).value; }
    std::vector<ClipRecord> Index();  // the clip index as loaded

    TempStore temp_;
    KeyStore store_{std::move(*KeyStore::Open(temp_.path()).store)};
};

// A store and a record folder ("clips/", made) in a temporary folder, with recorders of
// channel 3, named "Gate", on a clock the test moves: where recording tests start.
class RecordingStoreTest : public StoreFileTest {
  protected:
    static constexpr std::int32_t kChannel = 3;

    RecordingStoreTest();
    std::unique_ptr<ClipRecorder> MakeRecorder(const BitmapInfoHeader& format);
    // A whole clip of these packed frames as the recorder writes it, a minute after the last
    // one; its path.
    QString RecordClip(const std::vector<Block>& frames);
    std::string File(const QString& name) const { return (folder_ + name).toStdString(); }

    QString folder_;
    QDateTime now_{QDate(2002, 12, 3), QTime(10, 15, 30)};
};

// Gives the program of a test a free loopback port for call-backs: tests run side by side, and
// two programs on the default port would each be told the other holds it.
void UseFreeListenPort(const std::string& path);

// Writes the store a live-view test starts from: the site on sitePort, call-backs on
// listenPort (a free loopback port when 0), and the account admin/admin at 127.0.0.1 with
// ReLink as given.
void PrepareSiteStore(const std::string& path, quint16 sitePort, int reLink = 1,
                      quint16 listenPort = 0);

// The names of the values written into a store file, in the order they reach it, as a second
// connection to the file sees them: a trigger in the file notes each write while this lives.
class ValueWriteLog {
  public:
    explicit ValueWriteLog(const std::string& storePath);
    ~ValueWriteLog();
    ValueWriteLog(const ValueWriteLog&) = delete;
    ValueWriteLog& operator=(const ValueWriteLog&) = delete;

    std::vector<std::string> names() const;

  private:
    sqlite3* db_ = nullptr;
};

// A value's type (numbered as ValueType) and bytes, to compare in one expectation.
std::pair<std::uint32_t, std::string> Raw(const KeyStore& store, RegKey key, const char* name);

// A whole file's bytes (empty when missing).
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace orvane::test
