// orvane-cli export and verify, run as their own processes.
#include "export/clip_export.h"
#include "media/clip_packets.h"
#include "support/event_loop.h"
#include "support/independent_readers.h"
#include "support/program_run.h"
#include "support/sample_clips.h"
#include "support/temp_store.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace orvane {
namespace {

using CliRun = test::ProgramRun;

CliRun Cli(const QStringList& arguments) {
    return test::RunProgram(ORVANE_CLI_BINARY, arguments);
}

// An export of the minutes that matter, checked by verify until one byte changes or a source
// goes; an existing file is refused and left as it was.
TEST(CliExport, ExportsARangeThatVerifyChecks) {
    QTemporaryDir dir;
    // At 30 frames a second most frames are seen within a millisecond, after the time shown;
    // a range typed as the times are shown still takes its first and last frame.
    test::SampleClip sample;
    sample.framesPerSecond = 30;
    const QString clip = test::WriteSampleClip(dir.path(), sample);
    QString error;
    const ClipTimeline timeline = ClipPackets::Open(clip, error)->timeline();
    auto at = [&](int frame) {
        return FrameTimeText(timeline.TimeOf(frame), timeline.utcOffsetSeconds());
    };
    const QString out = dir.filePath("gate.mp4");
    const QString manifest = out + ".json";

    const CliRun exported =
        Cli({"export", clip, "--out", out, "--from", at(12), "--to", at(35), "--json"});
    ASSERT_EQ(exported.code, 0) << exported.err.toStdString();
    const QJsonObject result = QJsonDocument::fromJson(exported.out.toUtf8()).object();
    EXPECT_EQ(result.value("frames").toInt(), 24);
    EXPECT_EQ(result.value("manifest").toString(), manifest);
    EXPECT_EQ(test::ProbeVideo(out.toStdString()).packetKeys.size(), 24u);

    const CliRun again = Cli({"export", clip, "--out", out});
    EXPECT_EQ(again.code, 1);
    EXPECT_TRUE(again.err.contains("exists already")) << again.err.toStdString();
    EXPECT_EQ(Cli({"export", clip, "--out", dir.filePath("x.mp4"), "--from", "noon"}).code, 2);

    const CliRun verified = Cli({"verify", manifest});
    EXPECT_EQ(verified.code, 0) << verified.out.toStdString() << verified.err.toStdString();
    EXPECT_TRUE(verified.out.contains("verified: every file matches"))
        << verified.out.toStdString();

    std::string bytes = test::ReadFileBytes(out.toStdString());
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    test::WriteFileBytes(out.toStdString(), bytes);
    const CliRun changed = Cli({"verify", manifest});
    EXPECT_EQ(changed.code, 1);
    EXPECT_TRUE(changed.out.contains("DIFFERS: " + out)) << changed.out.toStdString();

    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    test::WriteFileBytes(out.toStdString(), bytes);
    QFile::remove(clip);
    const CliRun missing = Cli({"verify", manifest, "--json"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.out.contains("\"missing\"")) << missing.out.toStdString();
}

// An export killed while it wrote leaves its lock behind; the next one takes it over, also when
// the kill came before the lock named its process. A lock that young may still be being written.
TEST(CliExport, TakesOverTheLockOfAnExportThatWasKilled) {
    QTemporaryDir dir;
    const QString clip = test::WriteSampleClip(dir.path(), {});
    const QString out = dir.filePath("gate.mp4");
    const QString lock = ExportLockPath(out);
    // Its file is a pipe nobody reads, as a share that stopped answering: the export waits.
    const QString part = ExportPartPath(out);
    ASSERT_EQ(mkfifo(QFile::encodeName(part).constData(), 0600), 0);
    QProcess killed;
    killed.start(ORVANE_CLI_BINARY, {"export", clip, "--out", out});
    ASSERT_TRUE(test::WaitUntil([&] { return QFileInfo(lock).size() > 0; }, 20000));
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished());
    QFile::remove(part);
    EXPECT_EQ(Cli({"export", clip, "--out", out}).code, 0);
    EXPECT_FALSE(QFileInfo::exists(lock));

    const struct {
        const char* lock;
        int ageSeconds;
        int code;
    } rows[] = {{"a lock that names nobody", 60, 0}, {"one being written", 0, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lock);
        QFile::remove(out);
        QFile::remove(ExportManifestPath(out));
        QFile empty(lock);
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
        empty.setFileTime(QDateTime::currentDateTime().addSecs(-row.ageSeconds),
                          QFileDevice::FileModificationTime);
        empty.close();
        const CliRun next = Cli({"export", clip, "--out", out});
        EXPECT_EQ(next.code, row.code) << next.err.toStdString();
        EXPECT_EQ(QFileInfo::exists(lock), row.code != 0);
    }
}

}  // namespace
}  // namespace orvane
