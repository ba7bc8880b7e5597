// orvane-cli on clips, each command run as its own process: export and verify on a sample
// clip, frame on a clip of the real recorder.
#include "export/clip_export.h"
#include "media/clip_packets.h"
#include "media/clip_recorder.h"
#include "media/frame_times.h"
#include "support/event_loop.h"
#include "support/independent_readers.h"
#include "support/media_samples.h"
#include "support/program_run.h"
#include "support/sample_clips.h"
#include "support/temp_store.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace orvane {
namespace {

using test::ProgramRun;

// As root without a login session: no runtime folder is named.
ProgramRun Cli(const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_RUNTIME_DIR");
    return test::RunProgram(ORVANE_CLI_BINARY, arguments, environment);
}

// An export of the minutes that matter, checked by verify until a source goes or one byte
// changes; an existing file is refused and left as it was.
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
    const ProgramRun exported =
        Cli({"export", clip, "--out", out, "--from", at(12), "--to", at(35), "--json"});
    ASSERT_EQ(exported.code, 0) << exported.err.toStdString();
    const QJsonDocument result = QJsonDocument::fromJson(exported.out.toUtf8());
    EXPECT_EQ(result["frames"].toInt(), 24);
    EXPECT_EQ(result["exitCode"].toInt(-1), 0);
    EXPECT_EQ(result["manifest"].toString(), manifest);
    EXPECT_EQ(test::ProbeVideo(out.toStdString()).packetKeys.size(), 24u);
    const ProgramRun again = Cli({"export", clip, "--out", out});
    EXPECT_TRUE(again.code == 1 && again.err.contains("exists already")) << again.err.toStdString();
    const ProgramRun nowhere = Cli({"export", clip, "--out", dir.filePath("none/x.mp4")});
    EXPECT_TRUE(nowhere.code == 1 && nowhere.err.endsWith(": no such folder\n"))
        << nowhere.err.toStdString();
    EXPECT_EQ(Cli({"export", clip, "--out", dir.filePath("x.mp4"), "--from", "noon"}).code, 2);
    const ProgramRun verified = Cli({"verify", manifest});
    EXPECT_TRUE(verified.code == 0 && verified.out.contains("verified: every file matches"))
        << verified.out.toStdString() << verified.err.toStdString();
    QFile::remove(clip);
    // A failed check says why as every failure does: on stderr, and in the object's error.
    const ProgramRun missing = Cli({"verify", manifest, "--json"});
    const QJsonObject object = QJsonDocument::fromJson(missing.out.toUtf8()).object();
    EXPECT_TRUE(missing.code == 1 && missing.out.contains("\"missing\""))
        << missing.out.toStdString();
    EXPECT_EQ(object["exitCode"].toInt(), 1);
    EXPECT_EQ(object["error"].toString(), "not verified: " + clip + " is missing");
    EXPECT_EQ(missing.err, "orvane-cli: not verified: " + clip + " is missing\n");
    std::string bytes = test::ReadFileBytes(out.toStdString());
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    test::WriteFileBytes(out.toStdString(), bytes);
    const ProgramRun changed = Cli({"verify", manifest});
    EXPECT_TRUE(changed.code == 1 && changed.out.contains("DIFFERS: " + out))
        << changed.out.toStdString();
    EXPECT_EQ(changed.err,
              "orvane-cli: not verified: " + out + " differs, " + clip + " is missing\n");
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
        const ProgramRun next = Cli({"export", clip, "--out", out});
        EXPECT_EQ(next.code, row.code) << next.err.toStdString();
        EXPECT_EQ(QFileInfo::exists(lock), row.code != 0);
    }
}

// Frames that arrived every 40 ms from startUtc on.
QString RecordClip(const QString& folder, int frames, std::int64_t startUtc) {
    auto store = KeyStore::OpenInMemory();
    const auto packed = test::EncodeFrames(sim::SimulatedCodec::Mpeg4, frames, {160, 120}, 0, 2);
    ClipRecorder recorder(store, {}, 3, *BitmapInfoHeader::Parse(packed.at(0)));
    QString error;
    EXPECT_TRUE(recorder.StartRecording(folder, {}, error));
    std::int64_t arrival = 0;
    for (LiveFrame frame : test::LiveFrames(packed)) {
        frame.arrivalUtcMicros = startUtc + arrival;
        frame.arrivalSteadyMicros = arrival;
        arrival += 40'000;
        recorder.WriteFrame(frame);
    }
    const QString path = recorder.aviFilePath();
    recorder.StopRecording();
    return path;
}

// The last frame seen at or before a time typed in the clip's local time, and its time: the
// time shown for a frame (to the millisecond, its microseconds dropped) finds that frame. From
// the end, stepped back: the picture it would show, saved. Otherwise a shell reads one line
// saying what is wrong, and no picture is written; a clip too short for --seek, or starting
// after --time, is a failure, as the argument was well formed.
TEST(CliFrame, GoesToTheFrameOfATimeOrSaysEachFaultOnceInItsOwnWords) {
    test::TempStore temp;
    const QString folder = QString::fromStdString(temp.folder()) + "/";
    test::WriteFileBytes((folder + "text.avi").toStdString(), "not a clip at all");
    const std::int64_t start =
        QDateTime(QDate(2026, 3, 1), QTime(23, 59, 59, 500)).toMSecsSinceEpoch() * 1000 + 250;
    const std::int32_t offset = QDateTime::fromMSecsSinceEpoch(start / 1000).offsetFromUtc();
    // 30 frames, counted from 0: 29 is the last, 30 (where a clip played to its end stands)
    // is no frame to show.
    const QString clip = RecordClip(folder, 30, start);
    const QString png = folder + "x.png";
    const struct {
        QStringList arguments;
        QStringList out;  // what stdout holds when it works
        QString said;     // else the one line on stderr after "orvane-cli: ", "?" any one
    } rows[] = {
        {{folder + "none.avi", "--seek", "0"}, {}, folder + "none.avi does not exist"},
        {{folder, "--seek", "0"}, {}, folder + " is not a file"},
        {{folder + "text.avi", "--seek", "0"}, {}, "?"},
        {{clip, "--seek", "30"},
         {},
         "the clip has 30 frames: --seek 30 lies beyond its end (0 to 29)"},
        {{clip, "--time", "2026-03-01 23:59:59.499"},
         {},
         "the clip starts at 2026-03-01 23:59:59.500, after 2026-03-01 23:59:59.499"},
        {{clip, "--time", FrameTimeText(start + 17 * 40'000, offset)},
         {"frame: 17 of 30\n", "time: 2026-03-02 00:00:00.180\n"},
         ""},
        {{clip, "--seek", "29", "--step", "-3"}, {"frame: 26 of 30\n"}, ""},
        // Steps stop at either end: the last frame, and the first for the most negative step.
        {{clip, "--seek", "28", "--step", "5"}, {"frame: 29 of 30\n"}, ""},
        {{clip, "--seek", "3", "--step", "-9223372036854775808"}, {"frame: 0 of 30\n"}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        const ProgramRun run =
            Cli(QStringList{"frame"} + row.arguments + QStringList{"--png", png});
        if (!row.said.isEmpty()) {
            EXPECT_EQ(run.code, 1);
            ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
            EXPECT_TRUE(row.said == "?" || run.errLines()[0] == "orvane-cli: " + row.said)
                << run.err.toStdString();
            EXPECT_FALSE(run.out.contains("frame:") || QFile::exists(png));
            continue;
        }
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
        for (const QString& line : row.out) {
            EXPECT_TRUE(run.out.contains(line)) << run.out.toStdString();
        }
        EXPECT_EQ(QImage(png).size(), QSize(160, 120));
    }
}

}  // namespace
}  // namespace orvane
