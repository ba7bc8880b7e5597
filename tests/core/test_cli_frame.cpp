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

// Frames that arrived every 40 ms from startUtc on.
QString RecordClip(const QString& folder, int frames, std::int64_t startUtc) {
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
        frame.arrivalUtcMicros = startUtc + arrival;
        frame.arrivalSteadyMicros = arrival;
        arrival += 40'000;
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
    // 30 frames: 30 is where a clip played to its end stands, 31 lies beyond it.
    const QString clip = RecordClip(folder, 30, start);
    const QString png = folder + "x.png";
    const struct {
        QStringList arguments;
        QStringList out;  // what stdout holds when it works
        QString said;     // else the one line on stderr, "?" any one
    } rows[] = {
        {{folder + "none.avi", "--seek", "0"},
         {},
         "orvane-cli: " + folder + "none.avi does not exist"},
        {{folder, "--seek", "0"}, {}, "orvane-cli: " + folder + " is not a file"},
        {{folder + "text.avi", "--seek", "0"}, {}, "?"},
        {{clip, "--seek", "31"},
         {},
         "orvane-cli: the clip has 30 frames: --seek 31 lies beyond its end (0 to 30)"},
        {{clip, "--time", "2026-03-01 23:59:59.499"},
         {},
         "orvane-cli: the clip starts at 2026-03-01 23:59:59.500, after 2026-03-01 23:59:59.499"},
        {{clip, "--time", FrameTimeText(start + 17 * 40'000, offset)},
         {"frame: 17 of 30\n", "time: 2026-03-02 00:00:00.180\n"},
         ""},
        {{clip, "--seek", "30", "--step", "-3"}, {"frame: 27 of 30\n"}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        const CliRun run = Frame(row.arguments + QStringList{"--png", png});
        if (!row.said.isEmpty()) {
            EXPECT_EQ(run.code, 1);
            ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
            EXPECT_TRUE(row.said == "?" || run.errLines()[0] == row.said) << run.err.toStdString();
            EXPECT_FALSE(run.out.contains("frame:"));
            EXPECT_FALSE(QFile::exists(png));
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
