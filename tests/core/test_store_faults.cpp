// Faults of the key store that a program left running for days meets: the store locked by
// another program or by its own recorder's writer, and a damaged store file. (The disk's faults
// under a recording: test_clip_recorder.)
#include "store/clip_index.h"
#include "store/settings.h"
#include "support/event_loop.h"
#include "support/message_guard.h"
#include "support/temp_store.h"

#include <QDir>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace orvane {
namespace {

// Another program holds the store's write lock for a while: writes of the GUI thread return at
// once, read back as written, and reach the file in order once the lock goes or the store closes.
class LockedStoreTest : public testing::Test {
  protected:
    // Holds the file exclusively from another connection for holdMs.
    void LockFor(int holdMs) {
        locker_ = std::jthread([this, holdMs] {
            sqlite3* db = nullptr;
            sqlite3_open(temp_.path().c_str(), &db);
            sqlite3_busy_timeout(db, 2000);
            lockedOk_ = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
            locked_ = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            released_ = true;
        });
        ASSERT_TRUE(test::WaitUntil([&] { return locked_.load(); }));
        ASSERT_TRUE(lockedOk_);
    }
    // What another process reading the file now finds.
    std::int32_t CheckTimerOnDisk() const {
        return OpenSettings(temp_.path()).settings.GetSetting(SettingId::CheckTimer);
    }

    test::TempStore temp_;
    std::atomic<bool> locked_{false}, lockedOk_{false}, released_{false};
    std::jthread locker_;  // last, so that it is joined before the rest goes
};

TEST_F(LockedStoreTest, WritesDoNotWaitForTheLockAndLandInOrderOnceItGoes) {
    std::optional<OpenedSettings> opened = OpenSettings(temp_.path());
    ASSERT_EQ(opened->problem, OpenProblem::None);
    Settings& settings = opened->settings;
    settings.SetSetting(SettingId::CheckTimer, 5);
    LockFor(2500);

    // Each write returns while the lock is still held: kept, not waited for.
    settings.SetSetting(SettingId::CheckTimer, 20);
    ClipRecord record;
    record.fileName = "200212031015300003.avi";
    EXPECT_TRUE(ClipIndex(settings.store(), {}).AddClipRecord(record));
    settings.SetSetting(SettingId::CheckTimer, 30);

    // This run sees its own writes at once; the file has none of them yet.
    EXPECT_EQ(settings.CheckTimerSeconds(), 30);
    EXPECT_EQ(CheckTimerOnDisk(), 5);
    ASSERT_FALSE(released_);

    // Without any further call, the kept writes land after the lock goes, the last one last.
    ASSERT_TRUE(test::WaitUntil([&] { return released_.load(); }, 4000));
    EXPECT_TRUE(test::WaitUntil([&] { return CheckTimerOnDisk() == 30; }, 2000));
    std::vector<ClipRecord> listed;
    ClipIndex(OpenSettings(temp_.path()).settings.store(), {}).LoadClipRecords(listed);
    EXPECT_EQ(listed.size(), 1u);

    // The program closes while the lock is still held: what was kept lands, not dropped.
    locker_.join();
    released_ = locked_ = false;
    LockFor(700);
    settings.SetSetting(SettingId::CheckTimer, 42);
    EXPECT_FALSE(released_) << "the write waited for the lock";
    opened.reset();
    EXPECT_EQ(CheckTimerOnDisk(), 42);
}

// A key made while the file was locked gets its row when the kept writes go in; a value
// written to it by the call that puts them in lands under that row, not nowhere.
TEST_F(LockedStoreTest, AValueForAKeptKeyLandsWhenItsCallPutsTheKeptWritesIn) {
    KeyStore store = std::move(*KeyStore::Open(temp_.path()).store);
    LockFor(300);
    const auto key = store.CreateKey(KeyStore::kRoot, "Made\\Later");
    ASSERT_TRUE(key.ok());
    ASSERT_EQ(store.pendingWrites(), 1u);
    // No event loop: the next write is what tries the kept ones again.
    locker_.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(store.SetDword(key.value, "Value", 7), StoreStatus::Ok);
    EXPECT_EQ(store.pendingWrites(), 0u);
    const auto made = store.OpenKey(KeyStore::kRoot, "Made\\Later");
    ASSERT_TRUE(made.ok());
    EXPECT_EQ(store.QueryValue(made.value, "Value").value.data, std::string("\x07\0\0\0", 4));
}

// A recorder's writer has a connection of its own to the store. While it writes, a write of
// the program's thread that finds the file locked does not wait: it is kept, as for another
// program's lock. Here the worker writes while another program holds the lock.
TEST_F(LockedStoreTest, WritesDoNotWaitWhileTheWorkersConnectionWrites) {
    OpenedSettings opened = OpenSettings(temp_.path());
    const KeyStore::WorkerShare share = opened.settings.store().ShareWithWorker();
    std::string detail;
    std::optional<KeyStore> worker = KeyStore::OpenForWorker(share, detail);
    ASSERT_TRUE(worker) << detail;
    LockFor(1000);
    std::thread writing([&] {
        worker->CreateKey(KeyStore::kRoot, "Recorder");
        worker->FlushPendingWrites(1500);
    });
    ASSERT_TRUE(test::WaitUntil([&] { return share.writing->load() > 0; }, 1000));
    opened.settings.SetSetting(SettingId::CheckTimer, 20);
    EXPECT_FALSE(released_) << "the write waited for the lock";
    writing.join();
    EXPECT_TRUE(worker->OpenKey(KeyStore::kRoot, "Recorder").ok());
    EXPECT_TRUE(test::WaitUntil([&] { return CheckTimerOnDisk() == 20; }, 2000));
}

// Store files that cannot be used: each is left byte for byte as it was, the run gets the
// defaults and a reason to tell the operator, and its writes stay in memory.
TEST(DamagedStoreFile, IsLeftAsItWasAndTheRunUsesDefaults) {
    test::TempStore temp;
    // Real stores of some size, damaged as a failing disk or a crash might leave them: the last
    // pages cut off while the header still promises them, or pages in the middle overwritten
    // while the header and the table list are whole.
    const std::string truncated = temp.File("truncated.sqlite3");
    const std::string scribbled = temp.File("scribbled.sqlite3");
    for (const std::string& path : {truncated, scribbled}) {
        Settings full(std::move(*KeyStore::Open(path).store));
        for (int i = 0; i < 24; ++i) {
            full.WriteProfileString("Site" + std::to_string(i), "Address",
                                    std::string(3000, static_cast<char>('a' + i)));
        }
    }
    std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) - 3 * 4096);
    std::string bytes = test::ReadFileBytes(scribbled);
    ASSERT_GT(bytes.size(), 6u * 4096);
    test::WriteFileBytes(scribbled, bytes.replace(2 * 4096, 3 * 4096, 3 * 4096, '\x5a'));
    const std::string garbage = temp.File("garbage.sqlite3");
    test::WriteFileBytes(garbage, std::string(8192, '\x5a'));
    const std::string foreign = temp.File("foreign.sqlite3");
    // Written by a later version of the program: never opened, never changed.
    const std::string newer = temp.File("newer.sqlite3");
    for (const auto& [path, sql] :
         {std::pair{foreign, "CREATE TABLE invoices(id INTEGER, total REAL)"},
          std::pair{newer, "PRAGMA user_version=99; CREATE TABLE reg_keys(x);"}}) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    const std::string folder = temp.File("folder.sqlite3");
    std::filesystem::create_directory(folder);

    for (const auto& [path, problem] :
         {std::pair{truncated, OpenProblem::None}, std::pair{scribbled, OpenProblem::None},
          std::pair{garbage, OpenProblem::NotADatabase},
          std::pair{foreign, OpenProblem::ForeignDatabase},
          std::pair{newer, OpenProblem::NewerSchema}, std::pair{folder, OpenProblem::Unreadable}}) {
        SCOPED_TRACE(path);
        const std::string before = test::ReadFileBytes(path);
        const auto filesBefore = QDir(QString::fromStdString(temp.folder())).entryList();
        {
            test::ExpectedMessage unusable(QtWarningMsg, "orvane.store", "unusable");
            OpenedSettings opened = OpenSettings(path);
            EXPECT_EQ(unusable.seen(), 1);
            EXPECT_NE(opened.problem, OpenProblem::None);
            if (problem != OpenProblem::None) {  // a damaged file may read as either
                EXPECT_EQ(opened.problem, problem);
            }
            EXPECT_FALSE(opened.detail.empty());
            EXPECT_TRUE(opened.settings.store().inMemory());
            EXPECT_EQ(opened.settings.LimitDiskSpaceMb(), 50);
            opened.settings.SetSetting(SettingId::CheckTimer, 20);
            EXPECT_EQ(opened.settings.CheckTimerSeconds(), 20);
        }
        EXPECT_EQ(test::ReadFileBytes(path), before);
        EXPECT_EQ(QDir(QString::fromStdString(temp.folder())).entryList(), filesBefore);
    }
}

}  // namespace
}  // namespace orvane
