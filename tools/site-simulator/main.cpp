// orvane-site: a simulated site (and optionally an identify server) on this machine.
#include "common/code_page.h"
#include "common/quit_signals.h"
#include "common/version.h"
#include "identify_server.h"
#include "site_simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>

#include <QTextStream>
#include <QTimer>
#include <optional>

#include <algorithm>
#include <cstdio>

using namespace orvane::sim;
using orvane::CodePage;

namespace {

// A site's texts (account names and passwords, channel names) are single bytes in its code
// page, never UTF-8: what is typed here is kept as the site would hold it.
std::optional<std::string> SiteText(const QString& text) {
    return CodePage().Encode(text);
}

bool ParseChannel(const QString& text, std::uint32_t number, SimulatedChannel& channel) {
    const auto parts = text.split(':');
    bool ok = false;
    channel.id = parts.value(0).toInt(&ok);
    channel.number = number;
    const auto name = SiteText(parts.mid(1).join(':'));
    channel.name = name.value_or(std::string());
    return ok && parts.size() >= 2 && name;
}

constexpr int kUsageError = 2;

constexpr const char* kExitStatus =
    "Exit status:\n"
    "  0  --duration ran out (without it the site runs until it is killed)\n"
    "  1  the site or identify port cannot be listened on\n"
    "  2  usage error: an unknown option, or a missing or malformed value\n";

int Fail(const QString& message, int code = kUsageError) {
    std::fprintf(stderr, "orvane-site: %s\n", qPrintable(message));
    if (code == kUsageError) {
        std::fprintf(stderr, "Try 'orvane-site --help' for more.\n");
    }
    return code;
}

// A port number, 0 to 65535 (0: a free one).
bool ParsePort(const QString& text, quint16& port) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    port = static_cast<quint16>(value);
    return ok && value <= 65535;
}

}  // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A simulated video-surveillance site for Orvane's tests and demo: accounts, a channel\n"
        "list, live-encoded video or an AVI file's packets, and an identify server.");
    const QCommandLineOption help({"h", "help"}, "Print this help and exit.");
    const QCommandLineOption version("version", "Print the program's name and version and exit.");
    const QCommandLineOption listen({"l", "listen"}, "Address to listen on.", "address",
                                    "127.0.0.1");
    const QCommandLineOption port({"p", "port"}, "Site port (0 picks a free one).", "port", "1000");
    const QCommandLineOption account({"a", "account"}, "Account user:password (repeatable).",
                                     "account");
    const QCommandLineOption channel(
        {"c", "channel"}, "Channel id:name (repeatable); numbered 1, 2, ... in order.", "channel");
    const QCommandLineOption bits("site-bits", "Permission bits: 1 open, 2 close.", "bits", "3");
    const QCommandLineOption codec(
        "codec", "mpeg4, mjpeg, msmpeg4v3, cinepak, msvideo1, rgb or h264.", "codec", "mpeg4");
    const QCommandLineOption fps("fps", "Frames per second per channel.", "fps", "10");
    const QCommandLineOption maxSessions("max-sessions", "Logins before LimitReached.", "n", "4");
    const QCommandLineOption source("source", "Send the video packets of this AVI file instead.",
                                    "file");
    const QCommandLineOption loginAgain("login-again",
                                        "Answer each session's first Login with LoginAgain.");
    const QCommandLineOption size("size", "Picture size WxH instead of the one the login asks for.",
                                  "size");
    const QCommandLineOption stamp("stamp", "Stamp each frame's send time into biXPelsPerMeter.");
    const QCommandLineOption duration(
        "duration", "Exit after this many seconds, printing the frames sent.", "s");
    const QCommandLineOption replay(
        "replay", "Encode a short loop per channel once and send it over and over (cheap load).");
    const QCommandLineOption dropEvery("drop-every", "Drop every link each this many seconds.",
                                       "s");
    const QCommandLineOption freeze(
        "freeze",
        "Channel ID's camera freezes S seconds after start: its frames stop, the links "
        "stay (repeatable).",
        "ID:S");
    const QCommandLineOption halveAt(
        "halve-at",
        "Halve every channel's frame rate S seconds after start (prints \"load halved\").", "s");
    const QCommandLineOption spread(
        "spread-key-frames",
        "Start the channels' streams one after another over a key-frame interval, so that "
        "their key frames do not all come at once.");
    const QCommandLineOption streamOnLogin("stream-on-login",
                                           "Stream every channel as soon as a client logs in.");
    const QCommandLineOption event(
        "event", "Event record name|telephone|address|memo, sent on EventQuery.", "record");
    const QCommandLineOption callBack(
        "call-back", "Call a client back at host:port once listening.", "host:port");
    const QCommandLineOption identifyPort("identify-port",
                                          "Also run an identify server on this port.", "port");
    const QCommandLineOption identify(
        "identify", "ID code=address for the identify server (repeatable).", "entry");
    const QCommandLineOption silent("identify-silent",
                                    "The identify server accepts but never answers.");
    parser.addOptions({help,          version,  listen, port,        account,   channel,
                       bits,          codec,    fps,    maxSessions, source,    loginAgain,
                       streamOnLogin, size,     stamp,  duration,    event,     callBack,
                       identifyPort,  identify, silent, replay,      dropEvery, freeze,
                       halveAt,       spread});
    // --help and --version are answered before the application (and its platform) exists.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    parser.parse(arguments);
    if (parser.isSet(help)) {
        QTextStream(stdout) << "usage: orvane-site [OPTIONS]\n\n"
                            << parser.applicationDescription() << "\n\n"
                            << parser.helpText().section("Options:", 1).prepend("Options:") << "\n"
                            << kExitStatus;
        return 0;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << "orvane-site " << orvane::kVersion << "\n";
        return 0;
    }

    // QGuiApplication for QImage/QPainter text-free drawing; no window is ever shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName("orvane-site");
    // Again without the arguments Qt took for itself.
    const bool parsedOk = parser.parse(QCoreApplication::arguments());
    if (!parsedOk) {
        return Fail(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Fail("unexpected argument " + parser.positionalArguments().first());
    }
    quint16 sitePort = 0;
    quint16 identifyServerPort = 0;
    if (!ParsePort(parser.value(port), sitePort) ||
        (parser.isSet(identifyPort) &&
         !ParsePort(parser.value(identifyPort), identifyServerPort))) {
        return Fail("a port is a number from 0 to 65535");
    }
    const QHostAddress address(parser.value(listen));
    if (address.isNull()) {
        return Fail("bad --listen " + parser.value(listen) + " (want an IP address)");
    }

    SiteSimulatorOptions options;
    if (parser.isSet(account)) {
        options.accounts.clear();
        for (const QString& entry : parser.values(account)) {
            const auto parts = entry.split(':');
            const auto user = SiteText(parts.value(0));
            const auto password = SiteText(parts.mid(1).join(':'));
            if (!user || !password) {
                return Fail("--account text outside code page " + CodePage().name());
            }
            options.accounts.push_back({*user, *password});
        }
    }
    if (parser.isSet(channel)) {
        options.channels.clear();
        std::uint32_t number = 1;
        for (const QString& entry : parser.values(channel)) {
            SimulatedChannel parsed;
            if (!ParseChannel(entry, number++, parsed)) {
                return Fail("bad --channel " + entry + " (want id:name, the name in code page " +
                            CodePage().name() + ")");
            }
            options.channels.push_back(parsed);
        }
    }
    options.siteBits = parser.value(bits).toUInt();
    const auto parsedCodec = ParseCodec(parser.value(codec));
    if (!parsedCodec) {
        return Fail("unknown codec " + parser.value(codec));
    }
    options.codec = *parsedCodec;
    bool fpsOk = false;
    options.framesPerSecond = parser.value(fps).toDouble(&fpsOk);
    if (!fpsOk || options.framesPerSecond <= 0) {
        return Fail("bad --fps " + parser.value(fps) + " (want a number above 0)");
    }
    bool sessionsOk = false;
    options.maxSessions = parser.value(maxSessions).toInt(&sessionsOk);
    if (!sessionsOk || options.maxSessions < 1) {
        return Fail("bad --max-sessions " + parser.value(maxSessions) + " (want 1 or more)");
    }
    // Seconds given for a timer: a number above 0, and no more than a timer can count.
    for (const QCommandLineOption* seconds : {&duration, &dropEvery, &halveAt}) {
        if (!parser.isSet(*seconds)) {
            continue;
        }
        bool ok = false;
        const double value = parser.value(*seconds).toDouble(&ok);
        if (!ok || value <= 0 || value > 2e6) {
            return Fail("bad --" + seconds->names().constFirst() + " " + parser.value(*seconds) +
                        " (want seconds above 0)");
        }
    }
    options.sourceFile = parser.value(source);
    options.loginAgainFirst = parser.isSet(loginAgain);
    options.streamOnLogin = parser.isSet(streamOnLogin);
    options.stampFrames = parser.isSet(stamp);
    options.replay = parser.isSet(replay);
    options.spreadKeyFrames = parser.isSet(spread);
    if (parser.isSet(size)) {
        const auto parts = parser.value(size).toLower().split('x');
        options.pictureSize = QSize(parts.value(0).toInt(), parts.value(1).toInt());
        if (parts.size() != 2 || options.pictureSize.isEmpty()) {
            return Fail("bad --size " + parser.value(size) + " (want WxH)");
        }
    }
    if (parser.isSet(event)) {
        // A site's texts are single bytes in its code page, never UTF-8.
        const CodePage codePage;
        const auto parts = parser.value(event).split('|');
        std::string fields[4];
        for (int i = 0; i < 4; ++i) {
            const auto bytes = codePage.Encode(parts.value(i));
            if (!bytes) {
                return Fail("--event text outside code page " + codePage.name());
            }
            fields[i] = *bytes;
        }
        options.eventRecord = MakeEventRecord(fields[0], fields[1], fields[2], fields[3]);
    }

    SiteSimulator site(options);
    if (!site.Listen(address, sitePort)) {
        return Fail("cannot listen: " + site.error(), 1);
    }
    QTextStream out(stdout);
    out << "site listening on " << address.toString() << ":" << site.port() << Qt::endl;

    IdentifyServer identifyServer;
    if (parser.isSet(identifyPort)) {
        for (const QString& entry : parser.values(identify)) {
            const auto parts = entry.split('=');
            identifyServer.AddSite(parts.value(0).toStdString(), parts.value(1));
        }
        identifyServer.SetSilent(parser.isSet(silent));
        if (!identifyServer.Listen(address, identifyServerPort)) {
            return Fail("cannot listen for identify queries on port " + parser.value(identifyPort),
                        1);
        }
        out << "identify server listening on " << address.toString() << ":" << identifyServer.port()
            << Qt::endl;
    }
    if (parser.isSet(dropEvery)) {
        site.DropLinksEvery(static_cast<int>(parser.value(dropEvery).toDouble() * 1000));
    }
    if (parser.isSet(halveAt)) {
        QTimer::singleShot(static_cast<int>(parser.value(halveAt).toDouble() * 1000), &site,
                           [&site, &out] {
                               site.HalveFrameRate();
                               out << "load halved" << Qt::endl;
                           });
    }
    for (const QString& entry : parser.values(freeze)) {
        const auto parts = entry.split(':');
        bool idOk = false;
        bool secondsOk = false;
        const int id = parts.value(0).toInt(&idOk);
        const double seconds = parts.value(1).toDouble(&secondsOk);
        const auto& channels = site.options().channels;
        const auto it = std::find_if(channels.begin(), channels.end(),
                                     [id](const SimulatedChannel& c) { return c.id == id; });
        if (parts.size() != 2 || !idOk || !secondsOk || seconds < 0 || seconds > 2e6 ||
            it == channels.end()) {
            return Fail("bad --freeze " + entry + " (want a channel id:seconds)");
        }
        QTimer::singleShot(static_cast<int>(seconds * 1000), &site,
                           [&site, number = it->number] { site.FreezeChannel(number, true); });
    }
    if (parser.isSet(callBack)) {
        const auto parts = parser.value(callBack).split(':');
        QTimer::singleShot(0, &site, [&site, parts] {
            if (!site.CallBack(parts.value(0), static_cast<quint16>(parts.value(1).toUInt()))) {
                std::fprintf(stderr, "orvane-site: call-back failed: %s\n",
                             qPrintable(site.error()));
            }
        });
    }
    // Stopped from a terminal or by a script, the site closes its links as at the end of
    // --duration, rather than leaving them to the kernel.
    orvane::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &orvane::QuitSignals::quitRequested, &app,
                     &QCoreApplication::quit);
    if (parser.isSet(duration)) {
        QTimer::singleShot(static_cast<int>(parser.value(duration).toDouble() * 1000), &app, [&] {
            site.StopStreaming();
            out << "frames sent: " << site.framesSent() << Qt::endl;
            out << "send rate: " << QString::number(site.sendRate(), 'f', 1) << Qt::endl;
            // The links stay a moment, so that a client takes every frame sent.
            QTimer::singleShot(1000, &app, &QCoreApplication::quit);
        });
    }
    return app.exec();
}
