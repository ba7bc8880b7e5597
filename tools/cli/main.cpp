// orvane-cli: checks a site from a shell; see Usage() and docs/man/orvane-cli.1.
#include "common/log_file.h"
#include "common/message_log.h"
#include "common/version.h"
#include "export.h"
#include "frame.h"
#include "json_text.h"
#include "link_notices.h"
#include "media/frame_times.h"
#include "password.h"
#include "probe.h"
#include "progress.h"
#include "record.h"
#include "site/identify_client.h"
#include "site/site_connection.h"
#include "store/store_location.h"
#include "verify.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

using namespace orvane;

namespace {

constexpr const char* kUsage =
    "usage: orvane-cli probe HOST[:PORT] --user USER [--password-file FILE | --password P]\n"
    "                  [--channel ID] [--frames N] [--png FILE] [--timeout S] [--small]\n"
    "                  [--json]\n"
    "       orvane-cli record HOST[:PORT] --user USER [--password-file FILE | --password P]\n"
    "                  --channel ID [--seconds S] [--dir DIR] [--timeout S] [--json]\n"
    "                  [--quiet]\n"
    "       orvane-cli export CLIP.avi... --out FILE.mp4 [--from \"YYYY-MM-DD HH:MM:SS\"]\n"
    "                  [--to \"YYYY-MM-DD HH:MM:SS\"] [--json] [--quiet]\n"
    "       orvane-cli verify FILE.mp4.json [--json]\n"
    "       orvane-cli identify ID [--server HOST[:PORT]]\n"
    "       orvane-cli frame CLIP.avi (--seek N | --time \"YYYY-MM-DD HH:MM:SS[.mmm]\")\n"
    "                  [--step K] [--png FILE] [--quiet]\n"
    "       orvane-cli --help | --version\n";

constexpr const char* kDescription =
    "Checks a site from a shell with Orvane's own connection, decoders, recorder and player.\n"
    "\n"
    "Commands:\n"
    "  probe     log in, list the channels, open one (--channel, else the first), decode\n"
    "            --frames frames and print the codec, picture size and frame rate\n"
    "  record    record one channel for --seconds into --dir (else the settings' record\n"
    "            folder) and add the clip to the clip index; SIGTERM, SIGINT and SIGHUP end\n"
    "            the clip cleanly\n"
    "  identify  ask the identify server for the address of a site's ID code\n"
    "  frame     open a clip as the player does, show frame --seek (or the last frame at or\n"
    "            before --time), step --step frames, save the picture and print the frame's\n"
    "            number and time\n"
    "  export    write clips of one channel (--from, --to) to one MP4 file --out, with a\n"
    "            manifest FILE.mp4.json of the SHA-256 of it and of every clip\n"
    "  verify    check an export and its clips against the manifest\n"
    "\n"
    "The site password (probe, record) is the first of: --password PASSWORD (every user on\n"
    "the machine sees it in ps), --password-file FILE (its first line), the environment\n"
    "variable ORVANE_PASSWORD, and with none of them and standard input a terminal, what is\n"
    "typed at the \"Password: \" prompt, not echoed.\n"
    "\n"
    "A fault is said once, in orvane-cli's own words; the library's warnings behind it go to\n"
    "$XDG_STATE_HOME/Quillmar-Brakken/orvane-cli.log (~/.local/state when XDG_STATE_HOME is\n"
    "unset or not an absolute path), and to stderr too when QT_LOGGING_RULES is set.\n";

constexpr const char* kExitStatus =
    "Exit status:\n"
    "  0  success: frames arrived (probe), a clip with at least one frame was written\n"
    "     for --seconds or until a signal ended it (record), an address was found\n"
    "     (identify), the frame was shown and saved (frame), the export and its manifest\n"
    "     were written (export), every file matches its manifest (verify)\n"
    "  1  failure; the reason is on stderr, and with --json in the object's \"error\"\n"
    "     (record: also a link lost before --seconds ran out, the clips kept and printed;\n"
    "     export: an --out that exists; verify: a file that is missing or differs;\n"
    "     frame: a --seek beyond the clip's end; a password file that cannot be read)\n"
    "  2  usage error: an unknown command or option, an option of another command, a\n"
    "     missing or malformed argument or site address; one line names it on stderr\n";

constexpr int kUsageError = 2;

// The handler that writes to stderr, behind KeepLibraryOffTerminal.
QtMessageHandler g_terminal = nullptr;

// What the library warns of (a clip that cannot be started, a file that cannot be read) this
// program says in its own words, once: the library's messages go to the log file only.
void KeepLibraryOffTerminal(QtMsgType type, const QMessageLogContext& context,
                            const QString& text) {
    if (context.category && std::strncmp(context.category, "orvane.", 7) == 0) {
        return;
    }
    g_terminal(type, context, text);
}

// orvane-cli.log beside Orvane's own log: runs from scripts do not fill the program's.
std::string CliLogPath() {
    const std::string path = LogFilePath();
    return path.substr(0, path.rfind('/') + 1) + "orvane-cli.log";
}

// The options each command takes; any other is refused rather than silently ignored.
const QStringList& OptionsOf(const QString& command) {
    static const QStringList none;
    static const std::map<QString, QStringList> options{
        {"probe",
         {"user", "password", "password-file", "channel", "frames", "png", "timeout", "small",
          "json"}},
        {"export", {"out", "from", "to", "json", "quiet"}},
        {"verify", {"json"}},
        {"record",
         {"user", "password", "password-file", "channel", "seconds", "dir", "timeout", "json",
          "quiet"}},
        {"identify", {"server"}},
        {"frame", {"seek", "time", "step", "png", "quiet"}}};
    const auto found = options.find(command);
    return found == options.end() ? none : found->second;
}

// The command line as parsed, and where its answers go.
struct Cli {
    QCommandLineParser parser;
    QTextStream out{stdout};
    QTextStream err{stderr};
    QString command;
    bool json = false;

    void PrintJson(const QJsonObject& object) { out << cli::JsonText(object) << Qt::flush; }

    // Names the fault on stderr in one line, and where the usage is; with --json the object
    // says it too, so that a script reading stdout always gets one.
    int UsageError(const QString& message) {
        err << "orvane-cli: " << message << "\nTry 'orvane-cli --help' for more." << Qt::endl;
        if (json) {
            PrintJson({{"error", message}, {"exitCode", kUsageError}});
        }
        return kUsageError;
    }

    // --json is for scripts: the terminal gets no progress line either.
    bool progress() const { return !parser.isSet("quiet") && !json && cli::StderrIsTerminal(); }

    // A fault that is no usage error: the reason on stderr, and the object with --json.
    int Failure(const QString& message) {
        err << "orvane-cli: " << message << Qt::endl;
        if (json) {
            PrintJson({{"error", message}, {"exitCode", 1}});
        }
        return 1;
    }
};

// "HOST", "HOST:PORT", or an IPv6 address in brackets with or without ":PORT"; the port
// is 1 to 65535 in digits, and defaultPort when absent. Anything else is refused here rather
// than looked up as a host name.
bool SplitHostPort(const QString& text, quint16 defaultPort, QString& host, quint16& port) {
    QString rest;
    if (text.startsWith(u'[')) {
        const auto close = text.indexOf(u']');
        host = text.mid(1, close - 1);
        rest = close < 0 ? QStringLiteral("]") : text.mid(close + 1);
    } else {
        host = text.section(u':', 0, 0);
        rest = text.mid(host.size());
    }
    port = defaultPort;
    if (!rest.isEmpty()) {
        const QString digits = rest.mid(1);
        const bool allDigits = !digits.isEmpty() && digits.size() <= 5 &&
                               std::all_of(digits.begin(), digits.end(),
                                           [](QChar c) { return c >= u'0' && c <= u'9'; });
        const uint value = allDigits ? digits.toUInt() : 0;
        if (!rest.startsWith(u':') || value == 0 || value > 65535) {
            return false;
        }
        port = static_cast<quint16>(value);
    }
    return !host.isEmpty() && !host.contains(u'/');
}

QString AddressFault(const QString& address) {
    return QStringLiteral("%1 is no address: HOST or HOST:PORT, port 1 to 65535").arg(address);
}

// The site password from the first source given; nothing after a usage error or failure
// said on stderr, whose exit code is in code.
std::optional<QString> SitePassword(Cli& cli, int& code) {
    cli::PasswordSources sources;
    if (cli.parser.isSet("password")) {
        sources.option = cli.parser.value("password");
    }
    if (cli.parser.isSet("password-file")) {
        sources.file = cli.parser.value("password-file");
    }
    const cli::PasswordResult found = cli::FindPassword(sources);
    if (!found.error.isEmpty()) {
        code = cli.Failure(found.error);
    } else if (!found.password) {
        code = cli.UsageError(
            QStringLiteral("%1 needs a password: --password, --password-file or ORVANE_PASSWORD "
                           "(standard input is no terminal to ask on)")
                .arg(cli.command));
    }
    return found.password;
}

// The value of a whole-number option above 0 (its default when absent); nullopt otherwise.
std::optional<int> PositiveOption(const QCommandLineParser& parser, const QString& name) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    return ok && value > 0 ? std::optional<int>(value) : std::nullopt;
}

// Seconds become a timer's milliseconds, an int: beyond this they would wrap round and end a
// run at once, or never (about 24 days).
constexpr int kMostSeconds = std::numeric_limits<int>::max() / 1000;

std::optional<int> SecondsOption(const QCommandLineParser& parser, const QString& name) {
    const auto value = PositiveOption(parser, name);
    return value && *value <= kMostSeconds ? value : std::nullopt;
}

int Identify(Cli& cli) {
    const QString idCode = cli.parser.positionalArguments().value(1);
    if (idCode.isEmpty() || cli.parser.positionalArguments().size() != 2) {
        return cli.UsageError("identify needs one ID code");
    }
    IdentifyClient client;
    auto opened = OpenSettings(KeyStorePath());
    NetSettings net = opened.settings.LoadNet();
    if (cli.parser.isSet("server")) {
        QString host;
        quint16 port = net.identifyPort;
        if (!SplitHostPort(cli.parser.value("server"), net.identifyPort, host, port)) {
            return cli.UsageError("--server: " + AddressFault(cli.parser.value("server")));
        }
        net.identifyPrimary = net.identifyFallback = host.toStdString();
        net.identifyPort = port;
    }
    const IdentifyOutcome outcome = ResolveSiteAddress(client, idCode.toStdString(), net);
    if (outcome.address.empty()) {
        const QString reason = outcome.message.trimmed();
        // The servers asked, so that a script's log says which did not answer.
        QStringList servers{
            SiteAddress(QString::fromStdString(net.identifyPrimary), net.identifyPort)};
        if (net.identifyFallback != net.identifyPrimary) {
            servers << SiteAddress(QString::fromStdString(net.identifyFallback), net.identifyPort);
        }
        cli.err << "orvane-cli: " << (reason.isEmpty() ? QStringLiteral("no address") : reason)
                << " (asked " << servers.join(", ") << ")" << Qt::endl;
        return 1;
    }
    cli.out << QString::fromStdString(outcome.address) << Qt::endl;
    return 0;
}

int Probe(Cli& cli) {
    const QStringList args = cli.parser.positionalArguments();
    cli::ProbeOptions options;
    if (args.size() != 2) {
        return cli.UsageError("probe needs one site, HOST or HOST:PORT");
    }
    if (!SplitHostPort(args[1], 1000, options.host, options.port)) {
        return cli.UsageError(AddressFault(args[1]));
    }
    if (cli.parser.isSet("channel")) {
        bool ok = false;
        options.channelId = cli.parser.value("channel").toUInt(&ok);
        if (!ok) {
            return cli.UsageError("--channel must be a channel id, a whole number");
        }
    }
    const auto frames = PositiveOption(cli.parser, "frames");
    const auto timeout = SecondsOption(cli.parser, "timeout");
    if (!frames || !timeout) {
        return cli.UsageError(QStringLiteral("--frames must be a whole number above 0, --timeout "
                                             "one from 1 to %1")
                                  .arg(kMostSeconds));
    }
    if (!cli.parser.isSet("user")) {
        return cli.UsageError("probe needs --user USER (it may be \"\")");
    }
    int code = 0;
    const std::optional<QString> password = SitePassword(cli, code);
    if (!password) {
        return code;
    }
    options.user = cli.parser.value("user");
    options.password = *password;
    options.frames = *frames;
    options.pngPath = cli.parser.value("png");
    options.timeoutSeconds = *timeout;
    options.smallPictures = cli.parser.isSet("small");
    cli::ProbeReport report;
    if (!cli.json) {
        return cli::RunProbe(options, cli.out, cli.err, report);
    }
    QString text;
    QTextStream textOnly(&text);  // --json: the object is all that goes to stdout
    code = cli::RunProbe(options, textOnly, cli.err, report);
    cli.PrintJson(report.ToJson());
    return code;
}

int Record(Cli& cli) {
    const QStringList args = cli.parser.positionalArguments();
    cli::RecordOptions options;
    bool channelOk = false;
    options.channelId = cli.parser.value("channel").toUInt(&channelOk);
    if (args.size() != 2) {
        return cli.UsageError("record needs one site, HOST or HOST:PORT");
    }
    if (!SplitHostPort(args[1], 1000, options.host, options.port)) {
        return cli.UsageError(AddressFault(args[1]));
    }
    if (!channelOk) {
        return cli.UsageError("record needs --channel ID, a channel number");
    }
    const auto seconds = SecondsOption(cli.parser, "seconds");
    if (!seconds) {
        return cli.UsageError(
            QStringLiteral("--seconds must be a whole number from 1 to %1").arg(kMostSeconds));
    }
    const auto timeout = SecondsOption(cli.parser, "timeout");
    if (!timeout) {
        return cli.UsageError(
            QStringLiteral("--timeout must be a whole number from 1 to %1").arg(kMostSeconds));
    }
    if (!cli.parser.isSet("user")) {
        return cli.UsageError("record needs --user USER (it may be \"\")");
    }
    int code = 0;
    const std::optional<QString> password = SitePassword(cli, code);
    if (!password) {
        return code;
    }
    options.seconds = *seconds;
    options.user = cli.parser.value("user");
    options.password = *password;
    options.folder = cli.parser.value("dir");
    options.timeoutSeconds = *timeout;
    options.progress = cli.progress();
    cli::RecordReport report;
    if (!cli.json) {
        return cli::RunRecord(options, cli.out, cli.err, report);
    }
    QString text;
    QTextStream textOnly(&text);
    code = cli::RunRecord(options, textOnly, cli.err, report);
    cli.PrintJson(report.ToJson());
    return code;
}

int Export(Cli& cli) {
    cli::ExportOptions options;
    options.clips = cli.parser.positionalArguments().mid(1);
    if (options.clips.isEmpty()) {
        return cli.UsageError("export needs at least one clip file");
    }
    if (cli.parser.value("out").isEmpty()) {
        return cli.UsageError("export needs --out FILE.mp4");
    }
    options.out = cli.parser.value("out");
    options.from = cli.parser.value("from");
    options.to = cli.parser.value("to");
    options.json = cli.json;
    options.progress = cli.progress();
    const int code = cli::RunExport(options, cli.out, cli.err);
    if (code == cli::kExportUsageError) {
        return cli.UsageError("--from and --to must be \"YYYY-MM-DD HH:MM:SS[.mmm]\"");
    }
    return code;
}

int Verify(Cli& cli) {
    const QStringList args = cli.parser.positionalArguments();
    if (args.size() != 2) {
        return cli.UsageError("verify needs one manifest file (FILE.mp4.json)");
    }
    return cli::RunVerify(args[1], cli.json, cli.out, cli.err);
}

int Frame(Cli& cli) {
    const QStringList args = cli.parser.positionalArguments();
    cli::FrameOptions options;
    bool seekOk = false;
    options.seek = cli.parser.value("seek").toLongLong(&seekOk);
    bool stepOk = true;
    if (cli.parser.isSet("step")) {
        options.steps = cli.parser.value("step").toLongLong(&stepOk);
    }
    if (args.size() != 2) {
        return cli.UsageError("frame needs one clip file");
    }
    if (cli.parser.isSet("time")) {
        options.time = cli.parser.value("time");
        if (cli.parser.isSet("seek")) {
            return cli.UsageError("frame takes --seek or --time, not both");
        }
        if (!ParseFrameTime(options.time, 0)) {
            return cli.UsageError("--time must be YYYY-MM-DD HH:MM:SS[.mmm]");
        }
    } else if (!cli.parser.isSet("seek") || !seekOk || options.seek < 0) {
        return cli.UsageError("frame needs --seek N, a frame number from 0, or --time");
    }
    if (!stepOk) {
        return cli.UsageError("--step must be a whole number (negative steps back)");
    }
    options.clipPath = args[1];
    options.pngPath = cli.parser.value("png");
    options.progress = cli.progress();
    return cli::RunFrame(options, cli.out, cli.err);
}

}  // namespace

int main(int argc, char** argv) {
    Cli cli;
    QCommandLineParser& parser = cli.parser;
    parser.addOptions(
        {{{"h", "help"}, "Print this help and exit."},
         {"version", "Print the program's name and version and exit."},
         {"user", "Site user name.", "user"},
         {"password", "Site password; every user on the machine sees it in ps (probe, record).",
          "password"},
         {"password-file",
          "Read the site password from the first line of this file (probe, record).", "file"},
         {"channel", "Channel id to open (probe: the first when absent).", "id"},
         {"frames", "Frames to decode (probe; 10 when absent).", "n", "10"},
         {"png", "Write the last picture here (probe, frame).", "file"},
         {"timeout", "Seconds to wait for the site (probe, record; 15 when absent).", "s", "15"},
         {"small", "Ask for 160 x 120 pictures instead of 320 x 240 (probe)."},
         {"server", "Identify server to ask (identify).", "host[:port]"},
         {"out", "The MP4 file to write; it must not exist (export).", "file"},
         {"from", "Export frames seen from this local time (export).", "time"},
         {"to", "Export frames seen up to this local time (export).", "time"},
         {"seconds", "Seconds to record (record; 10 when absent).", "s", "10"},
         {"dir", "Folder to record into (record; the settings' record folder when absent).", "dir"},
         {"seek", "Frame to show, from 0 (frame).", "n"},
         {"time",
          "Show the last frame seen at or before this date and time, in the clip's local time "
          "(frame).",
          "YYYY-MM-DD HH:MM:SS[.mmm]"},
         {"step", "Frames to step from it, one at a time, negative back (frame).", "k"},
         {"json",
          "Print one JSON object on stdout instead of the text (probe, record, export, "
          "verify)."},
         {"quiet", "No progress line on a terminal (record, frame, export)."}});
    // --help and --version are answered before the application (and its platform) exists.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    parser.parse(arguments);
    if (parser.isSet("help")) {
        cli.out << kUsage << "\n"
                << kDescription << "\n"
                << parser.helpText().section("Options:", 1).prepend("Options:") << "\n"
                << kExitStatus << Qt::flush;
        return 0;
    }
    if (parser.isSet("version")) {
        cli.out << "orvane-cli " << kVersion << Qt::endl;
        return 0;
    }

    // The library's notes and warnings (which decoder was found, a clip that cannot be
    // started) are for the log, not for a shell, which hears of a fault from this program;
    // QT_LOGGING_RULES, set to look into the library, brings them back to stderr.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES")) {
        QLoggingCategory::setFilterRules(QStringLiteral("orvane.*.info=false"));
        g_terminal = qInstallMessageHandler(KeepLibraryOffTerminal);
    }
    // Before the application, so that it goes after every thread that logs.
    const MessageLog log(CliLogPath());
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("orvane-cli");
    QCoreApplication::setApplicationVersion(kVersion);
    // Again without the arguments Qt took for itself.
    const bool parsed = parser.parse(QCoreApplication::arguments());
    cli.command = parser.positionalArguments().value(0);
    cli.json = parser.isSet("json") && (cli.command == "probe" || cli.command == "record" ||
                                        cli.command == "export" || cli.command == "verify");
    if (!parsed) {
        return cli.UsageError(parser.errorText());
    }
    // An unknown command, or none, is the mistake to name first.
    if (parser.isSet("json") && !cli.json && !OptionsOf(cli.command).isEmpty()) {
        return cli.UsageError("--json is for probe, record, export and verify");
    }
    for (const QString& name : parser.optionNames()) {
        const QString longName = name == "h" ? QStringLiteral("help") : name;
        if (!cli.command.isEmpty() && !OptionsOf(cli.command).isEmpty() &&
            !OptionsOf(cli.command).contains(longName)) {
            return cli.UsageError(
                QStringLiteral("--%1 is not an option of %2").arg(longName, cli.command));
        }
    }
    // Every option names one thing: of two values, one would go unused without a word, and a
    // switch given twice is as likely a slip. The names are as given: -h stands for --help.
    QStringList given;
    for (const QString& name : parser.optionNames()) {
        const QString longName = name == "h" ? QStringLiteral("help") : name;
        if (given.contains(longName)) {
            return cli.UsageError(QStringLiteral("--%1 is given more than once").arg(longName));
        }
        given << longName;
    }
    if (cli.command == "probe") {
        return Probe(cli);
    }
    if (cli.command == "record") {
        return Record(cli);
    }
    if (cli.command == "identify") {
        return Identify(cli);
    }
    if (cli.command == "export") {
        return Export(cli);
    }
    if (cli.command == "verify") {
        return Verify(cli);
    }
    if (cli.command == "frame") {
        return Frame(cli);
    }
    return cli.UsageError(cli.command.isEmpty() ? QStringLiteral("no command")
                                                : "unknown command " + cli.command);
}
