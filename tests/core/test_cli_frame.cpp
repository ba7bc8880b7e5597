// orvane-cli frame on a clip of the real recorder, run as its own process.
#include "frame_source.h"
#include "media/clip_recorder.h"
#include "media/frame_times.h"
#include "support/media_samples.h"
#include "support/program_run.h"
#include "support/temp_store.h"

#include <QImage>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// Frames that arrived every 40 ms from startUtc on, when it is given.
QString RecordClip(const QString& folder, int frames, std::int64_t startUtc = 0) {
    auto store = KeyStore::OpenInMemory();
    auto encoder = sim::LiveEncoder::Create(sim::SimulatedCodec::Mpeg4, QSize(160, 120));
    std::vector<Block> packed;
    for (int i = 0; i < frames; ++i) {
        packed.push_back(*encoder->Encode(sim::TestPattern(2, i, QSize(160, 120))));
    }
    ClipRecorder recorder(store, {}, 3, *BitmapInfoHeader::Parse(packed[0]));
    QString error;
    EXPECT_TRUE(recorder.StartRecording(folder, {}, error));
    std::int64_t arrival = 0;
    for (LiveFrame frame : test::LiveFrames(packed)) {
        if (startUtc != 0) {
            frame.arrivalUtcMicros = startUtc + arrival;
            frame.arrivalSteadyMicros = arrival;
            arrival += 40'000;
        }
        recorder.WriteFrame(frame);
    }
    const QString path = recorder.aviFilePath();
    recorder.StopRecording();
    return path;
}

using CliRun = test::ProgramRun;

CliRun Frame(const QStringList& arguments) {
    // As root without a login session: no runtime folder is named.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_RUNTIME_DIR");
    return test::RunProgram(ORVANE_CLI_BINARY, QStringList{"frame"} + arguments, environment);
}

// The last frame seen at or before a time typed in the clip's local time, and its time; the
// time shown for a frame (to the millisecond, its microseconds dropped) finds that frame.
TEST(CliFrame, GoesToTheFrameOfATime) {
    test::TempStore temp;
    const QString folder = QString::fromStdString(temp.folder()) + "/";
    const std::int64_t start =
        QDateTime(QDate(2026, 3, 1), QTime(23, 59, 59, 500)).toMSecsSinceEpoch() * 1000 + 250;
    const QString clip = RecordClip(folder, 30, start);
    const std::int32_t offset = QDateTime::fromMSecsSinceEpoch(start / 1000).offsetFromUtc();
    const CliRun run = Frame({clip, "--time", FrameTimeText(start + 17 * 40'000, offset)});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("frame: 17 of 30\n")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("time: 2026-03-02 00:00:00.180\n")) << run.out.toStdString();
    const CliRun before = Frame({clip, "--time", "2026-03-01 23:59:59.499"});
    EXPECT_EQ(before.code, 1);
    EXPECT_EQ(before.err,
              "orvane-cli: the clip starts at 2026-03-01 23:59:59.500, after "
              "2026-03-01 23:59:59.499\n");
    EXPECT_FALSE(before.out.contains("frame:"));
}

// A shell reads one line saying what is wrong, and no picture is written. A clip too short
// for --seek is a failure, as a clip that starts after --time is: the argument was well formed.
TEST(CliFrame, EachFaultIsSaidOnceInItsOwnWords) {
    test::TempStore temp;
    const QString folder = QString::fromStdString(temp.folder()) + "/";
    test::WriteFileBytes((folder + "text.avi").toStdString(), "not a clip at all");
    // Ten frames: 10 is where a clip played to its end stands, 11 lies beyond it.
    const QString clip = RecordClip(folder, 10);
    const QString png = folder + "x.png";
    const struct {
        QString file;
        QString seek;
        QString error;  // the one line on stderr; empty: any reason
    } rows[] = {
        {folder + "none.avi", "0", "orvane-cli: " + folder + "none.avi does not exist"},
        {folder, "0", "orvane-cli: " + folder + " is not a file"},
        {folder + "text.avi", "0", ""},
        {clip, "11", "orvane-cli: the clip has 10 frames: --seek 11 lies beyond its end (0 to 10)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE((row.file + " --seek " + row.seek).toStdString());
        const CliRun run = Frame({row.file, "--seek", row.seek, "--png", png});
        EXPECT_EQ(run.code, 1);
        ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
        if (!row.error.isEmpty()) {
            EXPECT_EQ(run.errLines()[0], row.error);
        }
        EXPECT_FALSE(run.out.contains("frame:"));
        EXPECT_FALSE(QFile::exists(png));
    }
    // From the end, stepped back: the picture it would show, saved.
    const CliRun run = Frame({clip, "--seek", "10", "--step", "-3", "--png", png});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("frame: 7 of 10")) << run.out.toStdString();
    EXPECT_EQ(QImage(png).size(), QSize(160, 120));
}

}  // namespace
}  // namespace orvane
