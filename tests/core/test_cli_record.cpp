// orvane-cli record against the simulated site, run as the separate process it is, so it
// can be stopped and killed the ways a recording process ends.
#include "media/clip_packets.h"
#include "site_simulator.h"
#include "store/clip_index.h"
#include "store/key_store.h"
#include "support/event_loop.h"
#include "support/independent_readers.h"
#include "support/media_samples.h"
#include "support/program_run.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace orvane {
namespace {

using test::WaitUntil;

class CliRecordTest : public testing::Test {
  protected:
    void SetUp() override { StartSite(false); }
    void StartSite(bool streamOnLogin, int frameLimit = 0) {
        sim::SiteSimulatorOptions options;
        options.framesPerSecond = 25;
        options.streamOnLogin = streamOnLogin;
        options.frameLimit = frameLimit;
        options.keepSentFrames = true;
        site = std::make_unique<sim::SiteSimulator>(options);
        ASSERT_TRUE(site->Listen(QHostAddress::LocalHost, 0));
        QDir().mkpath(folder);
    }

    // Starts a recording; the clip it names on stdout (with --json, which prints only at the
    // end, the clip new in the folder), or nothing once it has ended without.
    QString Start(const QStringList& extra) {
        output.clear();
        const QStringList before = QDir(folder).entryList({"*.avi"});
        // An option is given once: a --dir of the test's own replaces the folder.
        const QStringList dir =
            extra.contains("--dir") ? QStringList{} : QStringList{"--dir", folder};
        cli.start(ORVANE_CLI_BINARY,
                  QStringList{"record", QStringLiteral("127.0.0.1:%1").arg(site->port()), "--user",
                              "admin", "--password", "admin"} +
                      dir + extra);
        static const QRegularExpression named("^recording: (.+)\n",
                                              QRegularExpression::MultilineOption);
        QString path;
        WaitUntil([&] {
            output += QString::fromUtf8(cli.readAllStandardOutput());
            path = named.match(output).captured(1);
            for (const QString& name : QDir(folder).entryList({"*.avi"})) {
                if (extra.contains("--json") && !before.contains(name)) {
                    path = folder + name;
                }
            }
            return !path.isEmpty() || cli.state() == QProcess::NotRunning;
        });
        return path;
    }

    // Runs the simulated site's event loop until the process ends.
    bool WaitForEnd() {
        const bool ended = WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, 20000);
        output += QString::fromUtf8(cli.readAllStandardOutput());
        return ended;
    }

    // Every frame time the clip holds, in file order; each set must stand just before the
    // index chunk of the same samples, and follow on from the one before.
    static std::vector<std::int64_t> WrittenTimes(const test::RiffFile& riff) {
        std::vector<std::int64_t> times;
        for (const test::FrameTimesSeen& seen : test::FrameTimesIn(riff)) {
            EXPECT_EQ(seen.firstSample, times.size());
            EXPECT_EQ(seen.nextIndexEntries, static_cast<std::int64_t>(seen.times.size()));
            times.insert(times.end(), seen.times.begin(), seen.times.end());
        }
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
        return times;
    }

    // What ffmpeg says while it reads and decodes the whole file: nothing, for a clean clip.
    static std::string FfmpegWarnings(const std::string& path) {
        const auto run = test::RunProgram(
            "ffmpeg", {"-v", "warning", "-i", QString::fromStdString(path), "-f", "null", "-"});
        return (run.err + run.out).toStdString();
    }

    std::vector<ClipRecord> Index() {
        auto store = KeyStore::Open(temp.path()).store;
        std::vector<ClipRecord> records;
        ClipIndex(*store, {}).LoadClipRecords(records);
        return records;
    }
    QString Errors() { return QString::fromUtf8(cli.readAllStandardError()); }

    test::TempStore temp;  // ORVANE_REGISTRY for the child too
    QString folder = QString::fromStdString(temp.folder()) + "/clips/";
    std::unique_ptr<sim::SiteSimulator> site;
    QProcess cli;
    QString output;
};

// The timer, SIGTERM and SIGHUP end the clip alike, its legacy index written. A site that drops
// the link (0) leaves the clip kept and named, but the run fails with the reason, so that a
// script does not take it for the whole recording. After the timer's clip, the site streams
// every channel at login: the clips are still of the channel asked for. Any player takes the
// timer's clip to last as long as its frames took to arrive, and reads the times as padding.
TEST_F(CliRecordTest, EachEndLeavesAWholeClipOfTheChannelAskedFor) {
    const QRegularExpression dropped(
        "^orvane-cli: the site closed the connection after \\d+\\.\\d of 600 s\n$");
    std::vector<QString> paths;
    for (const int signal : {SIGALRM, SIGTERM, SIGHUP, 0}) {
        SCOPED_TRACE(signal == SIGALRM ? "the time is up" : std::to_string(signal));
        if (signal == SIGTERM) {
            StartSite(true);
        }
        const QString path =
            Start({"--channel", "7", "--seconds", signal == SIGALRM ? "2" : "600"});
        ASSERT_FALSE(path.isEmpty()) << output.toStdString();
        paths.push_back(path);
        test::Pump(signal == SIGALRM ? 0 : 1500);
        if (signal == 0) {
            site->DropLinks();
        } else if (signal != SIGALRM) {
            ::kill(static_cast<pid_t>(cli.processId()), signal);
        }
        ASSERT_TRUE(WaitForEnd());
        EXPECT_TRUE(cli.exitStatus() == QProcess::NormalExit &&
                    cli.exitCode() == (signal == 0 ? 1 : 0));
        EXPECT_TRUE(output.endsWith("\nclip: " + path + "\n")) << output.toStdString();
        const QString err = Errors();
        EXPECT_TRUE(signal != 0 || dropped.match(err).hasMatch()) << err.toStdString();
        const auto riff = test::RiffFile::Load(path.toStdString());
        ASSERT_TRUE(riff);
        EXPECT_EQ(riff->FindAll("idx1").size(), 1u);  // the orderly end wrote it
        const auto probed = test::ProbeVideo(path.toStdString());
        const auto times = WrittenTimes(*riff);
        ASSERT_GE(times.size(), 20u);
        ASSERT_EQ(times.size(), probed.packetKeys.size());
        test::Pump(1100);  // the next clip gets a name of its own second
        if (signal != SIGALRM) {
            continue;
        }
        const double frames = static_cast<double>(times.size());
        const double recorded =
            static_cast<double>(times.back() - times.front()) / 1e6 * frames / (frames - 1);
        EXPECT_NEAR(probed.durationSeconds, recorded, 0.05 * recorded);
        // The times are padding to every other reader, with the legacy index and without it.
        EXPECT_EQ(FfmpegWarnings(path.toStdString()), "");
        std::string bytes = riff->bytes();
        bytes.replace(riff->Find("idx1")->offset, 4, "JUNK");
        const QString withoutIdx1 = path + ".without-idx1.avi";
        test::WriteFileBytes(withoutIdx1.toStdString(), bytes);
        EXPECT_EQ(FfmpegWarnings(withoutIdx1.toStdString()), "");
        QFile::remove(withoutIdx1);
    }
    const auto entries = Index();
    ASSERT_EQ(entries.size(), paths.size());
    for (const ClipRecord& entry : entries) {
        EXPECT_EQ(entry.channel, 7);
        EXPECT_EQ(entry.location, "Yard");
        EXPECT_NE(std::find(paths.begin(), paths.end(), entry.path + entry.fileName), paths.end());
    }
}

TEST_F(CliRecordTest, AKilledRecordingStillPlaysAndIsListed) {
    const QString path = Start({"--channel", "3", "--seconds", "600"});
    ASSERT_FALSE(path.isEmpty());
    test::Pump(3000);
    cli.kill();  // SIGKILL: nothing of the program runs any more
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(cli.exitStatus(), QProcess::CrashExit);
    // 3 s at 25 frames a second: at least all up to the last commit, times read back as written.
    EXPECT_GE(test::ProbeVideo(path.toStdString()).packetKeys.size(), 40u);
    const auto riff = test::RiffFile::Load(path.toStdString());
    ASSERT_TRUE(riff);
    const auto times = WrittenTimes(*riff);
    EXPECT_EQ(test::FrameTimesIn(*riff).size(), riff->FindAll("ix00").size());
    EXPECT_GE(times.size(), 40u);
    QString error;
    const auto clip = ClipPackets::Open(path, error);
    ASSERT_TRUE(clip) << error.toStdString();
    ASSERT_EQ(clip->timeline().recordedCount(), static_cast<std::int64_t>(times.size()));
    for (std::size_t i = 0; i < times.size(); ++i) {
        ASSERT_EQ(clip->timeline().TimeOf(static_cast<std::int64_t>(i)), times[i]) << i;
    }
    // Without its index, or cut off before the first: every reader scans it, finding those times.
    std::string bytes = riff->bytes();
    const std::string unindexed = temp.File("unindexed.avi");
    bytes.replace(riff->Find("indx")->offset + 12, 4, std::string(4, '\0'));
    test::WriteFileBytes(unindexed, bytes);
    const std::string uncommitted = temp.File("uncommitted.avi");
    test::WriteFileBytes(uncommitted, bytes.substr(0, riff->Find("JUNK")->offset));
    for (const std::string& file : {path.toStdString(), unindexed, uncommitted}) {
        EXPECT_EQ(FfmpegWarnings(file), "") << file;
    }
    const auto scanned = ClipPackets::Open(QString::fromStdString(unindexed), error);
    ASSERT_TRUE(scanned) << error.toStdString();
    EXPECT_TRUE(scanned->scanned());
    ASSERT_EQ(scanned->timeline().recordedCount(), static_cast<std::int64_t>(times.size()));
    EXPECT_EQ(scanned->timeline().TimeOf(0), times[0]);
    EXPECT_EQ(scanned->timeline().TimeOf(scanned->timeline().recordedCount() - 1), times.back());
    const auto entries = Index();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path + entries[0].fileName, path);
    EXPECT_EQ(entries[0].endTime.size(), 5);
    // The entry names the site, and so does the manifest of an export of the clip.
    EXPECT_EQ(entries[0].site, QStringLiteral("127.0.0.1:%1").arg(site->port()));
    const auto exported = test::RunProgram(
        ORVANE_CLI_BINARY, {"export", path, "--out", folder + "killed.mp4", "--json"});
    EXPECT_EQ(QJsonDocument::fromJson(exported.out.toUtf8())["site"].toString(), entries[0].site)
        << exported.err.toStdString();
}

// The volume runs full while a recording writes into it, and room comes back: the clip goes on
// from a key frame, every frame in it byte for byte one the site sent, in order, and the count
// reported is the frames in the file. The child's soft file size limit stands in for the volume.
TEST_F(CliRecordTest, AVolumeThatRunsFullAndGetsRoomBackLeavesOneClipThatGoesOnAtAKeyFrame) {
    const auto limit = [&](const QString& bytes) {
        return QProcess::execute("prlimit", {QStringLiteral("--pid=%1").arg(cli.processId()),
                                             "--fsize=" + bytes + ":"}) == 0;
    };
    std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG, as on a full disk
    const QString path = Start({"--channel", "3", "--seconds", "6"});
    ASSERT_FALSE(path.isEmpty()) << output.toStdString() << Errors().toStdString();
    test::Pump(1000);
    ASSERT_TRUE(limit(QString::number(QFileInfo(path).size())));
    QString errors;
    ASSERT_TRUE(WaitUntil([&] {
        errors += Errors();
        return errors.contains("orvane-cli: Recording cannot write to " + path + ": ");
    })) << errors.toStdString();
    test::Pump(1000);  // more than a group of pictures goes by
    ASSERT_TRUE(limit("unlimited"));
    ASSERT_TRUE(WaitForEnd());
    errors += Errors();
    ASSERT_EQ(cli.exitCode(), 0) << errors.toStdString();
    EXPECT_EQ(errors.count("Recording cannot write"), 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains("orvane-cli: writing " + path + " again\n"))
        << errors.toStdString();
    // Each sample is the next frame sent, or after the one gap, a key frame sent later.
    const auto riff = test::RiffFile::Load(path.toStdString());
    ASSERT_TRUE(riff);
    const auto samples = riff->FindAll("00dc");
    const auto sent = test::LiveFrames(site->sentFrames(1));
    const auto probed = test::ProbeVideo(path.toStdString());
    ASSERT_EQ(probed.packetKeys.size(), samples.size());
    std::size_t at = 0;
    std::vector<std::size_t> gapsAt;  // sample index
    for (std::size_t i = 0; i < samples.size(); ++i, ++at) {
        const std::string sample = riff->Data(*samples[i]);
        const std::size_t expected = at;
        while (at < sent.size() &&
               sample != std::string(sent[at].image().begin(), sent[at].image().end())) {
            ++at;
        }
        ASSERT_LT(at, sent.size()) << "sample " << i << " is no frame sent after the last";
        if (i > 0 && at != expected) {
            gapsAt.push_back(i);
            EXPECT_TRUE(probed.packetKeys[i]) << i;
        }
    }
    ASSERT_EQ(gapsAt.size(), 1u);
    EXPECT_GT(samples.size(), gapsAt[0] + 12);  // it went on for a group of pictures at least
    EXPECT_EQ(QRegularExpression("recorded: (\\d+) frames").match(output).captured(1).toULongLong(),
              samples.size())
        << output.toStdString();
}

// A camera that stops sending: the recording keeps what came, and one line says how long the
// channel was silent at its end, as the --json object's silentSeconds does. While the link
// stays up the run takes its time and exits 0; when the link is lost after the silence, the
// silence is told as well as the loss.
TEST_F(CliRecordTest, ACameraThatStopsSendingIsToldOnSuccessOrLoss) {
    const QRegularExpression silent(
        "^orvane-cli: channel 3 sent no frame for the last (\\d+\\.\\d) s of the recording\n");
    for (const bool linkLost : {false, true}) {
        SCOPED_TRACE(linkLost ? "link lost" : "link up");
        StartSite(false, 12);  // half a second of frames
        ASSERT_FALSE(Start({"--channel", "3", "--seconds", "8", "--json"}).isEmpty());
        if (linkLost) {
            test::Pump(6500);
            site->DropLinks();
        }
        ASSERT_TRUE(WaitForEnd());
        EXPECT_EQ(cli.exitCode(), linkLost ? 1 : 0) << output.toStdString();
        const QString err = Errors();
        const auto said = silent.match(err);
        EXPECT_TRUE(said.hasMatch()) << err.toStdString();
        EXPECT_EQ(err.count('\n'), linkLost ? 2 : 1) << err.toStdString();
        const QJsonObject object = QJsonDocument::fromJson(output.toUtf8()).object();
        EXPECT_EQ(object["silentSeconds"].toDouble(), said.captured(1).toDouble())
            << output.toStdString();
    }
}

// The clip's file, or its whole folder, is removed while recording: that clip is neither named
// nor counted, and the recording goes on at once in a new clip, in the record folder while it
// is there, else in the Orvane folder of the videos folder (told once); the run succeeds.
TEST_F(CliRecordTest, ARemovedClipGoesOnInANewClipAndIsNeitherNamedNorCounted) {
    const QString home = QString::fromStdString(temp.File("home"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    cli.setProcessEnvironment(env);
    for (const bool wholeFolder : {false, true}) {
        SCOPED_TRACE(wholeFolder ? "folder removed" : "file removed");
        QDir().mkpath(folder);
        const QString lost = Start({"--channel", "3", "--seconds", "5"});
        ASSERT_FALSE(lost.isEmpty()) << output.toStdString();
        test::Pump(1500);
        ASSERT_TRUE(wholeFolder ? QDir(folder).removeRecursively() : QFile::remove(lost));
        ASSERT_TRUE(WaitForEnd());
        const QString err = Errors();
        EXPECT_EQ(cli.exitCode(), 0) << err.toStdString();
        const QString next = QRegularExpression("\nrecording: (.+)\n").match(output).captured(1);
        ASSERT_FALSE(next.isEmpty()) << output.toStdString();
        EXPECT_EQ(QFileInfo(next).absolutePath() + "/",
                  wholeFolder ? home + "/Videos/Orvane/" : folder);
        EXPECT_TRUE(err.startsWith("orvane-cli: Recording cannot write to " + lost +
                                   ": The file or its folder has been removed.\n"))
            << err.toStdString();
        EXPECT_EQ(err.count("is missing; clips go to " + home + "/Videos/Orvane/"),
                  wholeFolder ? 1 : 0)
            << err.toStdString();
        EXPECT_TRUE(output.endsWith("\nclip: " + next + "\n")) << output.toStdString();
        EXPECT_EQ(output.count("clip: "), 1) << output.toStdString();
        const auto riff = test::RiffFile::Load(next.toStdString());
        ASSERT_TRUE(riff);
        const auto recorded =
            QRegularExpression("\nrecorded: (\\d+) frames, (\\d+) bytes").match(output);
        EXPECT_EQ(recorded.captured(1).toULongLong(), riff->FindAll("00dc").size())
            << output.toStdString();
        EXPECT_EQ(recorded.captured(2).toLongLong(), QFileInfo(next).size());
        EXPECT_FALSE(QFileInfo::exists(lost.chopped(3) + "img"));
        const auto entries = Index();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].path + entries[0].fileName, next);
        QDir(QFileInfo(next).absolutePath()).removeRecursively();
        auto store = KeyStore::Open(temp.path()).store;
        ClipIndex(*store, {}).DeleteClipRecord(entries[0].fileName);
        test::Pump(1100);  // the next clip gets a name of its own second
    }
    // Removed after the camera's last frame: found only as the clip closes, and still neither
    // named nor counted; with nothing left, the run fails and says why.
    StartSite(false, 12);  // half a second of frames
    QDir().mkpath(folder);
    const QString lost = Start({"--channel", "3", "--seconds", "3"});
    ASSERT_FALSE(lost.isEmpty()) << output.toStdString();
    test::Pump(1500);
    ASSERT_TRUE(QFile::remove(lost));
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_FALSE(output.contains("clip: ")) << output.toStdString();
    EXPECT_TRUE(
        Errors().endsWith(" was removed while recording\norvane-cli: no frames recorded "
                          "(the file or its folder has been removed)\n"))
        << Errors().toStdString();
}

// The reason once, in one line: the library's warning behind it goes to the log only.
TEST_F(CliRecordTest, ARecordingThatCannotStartFailsWithTheReasonOnce) {
    const QString gone = folder + "gone/";
    EXPECT_TRUE(Start({"--channel", "3", "--seconds", "2", "--dir", gone}).isEmpty());
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(cli.exitCode(), 1);
    const QString err = Errors();
    EXPECT_TRUE(QRegularExpression("^orvane-cli: Cannot record into " +
                                   QRegularExpression::escape(gone) +
                                   "\\d+\\.avi: No such file or directory\n$")
                    .match(err)
                    .hasMatch())
        << err.toStdString();
    EXPECT_TRUE(Index().empty());
}

}  // namespace
}  // namespace orvane
