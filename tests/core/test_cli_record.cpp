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
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

namespace orvane {
namespace {

using test::WaitUntil;

class CliRecordTest : public testing::Test {
  protected:
    void SetUp() override { StartSite(false); }
    void StartSite(bool streamOnLogin) {
        sim::SiteSimulatorOptions options;
        options.framesPerSecond = 25;
        options.streamOnLogin = streamOnLogin;
        options.keepSentFrames = true;
        site = std::make_unique<sim::SiteSimulator>(options);
        ASSERT_TRUE(site->Listen(QHostAddress::LocalHost, 0));
        QDir().mkpath(folder);
    }

    QStringList Arguments(const QStringList& extra) const {
        return QStringList{"record",     QStringLiteral("127.0.0.1:%1").arg(site->port()),
                           "--user",     "admin",
                           "--password", "admin",
                           "--dir",      folder} +
               extra;
    }

    void Start(const QStringList& extra) {
        cli.start(ORVANE_CLI_BINARY, Arguments(extra));
        ASSERT_TRUE(cli.waitForStarted());
    }

    // Runs the simulated site's event loop until the process ends.
    bool WaitForEnd(int timeoutMs = 20000) {
        return WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, timeoutMs);
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
    static QString FfmpegWarnings(const QString& path) {
        const auto run =
            test::RunProgram("ffmpeg", {"-v", "warning", "-i", path, "-f", "null", "-"});
        return run.err + run.out;
    }

    QString RecordingPath() {
        QString path;
        WaitUntil([&] {
            output += QString::fromUtf8(cli.readAllStandardOutput());
            for (const QString& line : output.split('\n')) {
                if (line.startsWith("recording: ")) {
                    path = line.mid(11).trimmed();
                }
            }
            return !path.isEmpty() || cli.state() == QProcess::NotRunning;
        });
        return path;
    }

    std::vector<ClipRecord> Index() {
        auto opened = KeyStore::Open(temp.path());
        std::vector<ClipRecord> records;
        if (opened.store) {
            ClipIndex(*opened.store, {}).LoadClipRecords(records);
        }
        return records;
    }

    test::TempStore temp;  // ORVANE_REGISTRY for the child too
    QString folder = QString::fromStdString(temp.folder()) + "/clips/";
    std::unique_ptr<sim::SiteSimulator> site;
    QProcess cli;
    QString output;
};

TEST_F(CliRecordTest, RecordsForTheGivenTimeAndNamesTheClip) {
    Start({"--channel", "3", "--seconds", "2"});
    ASSERT_TRUE(WaitForEnd());
    output += QString::fromUtf8(cli.readAllStandardOutput());
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const QStringList clips = output.split('\n').filter(QRegularExpression("^clip: "));
    ASSERT_EQ(clips.size(), 1) << output.toStdString();
    const std::string path = clips[0].mid(6).trimmed().toStdString();
    const auto probed = test::ProbeVideo(path);
    ASSERT_TRUE(probed.opened);
    EXPECT_GE(probed.packetKeys.size(), 30u);
    // Any player takes the clip to last as long as its frames took to arrive: the span of
    // their times and one mean interval more.
    const auto riff = test::RiffFile::Load(path);
    ASSERT_TRUE(riff);
    const auto times = WrittenTimes(*riff);
    ASSERT_EQ(times.size(), probed.packetKeys.size());
    const double frames = static_cast<double>(times.size());
    const double recorded =
        static_cast<double>(times.back() - times.front()) / 1e6 * frames / (frames - 1);
    EXPECT_NEAR(probed.durationSeconds, recorded, 0.05 * recorded);
    // The times are padding to every other reader, with the legacy index and without it.
    EXPECT_EQ(FfmpegWarnings(QString::fromStdString(path)), "");
    std::string bytes = riff->bytes();
    bytes.replace(riff->Find("idx1")->offset, 4, "JUNK");
    const std::string withoutIdx1 = temp.File("without-idx1.avi");
    test::WriteFileBytes(withoutIdx1, bytes);
    EXPECT_EQ(FfmpegWarnings(QString::fromStdString(withoutIdx1)), "");
    const auto entries = Index();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].location, "Gate");
    EXPECT_EQ(QString::fromStdString(path), entries[0].path + entries[0].fileName);
}

// SIGTERM and SIGHUP end the clip as cleanly as the timer. A site that drops the link (0)
// leaves the clip kept and named, but the run fails with the reason, so that a script does not
// take it for the whole recording. The site streams every channel at login: the clips are
// still of the channel asked for.
TEST_F(CliRecordTest, EachEndBeforeTheTimeLeavesAWholeClipOfTheChannelAskedFor) {
    StartSite(true);
    for (const int signal : {SIGTERM, SIGHUP, 0}) {
        SCOPED_TRACE(signal);
        output.clear();
        Start({"--channel", "7", "--seconds", "600"});
        const QString path = RecordingPath();
        ASSERT_FALSE(path.isEmpty()) << output.toStdString();
        test::Pump(1500);
        if (signal != 0) {
            ::kill(static_cast<pid_t>(cli.processId()), signal);
        } else {
            site->DropLinks();
        }
        ASSERT_TRUE(WaitForEnd());
        EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(cli.exitCode(), signal == 0 ? 1 : 0);
        output += QString::fromUtf8(cli.readAllStandardOutput());
        EXPECT_TRUE(output.endsWith("\nclip: " + path + "\n")) << output.toStdString();
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        EXPECT_TRUE(signal != 0 ||
                    QRegularExpression(
                        "^orvane-cli: the site closed the connection after \\d+\\.\\d of 600 s\n$")
                        .match(err)
                        .hasMatch())
            << err.toStdString();
        const auto riff = test::RiffFile::Load(path.toStdString());
        ASSERT_TRUE(riff);
        EXPECT_EQ(riff->FindAll("idx1").size(), 1u);  // the orderly end wrote it
        EXPECT_GE(test::ProbeVideo(path.toStdString()).packetKeys.size(), 20u);
        test::Pump(1100);  // the next clip gets a name of its own second
    }
    const auto entries = Index();
    ASSERT_EQ(entries.size(), 3u);
    for (const ClipRecord& entry : entries) {
        EXPECT_EQ(entry.channel, 7);
        EXPECT_EQ(entry.location, "Yard");
    }
}

TEST_F(CliRecordTest, AKilledRecordingStillPlaysAndIsListed) {
    Start({"--channel", "3", "--seconds", "600"});
    const QString path = RecordingPath();
    ASSERT_FALSE(path.isEmpty());
    test::Pump(3000);
    cli.kill();  // SIGKILL: nothing of the program runs any more
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(cli.exitStatus(), QProcess::CrashExit);

    const auto probed = test::ProbeVideo(path.toStdString());
    ASSERT_TRUE(probed.opened);
    // Three seconds at 25 frames per second; at least everything up to the last commit.
    EXPECT_GE(probed.packetKeys.size(), 40u);
    // The times of exactly the frames committed, read back as written.
    const auto riff = test::RiffFile::Load(path.toStdString());
    ASSERT_TRUE(riff);
    const auto times = WrittenTimes(*riff);
    EXPECT_EQ(test::FrameTimesIn(*riff).size(), riff->FindAll("ix00").size());
    EXPECT_GE(times.size(), 40u);
    QString error;
    const auto clip = ClipPackets::Open(path, error);
    ASSERT_TRUE(clip) << error.toStdString();
    const ClipTimeline& timeline = clip->timeline();
    ASSERT_EQ(timeline.recordedCount(), static_cast<std::int64_t>(times.size()));
    for (std::size_t i = 0; i < times.size(); ++i) {
        ASSERT_EQ(timeline.TimeOf(static_cast<std::int64_t>(i)), times[i]) << i;
    }
    EXPECT_EQ(FfmpegWarnings(path), "");
    // Without its index, or cut off before the first: every reader scans it, and finds the
    // same times.
    std::string bytes = riff->bytes();
    const std::string unindexed = temp.File("unindexed.avi");
    bytes.replace(riff->Find("indx")->offset + 12, 4, std::string(4, '\0'));
    test::WriteFileBytes(unindexed, bytes);
    const std::string uncommitted = temp.File("uncommitted.avi");
    test::WriteFileBytes(uncommitted, bytes.substr(0, riff->Find("JUNK")->offset));
    for (const std::string& cut : {unindexed, uncommitted}) {
        EXPECT_EQ(FfmpegWarnings(QString::fromStdString(cut)), "") << cut;
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
}

// A volume of its own that runs full and gets room back while orvane-cli records into it:
// a small tmpfs in a mount namespace of the child's (root's, or a user namespace's), or where
// neither can be made, the child's file size limit, lowered and raised from outside.
class FillingVolume {
  public:
    enum class Kind { Tmpfs, FileSizeLimit };

    // The way this machine allows; nothing when none does.
    static std::optional<QStringList> NamespaceCommand() {
        const QStringList unshare =
            ::geteuid() == 0 ? QStringList{"unshare", "--mount"} : QStringList{"unshare", "-Urm"};
        return QProcess::execute(unshare[0], unshare.mid(1) + QStringList{"true"}) == 0
                   ? std::optional(unshare)
                   : std::nullopt;
    }

    static constexpr qint64 kTmpfsBytes = 8 << 20;

    // folder ends in a separator. ORVANE_TEST_VOLUME=limit tries the file size limit on a
    // machine that allows a namespace too.
    FillingVolume(QProcess& cli, QString folder) : cli_(cli), folder_(std::move(folder)) {
        if (qEnvironmentVariable("ORVANE_TEST_VOLUME") != "limit") {
            unshare_ = NamespaceCommand();
        }
    }

    Kind kind() const { return unshare_ ? Kind::Tmpfs : Kind::FileSizeLimit; }

    // Starts orvane-cli with arguments on the volume. The tmpfs goes with the namespace, so
    // the clips are copied out once the recording is over.
    bool Start(const QStringList& arguments) {
        if (unshare_) {
            cli_.start(unshare_->first(),
                       unshare_->mid(1) +
                           QStringList{"--", "sh", "-c",
                                       "mount -t tmpfs -o size=8m tmpfs \"$0\" || exit 9; "
                                       "\"$@\"; code=$?; cp -p \"$0\"*.avi \"${0%/}.out/\"; "
                                       "exit $code",
                                       folder_, ORVANE_CLI_BINARY} +
                           arguments);
            QDir().mkpath(Kept(""));
        } else {
            // The limit ends no process: the write fails with EFBIG, as on a full disk.
            std::signal(SIGXFSZ, SIG_IGN);
            cli_.start(ORVANE_CLI_BINARY, arguments);
        }
        return cli_.waitForStarted();
    }

    // What the child sees of its folder: through its root while the namespace lives.
    QString Seen(const QString& name) const {
        return unshare_
                   ? QStringLiteral("/proc/%1/root%2%3").arg(cli_.processId()).arg(folder_, name)
                   : folder_ + name;
    }
    // Where the clips are once the child has ended.
    QString Kept(const QString& name) const {
        return (unshare_ ? folder_.chopped(1) + ".out/" : folder_) + QFileInfo(name).fileName();
    }

    bool Fill(const QString& clip) {
        if (!unshare_) {
            return Limit(QString::number(QFileInfo(clip).size()) + ":");
        }
        // Only ever the small tmpfs, never the disk under it, and never more than it holds.
        struct statfs volume {};
        if (::statfs(Seen("").toLocal8Bit().constData(), &volume) != 0 ||
            volume.f_type != TMPFS_MAGIC) {
            ADD_FAILURE() << "the child's folder is no tmpfs";
            return false;
        }
        QFile filler(Seen("filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            return false;
        }
        const QByteArray chunk(64 * 1024, 'f');
        while (filler.size() < kTmpfsBytes && filler.write(chunk) == chunk.size()) {
        }
        return filler.size() > 0 && filler.size() < kTmpfsBytes;
    }
    bool MakeRoom() { return unshare_ ? QFile::remove(Seen("filler")) : Limit("unlimited:"); }

  private:
    // The soft limit only: raising it back needs no privilege.
    bool Limit(const QString& bytes) {
        return QProcess::execute("prlimit", {QStringLiteral("--pid=%1").arg(cli_.processId()),
                                             "--fsize=" + bytes}) == 0;
    }

    QProcess& cli_;
    QString folder_;
    std::optional<QStringList> unshare_;
};

// The volume runs full while a recording writes into it, and room comes back: the recording
// goes on, the clip goes on from a key frame, every frame in it is byte for byte one the
// site sent, in order, and the count reported is the frames in the file.
TEST_F(CliRecordTest, AVolumeThatRunsFullAndGetsRoomBackLeavesOneClipThatGoesOnAtAKeyFrame) {
    FillingVolume volume(cli, folder);
    // Never skipped: a machine that allows neither way fails here.
    if (volume.kind() == FillingVolume::Kind::FileSizeLimit) {
        ASSERT_EQ(QProcess::execute("prlimit", {"--version"}), 0)
            << "no mount namespace, and no prlimit: nothing to fill a volume with";
    }
    ASSERT_TRUE(volume.Start(Arguments({"--channel", "3", "--seconds", "6"})));
    const QString path = RecordingPath();
    ASSERT_FALSE(path.isEmpty()) << output.toStdString()
                                 << cli.readAllStandardError().toStdString();
    test::Pump(1000);
    ASSERT_TRUE(volume.Fill(path));
    QString errors;
    ASSERT_TRUE(WaitUntil([&] {
        errors += QString::fromUtf8(cli.readAllStandardError());
        return errors.contains("orvane-cli: Recording cannot write to " + path + ": ");
    })) << errors.toStdString();
    test::Pump(1000);  // more than a group of pictures goes by
    ASSERT_TRUE(volume.MakeRoom());
    ASSERT_TRUE(WaitForEnd());
    output += QString::fromUtf8(cli.readAllStandardOutput());
    errors += QString::fromUtf8(cli.readAllStandardError());
    ASSERT_EQ(cli.exitCode(), 0) << errors.toStdString();
    EXPECT_EQ(errors.count("Recording cannot write"), 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains("orvane-cli: writing " + path + " again\n"))
        << errors.toStdString();

    // Each sample is the next frame sent, or after the one gap, a key frame sent later.
    const std::string avi = volume.Kept(path).toStdString();
    const auto riff = test::RiffFile::Load(avi);
    ASSERT_TRUE(riff);
    const auto samples = riff->FindAll("00dc");
    const auto sent = test::LiveFrames(site->sentFrames(1));
    const auto probed = test::ProbeVideo(avi);
    ASSERT_EQ(probed.packetKeys.size(), samples.size());
    std::size_t at = 0;
    std::vector<std::size_t> gapsAt;  // sample index
    for (std::size_t i = 0; i < samples.size(); ++i) {
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
        ++at;
    }
    ASSERT_EQ(gapsAt.size(), 1u);
    EXPECT_GT(samples.size(), gapsAt[0] + 12);  // it went on for a group of pictures at least
    const QRegularExpression recorded("recorded: (\\d+) frames");
    EXPECT_EQ(recorded.match(output).captured(1).toULongLong(), samples.size())
        << output.toStdString();
}

// Each reason once, in one line: the library's warning behind it goes to the log only.
TEST_F(CliRecordTest, ARecordingThatCannotStartFailsWithTheReasonOnce) {
    const QString gone = folder + "gone/";
    const std::vector<std::pair<QStringList, QRegularExpression>> cases{
        {{"--channel", "9"}, QRegularExpression("^the site has no channel 9$")},
        {{"--channel", "3", "--dir", gone},
         QRegularExpression("^Cannot record into " + QRegularExpression::escape(gone) +
                            "\\d+\\.avi: No such file or directory$")}};
    for (const auto& [arguments, reason] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        Start(arguments + QStringList{"--seconds", "2"});
        ASSERT_TRUE(WaitForEnd());
        EXPECT_EQ(cli.exitCode(), 1);
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        EXPECT_TRUE(reason.match(err.trimmed().remove(0, 12)).hasMatch() &&
                    err.startsWith("orvane-cli: ") && err.count('\n') == 1)
            << err.toStdString();
    }
    EXPECT_TRUE(Index().empty());
}

}  // namespace
}  // namespace orvane
