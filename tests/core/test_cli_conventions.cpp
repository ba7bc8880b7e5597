// The command-line conventions every Orvane program keeps, checked on the built programs run as
// the child processes they are: --version and --help, usage errors, orvane-cli's --json objects.
#include "common/version.h"
#include "site_simulator.h"
#include "support/event_loop.h"
#include "support/pending_listener.h"
#include "support/program_run.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

namespace orvane {
namespace {

using test::ProgramRun;
using test::RunProgram;
using test::WaitUntil;

QJsonObject JsonOf(const ProgramRun& run) {
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

// The command on the site at address as admin; without a password, it comes from elsewhere.
QStringList OnSite(const QString& command, const QString& address,
                   const QString& password = "admin") {
    const QStringList account{command, address, "--user", "admin"};
    return password.isEmpty() ? account : account + QStringList{"--password", password};
}

TEST(CliConventions, EveryProgramAnswersVersionAndHelpOnStdout) {
    std::vector<std::pair<QString, QString>> programs{{"orvane-cli", ORVANE_CLI_BINARY},
                                                      {"orvane-registry", ORVANE_REGISTRY_BINARY},
                                                      {"orvane-site", ORVANE_SITE_BINARY}};
#ifdef ORVANE_APP_BINARY
    programs.emplace_back("orvane", ORVANE_APP_BINARY);
#endif
    // No display at all, and a platform that would abort without one: the answers must come
    // before any window system is touched.
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    noDisplay.remove("DISPLAY");
    noDisplay.remove("WAYLAND_DISPLAY");
    noDisplay.insert("QT_QPA_PLATFORM", "xcb");
    for (const auto& [name, binary] : programs) {
        SCOPED_TRACE(name.toStdString());
        const ProgramRun version = RunProgram(binary, {"--version"}, noDisplay);
        const ProgramRun help = RunProgram(binary, {"--help"}, noDisplay);
        EXPECT_TRUE(version.code == 0 && help.code == 0);
        EXPECT_EQ(version.err + help.err, "");
        EXPECT_EQ(version.out, name + " " + kVersion + "\n");
        EXPECT_TRUE(help.out.startsWith("usage: " + name + " ") &&
                    help.out.contains("Exit status:\n  0  "))
            << help.out.toStdString();
        // The manual page names every long option --help lists.
        QFile page(QStringLiteral(ORVANE_MAN_DIR "/%1.1").arg(name));
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << page.fileName().toStdString();
        const QString manual = QString::fromUtf8(page.readAll()).remove(u'\\');
        for (const auto& option :
             QRegularExpression("\\n  (?:-\\w, )?(--[\\w-]+)").globalMatch(help.out)) {
            EXPECT_TRUE(manual.contains(option.captured(1))) << option.captured(1).toStdString();
        }
    }
    // Each command of orvane-cli's usage is described under "Commands:".
    const QString commands = RunProgram(ORVANE_CLI_BINARY, {"--help"}).out.section("Commands:", 1);
    for (const QString command : {"probe", "record", "export", "verify", "identify", "frame"}) {
        EXPECT_TRUE(commands.contains(QRegularExpression("\\n  " + command + " +\\w")))
            << command.toStdString();
    }
}

// One line names the mistake (a malformed address by the address), one says where the usage
// is, and exit 2: never the whole usage, never a look-up of a host that cannot be one.
TEST(CliConventions, UsageErrorsGoToStderrWithTheirExitCode) {
    const QStringList login{"--user", "a", "--password", "b"};
    struct Row {
        const char* program;
        QStringList arguments;
        QString named;
    };
    std::vector<Row> rows{
        {"orvane-cli", {}, "no command"},
        {"orvane-cli", {"probe"}, "probe needs one site"},
        {"orvane-cli", {"teleport", "x"}, "unknown command teleport"},
        {"orvane-cli", {"teleport", "--json"}, "unknown command teleport"},
        {"orvane-cli", {"probe", "127.0.0.1", "--no-such-option"}, "no-such-option"},
        {"orvane-cli", {"record", "127.0.0.1", "--channel", "3", "--seconds", "0"}, "--seconds"},
        // Beyond an int of milliseconds a timer would end the run at once, or never.
        {"orvane-cli",
         {"record", "127.0.0.1", "--channel", "3", "--seconds", "2147484"},
         "--seconds"},
        {"orvane-cli", QStringList{"probe", "127.0.0.1:1", "--timeout", "2147484"} + login,
         "--timeout"},
        {"orvane-cli", {"frame", "clip.avi", "--json", "--seek", "0"}, "--json"},
        // An option of another command is refused, not ignored.
        {"orvane-cli", QStringList{"probe", "127.0.0.1:1", "--seek", "3"} + login, "--seek"},
        {"orvane-cli", {"identify", "1234", "--channel", "3"}, "--channel"},
        {"orvane-cli", {"frame", "clip.avi", "--seek", "0", "--user", "admin"}, "--user"},
        // Of two values one would go unused: which channel was meant is not guessed.
        {"orvane-cli",
         QStringList{"record", "127.0.0.1:1", "--channel", "3", "--channel", "7"} + login,
         "--channel is given more than once"},
        {"orvane-cli", QStringList{"probe", "127.0.0.1:1", "--channel=3", "--channel", "7"} + login,
         "--channel is given more than once"},
        {"orvane-cli",
         QStringList{"record", "127.0.0.1:1", "--channel", "3", "--quiet", "--quiet"} + login,
         "--quiet is given more than once"},
        // The account is asked for, never taken as empty by default; with no terminal to ask
        // the password on, it must come from an option or the environment.
        {"orvane-cli", {"probe", "127.0.0.1:1", "--password", "x"}, "--user"},
        {"orvane-cli",
         {"record", "127.0.0.1:1", "--channel", "3", "--user", "a"},
         "ORVANE_PASSWORD"},
        {"orvane-cli", QStringList{"probe", "127.0.0.1:1000:5"} + login, "127.0.0.1:1000:5"},
        {"orvane-cli", QStringList{"probe", "127.0.0.1:"} + login, "127.0.0.1: is"},
        {"orvane-cli", QStringList{"record", "site:0", "--channel", "3"} + login, "site:0"},
        {"orvane-cli", QStringList{"probe", "site:65536"} + login, "site:65536"},
        {"orvane-cli", QStringList{"probe", "site:http"} + login, "site:http"},
        {"orvane-cli", {"identify", "1234", "--server", "a:1:2"}, "a:1:2"},
        {"orvane-site", {"--codec", "vp9"}, "unknown codec vp9"},
        {"orvane-site", {"--no-such-option"}, "no-such-option"},
        {"orvane-site", {"--port", "65536"}, "65535"},
        {"orvane-site", {"--event", "密|a|b|c"}, "--event text outside code page"},
        {"orvane-site", {"--account", "密码:x"}, "--account text outside code page"},
        {"orvane-site", {"extra"}, "unexpected argument extra"},
    };
    // A malformed value is refused, not taken as 0 (a negative duration ran for ever).
    for (const QString bad : {"--duration -5", "--max-sessions x", "--fps 0", "--size 64",
                              "--listen site", "--channel 3", "--freeze 99:1"}) {
        rows.push_back({"orvane-site", bad.split(' '), "bad " + bad});
    }
    // No password to take, and a runtime folder: Qt's warning of none is no line of ours.
    const QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("ORVANE_PASSWORD");
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    for (const auto& row : rows) {
        const QString program = row.program;
        SCOPED_TRACE((program + " " + row.arguments.join(' ')).toStdString());
        const ProgramRun run =
            program == "orvane-site"
                ? RunProgram(ORVANE_SITE_BINARY, QStringList{"--port", "0"} + row.arguments,
                             environment)
                : RunProgram(ORVANE_CLI_BINARY, row.arguments, environment);
        EXPECT_EQ(run.code, 2);
        EXPECT_TRUE(program == "orvane-site" || run.out.isEmpty()) << run.out.toStdString();
        const QStringList lines = run.errLines();
        EXPECT_TRUE(lines.size() == 2 && lines[0].startsWith(program + ": ") &&
                    lines[0].contains(row.named) &&
                    lines[1] == "Try '" + program + " --help' for more.")
            << run.err.toStdString();
    }
    // With --json a script still reads one object, naming the fault.
    const ProgramRun json = RunProgram(ORVANE_CLI_BINARY, {"probe", "127.0.0.1:0", "--json"});
    EXPECT_EQ(json.code, 2);
    EXPECT_EQ(JsonOf(json)["exitCode"].toInt(), 2);
    EXPECT_FALSE(JsonOf(json)["error"].toString().isEmpty());
}

// The simulated site holds its accounts and channel names in the code page, as a site does:
// an account typed with accents is the one Orvane logs in with.
TEST(CliConventions, TheSimulatedSiteTakesAccountsAndNamesInTheCodePage) {
    QProcess site;
    site.start(ORVANE_SITE_BINARY, {"--port", "0", "--account", "Müller:pässwörd", "--channel",
                                    "3:Tür", "--fps", "10", "--duration", "20"});
    while (!site.canReadLine() && site.waitForReadyRead(10000)) {
    }
    const QString address =
        "127.0.0.1:" + QString::fromUtf8(site.readLine()).section(':', -1).trimmed();
    const ProgramRun probe =
        RunProgram(ORVANE_CLI_BINARY, {"probe", address, "--user", "Müller", "--password",
                                       "pässwörd", "--frames", "2", "--json"});
    site.terminate();  // ends as cleanly as at the end of --duration
    EXPECT_TRUE(site.waitForFinished() && site.exitStatus() == QProcess::NormalExit &&
                site.exitCode() == 0);
    ASSERT_EQ(probe.code, 0) << probe.err.toStdString();
    const QJsonObject object = JsonOf(probe);
    EXPECT_EQ(object["site"].toString(), address);
    EXPECT_EQ(object["channels"].toArray(),
              (QJsonArray{QJsonObject{{"id", 3}, {"number", 1}, {"name", "Tür"}}}));
    EXPECT_GE(object["frames"].toInt(), 2);
    EXPECT_FALSE(object.contains("error"));
}

class CliSiteTest : public testing::Test {
  protected:
    void SetUp() override { Listen({}); }
    void Listen(sim::SiteSimulatorOptions options) {
        options.framesPerSecond = 25;
        site = std::make_unique<sim::SiteSimulator>(options);
        ASSERT_TRUE(site->Listen(QHostAddress::LocalHost, 0));
        QDir().mkpath(folder);
    }
    QStringList Site(const QString& command, const QString& password = "admin") const {
        return OnSite(command, QStringLiteral("127.0.0.1:%1").arg(site->port()), password);
    }

    test::TempStore temp;  // ORVANE_REGISTRY for the children too
    QString folder = QString::fromStdString(temp.folder()) + "/clips/";
    std::unique_ptr<sim::SiteSimulator> site;
};

// Each run is one object, a failed one too: its reason and exit code, none of the facts of a
// success. The password comes from the first source given: --password, --password-file (its
// first line, without its line end), ORVANE_PASSWORD. A probe opens only a listed channel. The
// clip index must name the folder so that Orvane, started anywhere, finds the clip: a relative
// --dir is kept as an absolute one.
TEST_F(CliSiteTest, EachRunIsOneObjectWithTheReasonOfAFailure) {
    const QDir base(QString::fromStdString(temp.folder()));
    ASSERT_TRUE(base.mkpath("relative"));
    const QString file = base.filePath("password");
    test::WriteFileBytes(file.toStdString(), "admin\r\nwrong\n");
    const QString missing = base.filePath("none");
    const QStringList probe = Site("probe", {}) + QStringList{"--frames", "1"};
    const struct {
        QStringList arguments;
        const char* environment;  // ORVANE_PASSWORD
        QString error;            // empty: it worked
        QString noFact;
    } rows[] = {
        {probe + QStringList{"--password", "admin", "--password-file", missing}, "wrong", "", ""},
        {probe + QStringList{"--password", "wrong", "--password-file", file}, "admin",
         "login rejected", "codec"},
        {probe + QStringList{"--password-file", file}, "wrong", "", ""},
        {probe, "admin", "", ""},
        {probe, "", "login rejected", "frames"},
        {probe + QStringList{"--password-file", missing}, "admin",
         "cannot read the password file " + missing + ": No such file or directory", "codec"},
        {Site("record") + QStringList{"--channel", "9", "--dir", folder}, "",
         "the site has no channel 9", "clip"},
        {Site("probe") + QStringList{"--channel", "99"}, "", "the site has no channel 99",
         "frames"},
        {Site("record") + QStringList{"--channel", "7", "--seconds", "1", "--dir", "relative"}, "",
         "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(
            (row.arguments.join(' ') + " ORVANE_PASSWORD=" + row.environment).toStdString());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORVANE_PASSWORD", row.environment);
        const ProgramRun run = RunProgram(ORVANE_CLI_BINARY, row.arguments + QStringList{"--json"},
                                          environment, {}, base.path());
        const int code = row.error.isEmpty() ? 0 : 1;
        EXPECT_EQ(run.code, code) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains('\r')) << run.err.toStdString();  // piped: no progress
        const QJsonObject object = JsonOf(run);
        EXPECT_EQ(object["error"].toString(), row.error) << run.out.toStdString();
        EXPECT_EQ(object["exitCode"].toInt(), code);
        EXPECT_TRUE(code == 0 || !object.contains(row.noFact));
        if (object.contains("clip")) {
            const QFileInfo clip(object["clip"].toString());
            EXPECT_TRUE(clip.exists() && clip.filePath() == clip.absoluteFilePath());
            EXPECT_EQ(clip.absolutePath(), base.filePath("relative"));
            EXPECT_EQ(object["bytes"].toInteger(), clip.size());
            EXPECT_EQ(object["channel"].toInt(), 7);
            EXPECT_FALSE(object.contains("silentSeconds"));  // the camera never fell silent
        }
    }
    const QString index = RunProgram(ORVANE_REGISTRY_BINARY,
                                     {"export", "HKCU\\Software\\Quillmar-Brakken\\RemoteRecord"})
                              .out;
    EXPECT_TRUE(index.contains(base.filePath("relative"))) << index.toStdString();
}

// A site that never answers (its accept queue is full, so the handshake goes unanswered) and
// a port nobody listens on: each failure names the address and why. A listener that takes the
// connection but never answers the login is told apart from a site that takes the login and
// whose camera sends nothing.
TEST(CliConnectFailures, NameTheAddressAndTheReason) {
    const test::PendingListener listener;
    ASSERT_TRUE(listener.ready());
    const QString silent = QStringLiteral("127.0.0.1:%1").arg(listener.port());
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QString refusing = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost, 0));
    const QString unanswered = QStringLiteral("127.0.0.1:%1").arg(mute.serverPort());
    sim::SiteSimulatorOptions oneCamera;
    oneCamera.channels = {{1, 1, "Gate"}};
    sim::SiteSimulator still(oneCamera);
    ASSERT_TRUE(still.Listen(QHostAddress::LocalHost, 0));
    still.FreezeChannel(1, true);
    const QTemporaryDir clips;
    const QStringList record{"--channel", "1", "--dir", clips.path()};
    // A connect that fails is named by its reason; a timeout after it by the whole error.
    std::vector<std::pair<QString, QString>> cases{
        {silent, "timeout"},
        {refusing, "refused"},
        {unanswered, "timeout: the login was not answered"},
        {QStringLiteral("127.0.0.1:%1").arg(still.port()), "timeout: no frames"}};
    // An IPv6 address keeps its brackets, or its port could not be told from it.
    if (closed.listen(QHostAddress::LocalHostIPv6, 0)) {
        cases.emplace_back(QStringLiteral("[::1]:%1").arg(closed.serverPort()), "refused");
        closed.close();
    }
    for (const auto& [site, reason] : cases) {
        for (const QString command : {"probe", "record"}) {
            SCOPED_TRACE((command + " " + site).toStdString());
            const ProgramRun run = RunProgram(
                ORVANE_CLI_BINARY, OnSite(command, site) + QStringList{"--timeout", "1", "--json"} +
                                       (command == "record" ? record : QStringList{}));
            EXPECT_EQ(run.code, 1);
            const QString error = JsonOf(run)["error"].toString();
            EXPECT_TRUE(reason.startsWith("timeout: ")
                            ? error == reason
                            : error.startsWith("cannot connect to " + site + ": ") &&
                                  error.contains(reason, Qt::CaseInsensitive))
                << error.toStdString();
            // Logged in nowhere, the probe lists no channels: on one line, as empty values are.
            EXPECT_EQ(run.out.contains("\"channels\": [],\n"),
                      command == "probe" && site == unanswered)
                << run.out.toStdString();
        }
    }
    // The identify server that does not answer is named too.
    const ProgramRun identify =
        RunProgram(ORVANE_CLI_BINARY, {"identify", "1234", "--server", refusing});
    EXPECT_TRUE(identify.code == 1 && identify.err.trimmed().endsWith("(asked " + refusing + ")"))
        << identify.err.toStdString();
    // A quit signal while the connect is under way (one more SYN_SENT to the silent port)
    // ends record as stopped by it, not at the connect's timeout.
    const QRegularExpression synSent(
        QStringLiteral(":%1 02 ").arg(listener.port(), 4, 16, QLatin1Char('0')).toUpper());
    const auto connecting = [&] {
        QFile table("/proc/net/tcp");
        return table.open(QIODevice::ReadOnly) ? QString::fromLatin1(table.readAll()).count(synSent)
                                               : -1;
    };
    const auto before = connecting();
    QProcess recording;
    recording.start(ORVANE_CLI_BINARY,
                    OnSite("record", silent) + QStringList{"--timeout", "600"} + record);
    ASSERT_TRUE(recording.waitForStarted());
    ASSERT_TRUE(WaitUntil([&] { return connecting() > before; }, 10000));
    ::kill(static_cast<pid_t>(recording.processId()), SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return recording.state() == QProcess::NotRunning; }, 30000));
    EXPECT_TRUE(recording.exitStatus() == QProcess::NormalExit && recording.exitCode() == 1);
    EXPECT_EQ(recording.readAllStandardError(), "orvane-cli: stopped by a signal\n");
}

// Every frame of the channel opened counts, and only those: a site that sends its frames two
// at a time (they make one picture each pair), and one that streams every channel at login
// (the other channel's frames are no frames of the one opened), each stream 24 frames long.
TEST_F(CliSiteTest, ProbeCountsEveryFrameOfTheChannelOpenedAndNoOther) {
    const struct {
        int framesPerSend;
        bool streamOnLogin;
        int asked;
        int frames;
        QString error;
    } cases[] = {{2, false, 24, 24, ""}, {1, true, 30, 0, "timeout: 24 of 30 frames"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.streamOnLogin ? "streaming every channel" : "two at a time");
        sim::SiteSimulatorOptions options;
        options.framesPerSend = c.framesPerSend;
        options.streamOnLogin = c.streamOnLogin;
        options.frameLimit = 24;
        Listen(options);
        const ProgramRun run = RunProgram(
            ORVANE_CLI_BINARY, Site("probe") + QStringList{"--frames", QString::number(c.asked),
                                                           "--timeout", "4", "--json"});
        EXPECT_EQ(run.code, c.error.isEmpty() ? 0 : 1) << run.out.toStdString();
        EXPECT_EQ(JsonOf(run)["frames"].toInt(), c.frames);
        EXPECT_EQ(JsonOf(run)["error"].toString(), c.error);
    }
}

// With no password source and a terminal (a pseudo-terminal, its slave kept open so nothing is
// lost), the password is asked there without echo; the echo comes back after the answer, and
// after a Ctrl-C at the prompt too. The recording then shows its progress there.
TEST_F(CliSiteTest, OnATerminalThePasswordIsAskedWithoutEchoAndTheProgressShown) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("ORVANE_PASSWORD");
    for (const QByteArray& keys : {QByteArray("admin\n"), QByteArray("\x03")}) {
        SCOPED_TRACE(keys == "\x03" ? "interrupted" : "answered");
        int master = -1;
        int slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const auto closeBoth = qScopeGuard([&] {
            ::close(master);
            ::close(slave);
        });
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        QByteArray seen;
        const auto read = [&] {
            char buffer[4096];
            for (ssize_t n = 0; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
                seen.append(buffer, n);
            }
            return seen;
        };
        const auto echoes = [&] {
            termios now{};
            return ::tcgetattr(slave, &now) == 0 && (now.c_lflag & ECHO) != 0;
        };
        QProcess cli;
        cli.setProcessEnvironment(environment);
        // The terminal is the child's controlling terminal, its stdin and its stderr.
        cli.setChildProcessModifier([slave] {
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
            ::dup2(slave, STDIN_FILENO);
            ::dup2(slave, STDERR_FILENO);
        });
        cli.start(ORVANE_CLI_BINARY, Site("record", {}) + QStringList{"--channel", "3", "--seconds",
                                                                      "2", "--dir", folder});
        ASSERT_TRUE(WaitUntil([&] { return read().endsWith("Password: "); }, 10000))
            << seen.toStdString();
        EXPECT_FALSE(echoes());
        ASSERT_EQ(::write(master, keys.constData(), keys.size()), keys.size());
        ASSERT_TRUE(WaitUntil(
            [&] {
                read();  // a terminal nobody reads would hold the child up
                return cli.state() == QProcess::NotRunning;
            },
            20000));
        EXPECT_TRUE(echoes());
        const QString text = QString::fromUtf8(read());
        EXPECT_FALSE(text.contains("admin")) << text.toStdString();
        if (keys == "\x03") {
            EXPECT_EQ(cli.exitStatus(), QProcess::CrashExit);  // SIGINT ended it, as it would
            continue;
        }
        EXPECT_EQ(cli.exitCode(), 0) << text.toStdString();
        // The progress line is rewritten in place there, among Qt's and the library's lines.
        EXPECT_TRUE(text.contains("\r\033[Krecording ")) << text.toStdString();
    }
}

}  // namespace
}  // namespace orvane
