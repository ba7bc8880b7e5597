// Faults of the disk and of the key store that a recording left running for days meets: a
// disk full from the start (one that runs full while recording: test_cli_record), the record
// folder removed under it, the store locked by another program, and a damaged store file.
#include "frame_source.h"
#include "media/avi_writer.h"
#include "media/clip_recorder.h"
#include "store/clip_index.h"
#include "store/settings.h"
#include "support/event_loop.h"
#include "support/independent_readers.h"
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/sample_clips.h"
#include "support/temp_store.h"
#include "support/wrapped_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <thread>

namespace orvane {
namespace {

// A disk of a given size under a real file: a write reaching past it puts down what fits and
// then fails with "no space", as a file system does; a truncation gives the room back. The
// recorder's writer thread writes while the test reads the counts.
struct DiskState {
    std::atomic<std::uint64_t> capacity = std::numeric_limits<std::uint64_t>::max();
    std::atomic<int> writes = 0;
};

class TestDisk final : public test::WrappedFile {
  public:
    TestDisk(std::unique_ptr<MediaFile> file, std::shared_ptr<DiskState> state)
        : WrappedFile(std::move(file)), state_(std::move(state)) {}

    ssize_t WriteAt(std::uint64_t pos, std::span<const iovec> parts) override {
        ++state_->writes;
        if (pos >= state_->capacity) {
            errno = ENOSPC;
            return -1;
        }
        std::uint64_t room = state_->capacity - pos;
        std::vector<iovec> fitting;
        for (const iovec& part : parts) {
            if (room == 0) {
                break;
            }
            const std::size_t length = std::min<std::uint64_t>(part.iov_len, room);
            fitting.push_back({part.iov_base, length});
            room -= length;
        }
        return WrappedFile::WriteAt(pos, fitting);
    }

  private:
    std::shared_ptr<DiskState> state_;
};

// Whether this process still holds a file open whose name has gone.
bool HoldsDeletedFile(const QString& name) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (!ec && target.find(name.toStdString()) != std::string::npos &&
            target.find("(deleted)") != std::string::npos) {
            return true;
        }
    }
    return false;
}

class RecordingFaultTest : public test::RecordingStoreTest {
  protected:
    std::unique_ptr<ClipRecorder> MakeRecorder() {
        auto recorder = RecordingStoreTest::MakeRecorder(frames_[0].header);
        recorder->SetFailureHandler([this](const QString&) { ++told_; });
        recorder->SetFileOpener(
            [disk = disk_](const QString& path, QString& error) -> std::unique_ptr<MediaFile> {
                auto file = OpenMediaFile(path, true, error);
                if (!file) {
                    return nullptr;
                }
                return std::make_unique<TestDisk>(std::move(file), disk);
            });
        return recorder;
    }

    std::vector<LiveFrame> frames_ =
        test::LiveFrames(test::EncodeFrames(sim::SimulatedCodec::Mpeg4, 12));
    std::shared_ptr<DiskState> disk_ = std::make_shared<DiskState>();
    int told_ = 0;
};

// A disk that fills is told once, and once again when frames are written after it: the
// operator's notice of the outage ends there.
TEST_F(RecordingFaultTest, AFullDiskIsToldOnceAndAgainWhenWritingWorks) {
    auto recorder = MakeRecorder();
    int writingAgain = 0;
    recorder->SetWritingAgainHandler([&] { ++writingAgain; });
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error)) << error.toStdString();
    recorder->WriteFrame(frames_[0]);
    ASSERT_TRUE(test::WaitUntil([&] { return recorder->queuedBytes() == 0; }));
    disk_->capacity = static_cast<std::uint64_t>(QFileInfo(recorder->aviFilePath()).size());
    {
        test::ExpectedMessage full(QtWarningMsg, "orvane.media", "Recording cannot write");
        for (std::size_t i = 1; i < frames_.size(); ++i) {
            recorder->WriteFrame(frames_[i]);
        }
        ASSERT_TRUE(test::WaitUntil([&] { return told_ == 1 && recorder->queuedBytes() == 0; }));
    }
    EXPECT_EQ(writingAgain, 0);
    disk_->capacity = std::numeric_limits<std::uint64_t>::max();
    recorder->WriteFrame(frames_[0]);  // a key frame
    EXPECT_TRUE(test::WaitUntil([&] { return writingAgain == 1; }));
    recorder->StopRecording();
    EXPECT_EQ(told_, 1);
    EXPECT_EQ(writingAgain, 1);
}

// A folder that cannot take the clip, a disk full from the first byte, or a system with no
// thread left for the writer: the clip does not start, the reason is told, nothing is left.
TEST_F(RecordingFaultTest, AClipThatCannotStartIsToldAndLeavesNothing) {
    const QString name = "200212031015300003.avi";
    const struct {
        const char* what;
        QString folder;
        bool threadless;
        std::uint64_t capacity;
        QString reason;
    } cases[] = {
        {"folder gone", folder_ + "gone/", false, std::numeric_limits<std::uint64_t>::max(), name},
        {"no thread", folder_, true, std::numeric_limits<std::uint64_t>::max(), name},
        {"disk full", folder_, false, 100, QString::fromLocal8Bit(std::strerror(ENOSPC))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        disk_->capacity = c.capacity;
        auto recorder = MakeRecorder();
        if (c.threadless) {
            recorder->SetThreadStarter([](std::function<void()>, std::thread&) { return false; });
        }
        test::ExpectedMessage refused(QtWarningMsg, "orvane.media", "cannot start recording");
        QString error;
        EXPECT_FALSE(recorder->StartRecording(c.folder, {}, error));
        EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
        EXPECT_FALSE(recorder->recording());
        EXPECT_TRUE(recorder->aviFileName().isEmpty());
        recorder->WriteFrame(frames_[0]);
        recorder->StopRecording();
        EXPECT_TRUE(Index().empty());
        EXPECT_TRUE(QDir(folder_).isEmpty());
    }
}

// A real device that takes no byte: the writer fails with the system's reason and leaves
// the name it was given alone; here a link to the device, so nothing of the machine is at
// stake.
TEST(AviWriterOnAFullDevice, FailsAndLeavesThePathAsItWas) {
    if (!QFileInfo::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    test::TempStore temp;
    const QString link = QString::fromStdString(temp.File("full.avi"));
    ASSERT_TRUE(QFile::link("/dev/full", link));
    AviVideoStream stream;
    stream.width = 8;
    stream.height = 8;
    stream.format = Block(40, 0);
    // A device cannot be cut back to the last whole chunk; that is said, too.
    test::ExpectedMessage uncut(QtWarningMsg, "orvane.media", "cannot cut",
                                test::ExpectedMessage::Occurrence::Optional);
    QString error;
    EXPECT_FALSE(AviWriter::Create(link, stream, false, error));
    EXPECT_TRUE(error.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))))
        << error.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists("/dev/full"));
}

// The folder goes while a clip records into it. Once that is noticed, the dead file is
// closed (its blocks would otherwise fill the disk unseen for as long as the recording
// runs), the operator is told once and the entry goes at once, so that nothing lists a clip
// that is not on disk, not even after a crash. The next recording goes to the default
// folder; the one that went is not made again.
TEST_F(RecordingFaultTest, ARemovedRecordFolderIsToldOnceAndNeverListed) {
    auto recorder = MakeRecorder();
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error));
    const QString name = recorder->aviFileName();
    recorder->WriteFrame(frames_[0]);
    recorder->WriteFrame(frames_[1]);
    ASSERT_TRUE(test::WaitUntil([&] { return recorder->queuedBytes() == 0; }));
    ASSERT_EQ(Index().size(), 1u);

    ASSERT_TRUE(QDir(folder_).removeRecursively());
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    {
        test::ExpectedMessage removed(QtWarningMsg, "orvane.media", "has been removed");
        recorder->WriteFrame(frames_[2]);
        ASSERT_TRUE(test::WaitUntil([&] { return told_ == 1; }));
    }
    EXPECT_TRUE(Index().empty());
    EXPECT_FALSE(HoldsDeletedFile(name));

    // Frames and minutes go by: nothing more is written, told or listed.
    const int writes = disk_->writes;
    now_ = now_.addSecs(180);
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    for (std::size_t i = 3; i < 12; ++i) {
        recorder->WriteFrame(frames_[i]);
    }
    EXPECT_EQ(disk_->writes, writes);
    EXPECT_EQ(told_, 1);
    EXPECT_TRUE(Index().empty());
    {
        test::ExpectedMessage removed(QtWarningMsg, "orvane.media", "removed while recording");
        recorder->StopRecording();
    }
    EXPECT_TRUE(Index().empty());

    Settings settings(KeyStore::OpenInMemory());
    settings.SetRecordPath(folder_.toStdString());
    settings.SetDefaultRecordFolder(temp_.folder() + "/default");
    const RecordFolder used = settings.PrepareRecordFolder();
    ASSERT_TRUE(used.ready);
    EXPECT_FALSE(QFileInfo::exists(folder_));
    ASSERT_TRUE(recorder->StartRecording(QString::fromStdString(used.path), {}, error))
        << error.toStdString();
    recorder->WriteFrame(frames_[0]);
    const std::string avi = recorder->aviFilePath().toStdString();
    recorder->StopRecording();
    EXPECT_EQ(test::ProbeVideo(avi).packetKeys.size(), 1u);
    EXPECT_EQ(Index().size(), 1u);
    EXPECT_EQ(told_, 1);
}

// A volume unmounted under a running recording (lazily, as an eject does) leaves the clip open
// on a volume nobody reaches; a folder moved away does the same. Both end the clip as a removed
// folder does, so that the recording can go on elsewhere; the clip keeps its entry, for it
// is still there once the volume is.
TEST_F(RecordingFaultTest, AFolderThatNoLongerLeadsToTheClipEndsItAsRemoved) {
    auto recorder = MakeRecorder();
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error));
    recorder->WriteFrame(frames_[0]);
    ASSERT_TRUE(test::WaitUntil([&] { return recorder->queuedBytes() == 0; }));
    ASSERT_TRUE(QDir().rename(folder_.chopped(1), folder_.chopped(1) + "-moved"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    {
        test::ExpectedMessage removed(QtWarningMsg, "orvane.media", "has been removed");
        recorder->WriteFrame(frames_[1]);
        ASSERT_TRUE(test::WaitUntil([&] { return told_ == 1; }));
    }
    EXPECT_TRUE(recorder->endedByFailure());
    EXPECT_EQ(Index().size(), 1u);
}

// Gone before the first picture: the preview cannot be written, and that is where the loss
// shows first. The operator hears of it then, not a commit later.
TEST_F(RecordingFaultTest, AFolderGoneBeforeThePreviewIsToldAtThePreview) {
    auto recorder = MakeRecorder();
    QString error;
    ASSERT_TRUE(recorder->StartRecording(folder_, {}, error));
    ASSERT_TRUE(QDir(folder_).removeRecursively());
    {
        test::ExpectedMessage removed(QtWarningMsg, "orvane.media", "has been removed");
        recorder->WriteFrame(frames_[0]);
        recorder->WriteFrame(frames_[1]);
        ASSERT_TRUE(test::WaitUntil([&] { return told_ == 1; }));
    }
    EXPECT_TRUE(Index().empty());
    test::ExpectedMessage removed(QtWarningMsg, "orvane.media", "removed while recording");
    recorder->StopRecording();
}

// Another program holds the store's write lock for a few seconds. Writes of the GUI thread
// return at once, read back as written, and reach the file in order once the lock goes.
class LockedStoreTest : public testing::Test {
  protected:
    // Holds the file exclusively from another connection for holdMs.
    void LockFor(int holdMs) {
        locker_ = std::thread([this, holdMs] {
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
        while (!locked_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(lockedOk_);
    }

    ~LockedStoreTest() override {
        if (locker_.joinable()) {
            locker_.join();
        }
    }

    // What another process reading the file now finds.
    static std::int32_t CheckTimerOnDisk(const std::string& path) {
        OpenedSettings reader = OpenSettings(path);
        return reader.settings.GetSetting(SettingId::CheckTimer);
    }

    test::TempStore temp_;
    std::thread locker_;
    std::atomic<bool> locked_{false};
    std::atomic<bool> lockedOk_{false};
    std::atomic<bool> released_{false};
};

TEST_F(LockedStoreTest, WritesDoNotWaitForTheLockAndLandInOrderOnceItGoes) {
    OpenedSettings opened = OpenSettings(temp_.path());
    ASSERT_EQ(opened.problem, OpenProblem::None);
    Settings& settings = opened.settings;
    settings.SetSetting(SettingId::CheckTimer, 5);
    LockFor(2500);

    // Each write returns while the lock is still held: kept, not waited for.
    settings.SetSetting(SettingId::CheckTimer, 20);
    settings.SetRecordPath("/srv/clips");
    ClipRecord record;
    record.fileName = "200212031015300003.avi";
    record.channel = 3;
    record.startDate = record.endDate = "2002/12/03";
    record.startTime = record.endTime = "10:15";
    record.imageName = "200212031015300003.img";
    record.path = "/srv/clips/";
    EXPECT_TRUE(ClipIndex(settings.store(), {}).AddClipRecord(record));
    settings.SetSetting(SettingId::CheckTimer, 30);

    // This run sees its own writes at once; the file has none of them yet.
    EXPECT_EQ(settings.CheckTimerSeconds(), 30);
    EXPECT_EQ(settings.GetProfileString("Key", "RECPath", ""), "/srv/clips");
    EXPECT_EQ(CheckTimerOnDisk(temp_.path()), 5);
    ASSERT_FALSE(released_);

    // Without any further call, the kept writes land after the lock goes, the last one last.
    ASSERT_TRUE(test::WaitUntil([&] { return released_.load(); }, 4000));
    EXPECT_TRUE(test::WaitUntil([&] { return CheckTimerOnDisk(temp_.path()) == 30; }, 2000));
    OpenedSettings reader = OpenSettings(temp_.path());
    EXPECT_EQ(reader.settings.GetProfileString("Key", "RECPath", ""), "/srv/clips");
    std::vector<ClipRecord> listed;
    ClipIndex(reader.settings.store(), {}).LoadClipRecords(listed);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].endTime, "10:15");
    EXPECT_EQ(listed[0].path, "/srv/clips/");
}

// The program closes while the lock is still held for a moment: what was kept is written
// before the store goes, not dropped.
TEST_F(LockedStoreTest, KeptWritesLandWhenTheStoreClosesBeforeTheLockGoes) {
    {
        OpenedSettings opened = OpenSettings(temp_.path());
        LockFor(700);
        opened.settings.SetSetting(SettingId::CheckTimer, 42);
        EXPECT_FALSE(released_) << "the write waited for the lock";
    }
    EXPECT_EQ(CheckTimerOnDisk(temp_.path()), 42);
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
    while (!released_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
    Settings& settings = opened.settings;
    const KeyStore::WorkerShare share = settings.store().ShareWithWorker();
    std::string detail;
    std::optional<KeyStore> worker = KeyStore::OpenForWorker(share, detail);
    ASSERT_TRUE(worker) << detail;
    LockFor(1000);
    std::thread writing([&] {
        worker->CreateKey(KeyStore::kRoot, "Recorder");
        worker->FlushPendingWrites(1500);
    });
    ASSERT_TRUE(test::WaitUntil([&] { return share.writing->load() > 0; }, 1000));
    settings.SetSetting(SettingId::CheckTimer, 20);
    EXPECT_FALSE(released_) << "the write waited for the lock";
    writing.join();
    EXPECT_TRUE(worker->OpenKey(KeyStore::kRoot, "Recorder").ok());
    EXPECT_TRUE(test::WaitUntil([&] { return CheckTimerOnDisk(temp_.path()) == 20; }, 2000));
}

// Store files that cannot be used: each is left byte for byte as it was, the run gets the
// defaults and a reason to tell the operator, and its writes stay in memory.
TEST(DamagedStoreFile, IsLeftAsItWasAndTheRunUsesDefaults) {
    test::TempStore temp;
    // Real stores of some size, damaged as a failing disk or a crash might leave them: the
    // last pages cut off while the header still promises them, or pages in the middle
    // overwritten while the header and the table list are whole.
    const auto makeStore = [](const std::string& path) {
        auto opened = KeyStore::Open(path);
        ASSERT_TRUE(opened.store);
        Settings full(std::move(*opened.store));
        for (int i = 0; i < 24; ++i) {
            full.WriteProfileString("Site" + std::to_string(i), "Address",
                                    std::string(3000, static_cast<char>('a' + i % 26)));
        }
    };
    const std::string truncated = temp.File("truncated.sqlite3");
    makeStore(truncated);
    std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) - 3 * 4096);
    const std::string scribbled = temp.File("scribbled.sqlite3");
    makeStore(scribbled);
    {
        std::string bytes = test::ReadFileBytes(scribbled);
        ASSERT_GT(bytes.size(), 6u * 4096);
        bytes.replace(2 * 4096, 3 * 4096, 3 * 4096, '\x5a');
        test::WriteFileBytes(scribbled, bytes);
    }

    const std::string garbage = temp.File("garbage.sqlite3");
    test::WriteFileBytes(garbage, std::string(8192, '\x5a'));

    const auto makeDb = [](const std::string& path, const char* sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    const std::string foreign = temp.File("foreign.sqlite3");
    makeDb(foreign, "CREATE TABLE invoices(id INTEGER, total REAL)");
    // Written by a later version of the program: never opened, never changed.
    const std::string newer = temp.File("newer.sqlite3");
    makeDb(newer, "PRAGMA user_version=99; CREATE TABLE reg_keys(x);");
    const std::string folder = temp.File("folder.sqlite3");
    std::filesystem::create_directory(folder);

    for (const auto& [path, problem] :
         {std::pair{truncated, OpenProblem::None}, std::pair{scribbled, OpenProblem::None},
          std::pair{garbage, OpenProblem::NotADatabase},
          std::pair{foreign, OpenProblem::ForeignDatabase},
          std::pair{newer, OpenProblem::NewerSchema}, std::pair{folder, OpenProblem::Unreadable}}) {
        SCOPED_TRACE(path);
        const std::string before =
            std::filesystem::is_directory(path) ? std::string() : test::ReadFileBytes(path);
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
        if (!std::filesystem::is_directory(path)) {
            EXPECT_EQ(test::ReadFileBytes(path), before);
        }
        EXPECT_EQ(QDir(QString::fromStdString(temp.folder())).entryList(), filesBefore);
    }
}

}  // namespace
}  // namespace orvane
