// The command-line conventions every Orvane program keeps, checked on the built programs run
// as the child processes they are: --version and --help, usage errors, orvane-cli's --json
// objects, and its progress line, present on a terminal and absent everywhere else.
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

using test::WaitUntil;

using test::ProgramRun;
using test::RunProgram;

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
        EXPECT_EQ(version.code, 0) << version.err.toStdString();
        EXPECT_EQ(version.out, name + " " + kVersion + "\n");
        EXPECT_TRUE(version.err.isEmpty()) << version.err.toStdString();

        const ProgramRun help = RunProgram(binary, {"--help"}, noDisplay);
        EXPECT_EQ(help.code, 0) << help.err.toStdString();
        EXPECT_TRUE(help.out.startsWith("usage: " + name + " ")) << help.out.toStdString();
        EXPECT_TRUE(help.out.contains("Exit status:\n  0  ")) << help.out.toStdString();
        EXPECT_TRUE(help.err.isEmpty()) << help.err.toStdString();
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
    const QString cliHelp = RunProgram(ORVANE_CLI_BINARY, {"--help"}).out;
    for (const QString command : {"probe", "record", "export", "verify", "identify", "frame"}) {
        EXPECT_TRUE(cliHelp.section("Commands:", 1)
                        .contains(QRegularExpression("\\n  " + command + " +\\w")))
            << command.toStdString();
    }
}

// One line names the mistake (a malformed address by the address), one says where the usage
// is, and exit 2: never the whole usage, never a look-up of a host that cannot be one.
TEST(CliConventions, UsageErrorsGoToStderrWithTheirExitCode) {
    const std::vector<std::pair<QStringList, QString>> mistakes{
        {{}, "no command"},
        {{"probe"}, "probe needs one site"},
        {{"teleport", "x"}, "unknown command teleport"},
        {{"probe", "127.0.0.1", "--no-such-option"}, "no-such-option"},
        {{"record", "127.0.0.1", "--channel", "3", "--seconds", "0"}, "--seconds"},
        {{"frame", "clip.avi", "--json", "--seek", "0"}, "--json"},
        // An option of another command is refused, not ignored.
        {{"probe", "127.0.0.1:1", "--user", "a", "--password", "b", "--seek", "3"}, "--seek"},
        {{"identify", "1234", "--channel", "3"}, "--channel"},
        {{"frame", "clip.avi", "--seek", "0", "--user", "admin"}, "--user"},
        // The account is asked for, never taken as empty by default; with no terminal to ask
        // the password on, it must come from an option or the environment.
        {{"probe", "127.0.0.1:1", "--password", "x"}, "--user"},
        {{"record", "127.0.0.1:1", "--channel", "3", "--user", "admin"}, "ORVANE_PASSWORD"},
        {{"probe", "127.0.0.1:1000:5", "--user", "a", "--password", "b"}, "127.0.0.1:1000:5"},
        {{"probe", "127.0.0.1:", "--user", "a", "--password", "b"}, "127.0.0.1: is"},
        {{"record", "site:0", "--channel", "3", "--user", "a", "--password", "b"}, "site:0"},
        {{"probe", "site:65536", "--user", "a", "--password", "b"}, "site:65536"},
        {{"probe", "site:http", "--user", "a", "--password", "b"}, "site:http"},
        {{"identify", "1234", "--server", "a:1:2"}, "a:1:2"}};
    QProcessEnvironment noPassword = QProcessEnvironment::systemEnvironment();
    noPassword.remove("ORVANE_PASSWORD");
    for (const auto& [arguments, named] : mistakes) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const ProgramRun run = RunProgram(ORVANE_CLI_BINARY, arguments, noPassword);
        EXPECT_EQ(run.code, 2);
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        ASSERT_EQ(run.errLines().size(), 2) << run.err.toStdString();
        EXPECT_TRUE(run.errLines()[0].startsWith("orvane-cli: ")) << run.err.toStdString();
        EXPECT_TRUE(run.errLines()[0].contains(named)) << run.err.toStdString();
        EXPECT_EQ(run.errLines()[1], "Try 'orvane-cli --help' for more.");
    }
    // With --json a script still reads one object, naming the fault.
    const ProgramRun json = RunProgram(ORVANE_CLI_BINARY, {"probe", "127.0.0.1:0", "--json"});
    EXPECT_EQ(json.code, 2);
    const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(object["exitCode"].toInt(), 2);
    EXPECT_FALSE(object["error"].toString().isEmpty());

    const ProgramRun site = RunProgram(ORVANE_SITE_BINARY, {"--port", "0", "--codec", "vp9"});
    EXPECT_EQ(site.code, 2);
    EXPECT_TRUE(site.out.isEmpty());
    EXPECT_TRUE(site.err.contains("unknown codec vp9"));
    EXPECT_EQ(RunProgram(ORVANE_SITE_BINARY, {"--no-such-option"}).code, 2);
    // A malformed value is refused, not taken as 0 (a negative duration ran for ever).
    for (const QStringList& arguments :
         {QStringList{"--duration", "abc"}, QStringList{"--duration", "-5"},
          QStringList{"--drop-every", "0"}, QStringList{"--max-sessions", "x"},
          QStringList{"--halve-at", "0"}, QStringList{"--fps", "0"}, QStringList{"--size", "64"},
          QStringList{"--port", "65536"}, QStringList{"--listen", "site"},
          QStringList{"--channel", "3"}, QStringList{"--event", "密|a|b|c"},
          QStringList{"--freeze", "99:1"}, QStringList{"extra"}}) {
        EXPECT_EQ(RunProgram(ORVANE_SITE_BINARY, QStringList{"--port", "0"} + arguments).code, 2)
            << arguments.join(' ').toStdString();
    }
}

// The simulated site holds its accounts and channel names in the code page, as a site does:
// an account typed with accents is the one Orvane logs in with.
TEST(CliConventions, TheSimulatedSiteTakesAccountsAndNamesInTheCodePage) {
    QProcess site;
    site.start(ORVANE_SITE_BINARY, {"--port", "0", "--account", "Müller:pässwörd", "--channel",
                                    "3:Tür", "--fps", "10", "--duration", "20"});
    ASSERT_TRUE(site.waitForStarted());
    QString listening;
    ASSERT_TRUE(WaitUntil(
        [&] {
            listening += QString::fromUtf8(site.readAllStandardOutput());
            return listening.contains('\n');
        },
        10000));
    const QString port = listening.section(':', -1).trimmed();
    const ProgramRun probe =
        RunProgram(ORVANE_CLI_BINARY, {"probe", "127.0.0.1:" + port, "--user", "Müller",
                                       "--password", "pässwörd", "--frames", "2", "--json"});
    site.terminate();  // ends as cleanly as at the end of --duration
    EXPECT_TRUE(site.waitForFinished());
    EXPECT_EQ(site.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(site.exitCode(), 0);
    ASSERT_EQ(probe.code, 0) << probe.err.toStdString();
    // The --json object holds the facts of the text.
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(probe.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << probe.out.toStdString();
    EXPECT_EQ(object["site"].toString(), "127.0.0.1:" + port);
    EXPECT_EQ(object["channels"].toArray(),
              (QJsonArray{QJsonObject{{"id", 3}, {"number", 1}, {"name", "Tür"}}}));
    EXPECT_EQ(object["channel"].toInt(), 3);
    EXPECT_FALSE(object["codec"].toString().isEmpty());
    EXPECT_EQ(object["width"].toInt(), 320);
    EXPECT_EQ(object["height"].toInt(), 240);
    EXPECT_GE(object["frames"].toInt(), 2);
    EXPECT_GT(object["frameRate"].toDouble(), 0);
    EXPECT_EQ(object["exitCode"].toInt(), 0);
    EXPECT_FALSE(object.contains("error"));

    EXPECT_EQ(RunProgram(ORVANE_SITE_BINARY, {"--port", "0", "--account", "密码:x"}).code, 2);
}

class CliSiteTest : public testing::Test {
  protected:
    void SetUp() override {
        sim::SiteSimulatorOptions options;
        options.framesPerSecond = 25;
        site = std::make_unique<sim::SiteSimulator>(options);
        ASSERT_TRUE(site->Listen(QHostAddress::LocalHost, 0));
        QDir().mkpath(folder);
    }

    QStringList Site(const QString& command, const QString& password = "admin") const {
        return {command,      QStringLiteral("127.0.0.1:%1").arg(site->port()),
                "--user",     "admin",
                "--password", password};
    }

    test::TempStore temp;  // ORVANE_REGISTRY for the children too
    QString folder = QString::fromStdString(temp.folder()) + "/clips/";
    std::unique_ptr<sim::SiteSimulator> site;
};

// The clip index must name the folder so that Orvane, started anywhere, finds the clip: a
// relative --dir is kept as an absolute one.
TEST_F(CliSiteTest, RecordJsonNamesTheClipItWroteInAnAbsoluteFolder) {
    const QDir base(QString::fromStdString(temp.folder()));
    ASSERT_TRUE(base.mkpath("relative"));
    const ProgramRun run =
        RunProgram(ORVANE_CLI_BINARY,
                   Site("record") + QStringList{"--channel", "7", "--seconds", "1", "--dir",
                                                "relative", "--json"},
                   QProcessEnvironment::systemEnvironment(), {}, base.path());
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains('\r')) << run.err.toStdString();  // piped: no progress
    QJsonParseError error;
    const QJsonObject record = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << run.out.toStdString();
    const QFileInfo clip(record["clip"].toString());
    EXPECT_TRUE(clip.exists() && clip.filePath() == clip.absoluteFilePath())
        << run.out.toStdString();
    EXPECT_EQ(clip.absolutePath(), base.filePath("relative"));
    EXPECT_EQ(record["bytes"].toInteger(), clip.size());
    EXPECT_GE(record["frames"].toInt(), 15);
    EXPECT_NEAR(record["seconds"].toDouble(), 1.0, 0.5);
    EXPECT_EQ(record["channel"].toInt(), 7);
    EXPECT_EQ(record["exitCode"].toInt(), 0);
    const QString exported =
        RunProgram(ORVANE_REGISTRY_BINARY,
                   {"export", "HKCU\\Software\\Quillmar-Brakken\\RemoteRecord"})
            .out;
    EXPECT_TRUE(exported.contains(base.filePath("relative"))) << exported.toStdString();
}

// A site that never answers (its accept queue is full, so the handshake goes unanswered) and
// a port nobody listens on: each failure names the address and why.
TEST(CliConnectFailures, NameTheAddressAndTheReason) {
    const test::PendingListener listener;
    ASSERT_TRUE(listener.ready());
    const QString silent = QStringLiteral("127.0.0.1:%1").arg(listener.port());
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QString refusing = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    const QTemporaryDir clips;
    std::vector<std::pair<QString, QString>> cases{{silent, "timeout"}, {refusing, "refused"}};
    // An IPv6 address keeps its brackets, or its port could not be told from it.
    if (closed.listen(QHostAddress::LocalHostIPv6, 0)) {
        cases.emplace_back(QStringLiteral("[::1]:%1").arg(closed.serverPort()), "refused");
        closed.close();
    }

    for (const auto& [site, reason] : cases) {
        for (const QString command : {"probe", "record"}) {
            SCOPED_TRACE((command + " " + site).toStdString());
            QStringList arguments{command, site,        "--user", "admin", "--password",
                                  "admin", "--timeout", "1",      "--json"};
            if (command == "record") {
                arguments += QStringList{"--channel", "1", "--dir", clips.path()};
            }
            const ProgramRun run = RunProgram(ORVANE_CLI_BINARY, arguments);
            EXPECT_EQ(run.code, 1);
            const QString error = QJsonDocument::fromJson(run.out.toUtf8())["error"].toString();
            EXPECT_TRUE(error.startsWith("cannot connect to " + site + ": ") &&
                        error.contains(reason, Qt::CaseInsensitive))
                << error.toStdString();
        }
    }
    // The identify server that does not answer is named too.
    const ProgramRun identify =
        RunProgram(ORVANE_CLI_BINARY, {"identify", "1234", "--server", refusing});
    EXPECT_EQ(identify.code, 1);
    EXPECT_TRUE(identify.err.trimmed().endsWith("(asked " + refusing + ")"))
        << identify.err.toStdString();
    // A quit signal while the connect is under way (one more SYN_SENT to the silent port)
    // ends record as stopped by it, not at the connect's timeout.
    const auto connecting =
        [port = QStringLiteral(":%1 ").arg(listener.port(), 4, 16, QLatin1Char('0')).toUpper()] {
            QFile table("/proc/net/tcp");
            table.open(QIODevice::ReadOnly);
            const QStringList rows = QString::fromLatin1(table.readAll()).split('\n');
            return std::count_if(rows.begin(), rows.end(), [&](const QString& row) {
                return row.section(' ', 2, 2, QString::SectionSkipEmpty).endsWith(port.trimmed()) &&
                       row.section(' ', 3, 3, QString::SectionSkipEmpty) == "02";
            });
        };
    const auto before = connecting();
    QProcess record;
    record.start(ORVANE_CLI_BINARY, {"record", silent, "--user", "admin", "--password", "admin",
                                     "--channel", "1", "--timeout", "600", "--dir", clips.path()});
    ASSERT_TRUE(record.waitForStarted());
    ASSERT_TRUE(WaitUntil([&] { return connecting() > before; }, 10000));
    ::kill(static_cast<pid_t>(record.processId()), SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return record.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(record.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(record.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(record.readAllStandardError()),
              "orvane-cli: stopped by a signal\n");
}

// Every frame of the channel opened counts, and only those: a site that sends its frames two
// at a time (they make one picture each pair), and one that streams every channel at login
// (the other channel's frames are no frames of the one opened), each stream 24 frames long.
TEST(CliProbe, CountsEveryFrameOfTheChannelOpenedAndNoOther) {
    const struct {
        int framesPerSend;
        bool streamOnLogin;
        int asked;
        int code;
        int frames;
        QString error;
    } cases[] = {{2, false, 24, 0, 24, ""}, {1, true, 30, 1, 0, "timeout: 24 of 30 frames"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.streamOnLogin ? "streaming every channel" : "two at a time");
        sim::SiteSimulatorOptions options;
        options.framesPerSecond = 25;
        options.framesPerSend = c.framesPerSend;
        options.streamOnLogin = c.streamOnLogin;
        options.frameLimit = 24;
        sim::SiteSimulator site(options);
        ASSERT_TRUE(site.Listen(QHostAddress::LocalHost, 0));
        const ProgramRun run =
            RunProgram(ORVANE_CLI_BINARY, {"probe", QStringLiteral("127.0.0.1:%1").arg(site.port()),
                                           "--user", "admin", "--password", "admin", "--frames",
                                           QString::number(c.asked), "--timeout", "4", "--json"});
        EXPECT_EQ(run.code, c.code) << run.out.toStdString();
        const QJsonObject report = QJsonDocument::fromJson(run.out.toUtf8()).object();
        EXPECT_EQ(report["frames"].toInt(), c.frames);
        EXPECT_EQ(report["error"].toString(), c.error);
    }
}

// A pseudo-terminal for a child; what the child writes there is read back. Raw, it is the
// child's stderr and passes what is written as it is ("\n" stays "\n"). As a console it is
// set up as a terminal is (echo on) and is the child's controlling terminal, stdin and stderr.
class PtyTerminal {
  public:
    enum class Kind { RawStderr, Console };
    explicit PtyTerminal(Kind kind = Kind::RawStderr) : kind_(kind) {
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&master_, &slave_, nullptr, kind == Kind::RawStderr ? &raw : nullptr,
                      nullptr) == 0) {
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PtyTerminal() {
        for (const int fd : {master_, slave_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    PtyTerminal(const PtyTerminal&) = delete;
    PtyTerminal& operator=(const PtyTerminal&) = delete;

    bool ok() const { return master_ >= 0; }
    void Attach(QProcess& process) const {
        const int slave = slave_;
        if (kind_ == Kind::RawStderr) {
            process.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
            return;
        }
        process.setChildProcessModifier([slave] {
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
            ::dup2(slave, STDIN_FILENO);
            ::dup2(slave, STDERR_FILENO);
        });
    }
    void Type(const QByteArray& keys) const {
        EXPECT_EQ(::write(master_, keys.constData(), keys.size()), keys.size());
    }
    bool Echoes() const {
        termios now{};
        return ::tcgetattr(slave_, &now) == 0 && (now.c_lflag & ECHO) != 0;
    }
    // Everything written so far; the parent keeps the slave open, so nothing is lost.
    QByteArray ReadAll() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(master_, buffer, sizeof buffer)) > 0) {
            text_.append(buffer, n);
        }
        return text_;
    }

  private:
    Kind kind_;
    int master_ = -1;
    int slave_ = -1;
    QByteArray text_;
};

TEST_F(CliSiteTest, RecordShowsProgressOnATerminalOnly) {
    // --quiet and --json turn it off; a script reading the object has no use for it either.
    for (const QString& mode : {QString(), QStringLiteral("--quiet"), QStringLiteral("--json")}) {
        SCOPED_TRACE(mode.isEmpty() ? "terminal" : mode.toStdString());
        const bool quiet = !mode.isEmpty();
        PtyTerminal pty;
        ASSERT_TRUE(pty.ok());
        QProcess cli;
        pty.Attach(cli);
        cli.start(ORVANE_CLI_BINARY,
                  Site("record") +
                      QStringList{"--channel", "3", "--seconds", "2", "--dir", folder} +
                      (quiet ? QStringList{mode} : QStringList{}));
        ASSERT_TRUE(cli.waitForStarted());
        ASSERT_TRUE(WaitUntil(
            [&] {
                pty.ReadAll();
                return cli.state() == QProcess::NotRunning;
            },
            20000));
        EXPECT_EQ(cli.exitCode(), 0);
        const QByteArray terminal = pty.ReadAll();
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        // The final lines on stdout are as they always were, with no trace of the progress.
        if (mode != "--json") {
            EXPECT_TRUE(out.contains(QRegularExpression("\nclip: [^\r\n]+\\.avi\n$")))
                << out.toStdString();
        }
        EXPECT_FALSE(out.contains('\r'));
        // Qt and the library log to stderr too; the progress line is what follows "\r".
        const QByteArray rewind = "\r\033[K";
        if (quiet) {
            EXPECT_FALSE(terminal.contains('\r')) << terminal.toStdString();
            continue;
        }
        // Rewritten in place a few times a second over two seconds, then erased.
        const QRegularExpression line(
            R"(^recording \d+\.\d / 2 s, \d+ frames, [\d.]+ (B|KiB|MiB)$)");
        int lines = 0;
        for (const QByteArray& piece : terminal.split('\r')) {
            lines += line.match(QString::fromUtf8(piece.mid(3))).hasMatch() ? 1 : 0;
        }
        EXPECT_GE(lines, 3) << terminal.toStdString();
        EXPECT_LE(lines, 12) << terminal.toStdString();
        const QByteArray last = terminal.mid(terminal.lastIndexOf(rewind + "recording ") + 4);
        EXPECT_TRUE(last.contains(rewind)) << "never erased: " << terminal.toStdString();
    }
}

// Each run is one object, a failed one too: its reason and exit code, none of the facts of a
// success. The password comes from the first source given: --password, --password-file (its
// first line, without its line end), ORVANE_PASSWORD. A probe opens only a listed channel.
TEST_F(CliSiteTest, EachRunIsOneObjectWithTheReasonOfAFailure) {
    const QString file = QString::fromStdString(temp.File("password"));
    test::WriteFileBytes(file.toStdString(), "admin\r\nwrong\n");
    const QString missing = QString::fromStdString(temp.File("none"));
    const QStringList probe{"probe",    QStringLiteral("127.0.0.1:%1").arg(site->port()),
                            "--user",   "admin",
                            "--frames", "1"};
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
        {Site("probe") + QStringList{"--channel", "99"}, "", "the site lists no such channel: 99",
         "frames"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(
            (row.arguments.join(' ') + " ORVANE_PASSWORD=" + row.environment).toStdString());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORVANE_PASSWORD", row.environment);
        const ProgramRun run =
            RunProgram(ORVANE_CLI_BINARY, row.arguments + QStringList{"--json"}, environment);
        const int code = row.error.isEmpty() ? 0 : 1;
        EXPECT_EQ(run.code, code) << run.err.toStdString();
        const QJsonObject object = QJsonDocument::fromJson(run.out.toUtf8()).object();
        EXPECT_EQ(object["error"].toString(), row.error) << run.out.toStdString();
        EXPECT_EQ(object["exitCode"].toInt(), code);
        EXPECT_TRUE(code == 0 || !object.contains(row.noFact));
    }
}

// With no source and a terminal, the password is asked for there and not echoed; the echo
// comes back after the answer, and after a Ctrl-C at the prompt too.
TEST_F(CliSiteTest, AskForThePasswordOnTheTerminalWithoutEcho) {
    for (const bool interrupted : {false, true}) {
        SCOPED_TRACE(interrupted ? "interrupted" : "answered");
        PtyTerminal terminal(PtyTerminal::Kind::Console);
        ASSERT_TRUE(terminal.ok());
        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("ORVANE_PASSWORD");
        cli.setProcessEnvironment(environment);
        terminal.Attach(cli);
        cli.start(ORVANE_CLI_BINARY, {"probe", QStringLiteral("127.0.0.1:%1").arg(site->port()),
                                      "--user", "admin", "--frames", "1", "--json"});
        ASSERT_TRUE(cli.waitForStarted());
        ASSERT_TRUE(WaitUntil([&] { return terminal.ReadAll().endsWith("Password: "); }, 10000))
            << terminal.ReadAll().toStdString();
        EXPECT_FALSE(terminal.Echoes());
        terminal.Type(interrupted ? "\x03" : "admin\n");
        ASSERT_TRUE(WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, 20000));
        EXPECT_TRUE(terminal.Echoes());
        EXPECT_FALSE(terminal.ReadAll().contains("admin")) << terminal.ReadAll().toStdString();
        if (interrupted) {
            EXPECT_EQ(cli.exitStatus(), QProcess::CrashExit);  // SIGINT ended it, as it would
        } else {
            EXPECT_EQ(cli.exitCode(), 0) << terminal.ReadAll().toStdString();
            EXPECT_EQ(QJsonDocument::fromJson(cli.readAllStandardOutput())["frames"].toInt(), 1);
        }
    }
}

}  // namespace
}  // namespace orvane
