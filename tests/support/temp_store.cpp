#include "support/temp_store.h"

#include "store/settings.h"
#include "store/store_location.h"
#include "support/media_samples.h"

#include <QDir>
#include <QTcpServer>

#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace orvane::test {

TempStore::TempStore() : path_(dir_.path().toStdString() + "/registry.sqlite3") {
    hadPrevious_ = qEnvironmentVariableIsSet(kRegistryEnvVar);
    previous_ = qgetenv(kRegistryEnvVar);
    qputenv(kRegistryEnvVar, QByteArray::fromStdString(path_));
}

TempStore::~TempStore() {
    hadPrevious_ ? qputenv(kRegistryEnvVar, previous_) : qunsetenv(kRegistryEnvVar);
}

RecordingStoreTest::RecordingStoreTest()
    : folder_(QString::fromStdString(temp_.folder()) + "/clips/") {
    QDir().mkpath(folder_);
}

std::unique_ptr<ClipRecorder> RecordingStoreTest::MakeRecorder(const BitmapInfoHeader& format) {
    auto recorder = std::make_unique<ClipRecorder>(
        store_,
        [](std::int32_t channel) { return channel == kChannel ? QString("Gate") : QString(); },
        kChannel, format);
    recorder->SetClock([this] { return now_; });
    return recorder;
}

QString RecordingStoreTest::RecordClip(const std::vector<Block>& frames) {
    now_ = now_.addSecs(60);
    auto recorder = MakeRecorder(*BitmapInfoHeader::Parse(frames.front()));
    QString error;
    EXPECT_TRUE(recorder->StartRecording(folder_, {}, error)) << error.toStdString();
    for (const LiveFrame& frame : LiveFrames(frames)) {
        recorder->WriteFrame(frame);
    }
    const QString path = recorder->aviFilePath();
    recorder->StopRecording();
    return path;
}

std::vector<ClipRecord> StoreFileTest::Index() {
    std::vector<ClipRecord> records;
    ClipIndex(store_, {}).LoadClipRecords(records);
    return records;
}

void UseFreeListenPort(const std::string& path) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    OpenSettings(path).settings.WriteProfileInt("Net", "ListenPort", probe.serverPort());
}

void PrepareSiteStore(const std::string& path, quint16 sitePort, int reLink, quint16 listenPort) {
    if (listenPort == 0) {
        UseFreeListenPort(path);
    }
    auto opened = OpenSettings(path);
    opened.settings.WriteProfileInt("Net", "SitePort", sitePort);
    if (listenPort != 0) {
        opened.settings.WriteProfileInt("Net", "ListenPort", listenPort);
    }
    CallSettings call;
    call.user = "admin";
    call.password = "admin";
    call.dial = 0x7F000001;
    call.reLink = reLink;
    opened.settings.SaveCall(call);
}

ValueWriteLog::ValueWriteLog(const std::string& storePath) {
    EXPECT_EQ(sqlite3_open(storePath.c_str(), &db_), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db_,
                           "CREATE TABLE write_log(seq INTEGER PRIMARY KEY, name TEXT);"
                           "CREATE TRIGGER log_insert AFTER INSERT ON reg_values BEGIN "
                           "INSERT INTO write_log(name) VALUES(new.name); END;"
                           "CREATE TRIGGER log_update AFTER UPDATE ON reg_values BEGIN "
                           "INSERT INTO write_log(name) VALUES(new.name); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db_);
}

ValueWriteLog::~ValueWriteLog() {
    sqlite3_close(db_);
}

std::vector<std::string> ValueWriteLog::names() const {
    std::vector<std::string> names;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db_, "SELECT name FROM write_log ORDER BY seq", -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
    sqlite3_finalize(statement);
    return names;
}

std::pair<std::uint32_t, std::string> Raw(const KeyStore& store, RegKey key, const char* name) {
    const StoredValue value = store.QueryValue(key, name).value;
    return {value.type, value.data};
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace orvane::test
