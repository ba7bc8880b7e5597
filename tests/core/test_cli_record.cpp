// orvane-cli record against the simulated site, run as the separate process it is, so it
// can be stopped and killed the ways a recording process ends.
#include "site_simulator.h"
#include "store/clip_index.h"
#include "store/key_store.h"
#include "support/event_loop.h"
#include "support/independent_readers.h"
#include "support/temp_store.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

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
        site = std::make_unique<sim::SiteSimulator>(options);
        ASSERT_TRUE(site->Listen(QHostAddress::LocalHost, 0));
        QDir().mkpath(folder);
    }

    void Start(const QStringList& extra) {
        QStringList arguments{"record",     QStringLiteral("127.0.0.1:%1").arg(site->port()),
                              "--user",     "admin",
                              "--password", "admin",
                              "--dir",      folder};
        cli.start(ORVANE_CLI_BINARY, arguments + extra);
        ASSERT_TRUE(cli.waitForStarted());
    }

    // Runs the simulated site's event loop until the process ends.
    bool WaitForEnd(int timeoutMs = 20000) {
        return WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, timeoutMs);
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
    const auto entries = Index();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].location, "Gate");
    EXPECT_EQ(QString::fromStdString(path), entries[0].path + entries[0].fileName);
}

TEST_F(CliRecordTest, TermAndHangupEndTheClipAsCleanlyAsTheTimer) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        output.clear();
        Start({"--channel", "7", "--seconds", "600"});
        const QString path = RecordingPath();
        ASSERT_FALSE(path.isEmpty()) << output.toStdString();
        test::Pump(1500);
        ::kill(static_cast<pid_t>(cli.processId()), signal);
        ASSERT_TRUE(WaitForEnd());
        EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(cli.exitCode(), 0);
        const auto riff = test::RiffFile::Load(path.toStdString());
        ASSERT_TRUE(riff);
        EXPECT_EQ(riff->FindAll("idx1").size(), 1u);  // the orderly end wrote it
        EXPECT_GE(test::ProbeVideo(path.toStdString()).packetKeys.size(), 20u);
        test::Pump(1100);  // the next clip gets a name of its own second
    }
    EXPECT_EQ(Index().size(), 2u);
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
    const auto entries = Index();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path + entries[0].fileName, path);
    EXPECT_EQ(entries[0].endTime.size(), 5);
}

// A site that streams every channel at login: the clip is still the channel asked for.
TEST_F(CliRecordTest, OnlyTheChannelAskedForIsRecorded) {
    StartSite(true);
    Start({"--channel", "7", "--seconds", "1"});
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const auto entries = Index();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].channel, 7);
    EXPECT_EQ(entries[0].location, "Yard");
}

TEST_F(CliRecordTest, AChannelTheSiteDoesNotHaveFailsWithTheReason) {
    Start({"--channel", "9", "--seconds", "2"});
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_TRUE(cli.readAllStandardError().contains("the site has no channel 9"));
    EXPECT_TRUE(Index().empty());
}

}  // namespace
}  // namespace orvane
