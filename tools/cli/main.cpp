// orvane-cli: checks a site from a shell.
//   orvane-cli probe HOST[:PORT] --user U --password P [--channel ID] [--frames N] [--png FILE]
//   orvane-cli record HOST[:PORT] --user U --password P --channel ID --seconds S [--dir DIR]
//   orvane-cli identify ID [--server HOST[:PORT]]
//   orvane-cli frame CLIP.avi --seek N [--step K] --png OUT.png
#include "frame.h"
#include "probe.h"
#include "record.h"
#include "site/identify_client.h"
#include "store/store_location.h"

#include <QCommandLineParser>
#include <QGuiApplication>

using namespace orvane;

namespace {

// "host[:port]" with a default port.
bool SplitHostPort(const QString& text, quint16 defaultPort, QString& host, quint16& port) {
    const auto colon = text.lastIndexOf(':');
    host = colon < 0 ? text : text.left(colon);
    port = defaultPort;
    if (colon >= 0) {
        bool ok = false;
        const uint value = text.mid(colon + 1).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            return false;
        }
        port = static_cast<quint16>(value);
    }
    return !host.isEmpty();
}

int Usage(QTextStream& err) {
    err << "usage: orvane-cli probe HOST[:PORT] --user U --password P [--channel ID] "
           "[--frames N] [--png FILE] [--timeout S] [--small]\n"
           "       orvane-cli record HOST[:PORT] --user U --password P --channel ID "
           "--seconds S [--dir DIR]\n"
           "       orvane-cli identify ID [--server HOST[:PORT]]\n"
           "       orvane-cli frame CLIP.avi --seek N [--step K] --png OUT.png"
        << Qt::endl;
    return 2;
}

int Identify(const QCommandLineParser& parser, QTextStream& out, QTextStream& err) {
    const QString idCode = parser.positionalArguments().value(1);
    if (idCode.isEmpty()) {
        return Usage(err);
    }
    IdentifyClient client;
    auto opened = OpenSettings(KeyStorePath());
    NetSettings net = opened.settings.LoadNet();
    IdentifyOutcome outcome;
    if (parser.isSet("server")) {
        QString host;
        quint16 port = net.identifyPort;
        if (!SplitHostPort(parser.value("server"), net.identifyPort, host, port)) {
            return Usage(err);
        }
        net.identifyPrimary = net.identifyFallback = host.toStdString();
        net.identifyPort = port;
    }
    outcome = ResolveSiteAddress(client, idCode.toStdString(), net);
    if (outcome.address.empty()) {
        const QString reason = outcome.message.trimmed();
        err << "orvane-cli: " << (reason.isEmpty() ? QStringLiteral("no address") : reason)
            << Qt::endl;
        return 1;
    }
    out << QString::fromStdString(outcome.address) << Qt::endl;
    return 0;
}

int Record(const QCommandLineParser& parser, QTextStream& out, QTextStream& err) {
    const QStringList args = parser.positionalArguments();
    cli::RecordOptions options;
    bool channelOk = false;
    options.channelId = parser.value("channel").toUInt(&channelOk);
    bool secondsOk = false;
    options.seconds = parser.value("seconds").toInt(&secondsOk);
    if (args.size() != 2 || !SplitHostPort(args[1], 1000, options.host, options.port)) {
        err << "orvane-cli: record needs one site, HOST or HOST:PORT (port 1 to 65535)" << Qt::endl;
        return Usage(err);
    }
    if (!channelOk) {
        err << "orvane-cli: record needs --channel ID, a channel number" << Qt::endl;
        return Usage(err);
    }
    if (!secondsOk || options.seconds <= 0) {
        err << "orvane-cli: --seconds must be a whole number above 0" << Qt::endl;
        return Usage(err);
    }
    options.user = parser.value("user");
    options.password = parser.value("password");
    options.folder = parser.value("dir");
    options.timeoutSeconds = std::max(1, parser.value("timeout").toInt());
    return cli::RunRecord(options, out, err);
}

int Frame(const QCommandLineParser& parser, QTextStream& out, QTextStream& err) {
    const QStringList args = parser.positionalArguments();
    cli::FrameOptions options;
    bool seekOk = false;
    options.seek = parser.value("seek").toLongLong(&seekOk);
    bool stepOk = true;
    if (parser.isSet("step")) {
        options.steps = parser.value("step").toLongLong(&stepOk);
    }
    if (args.size() != 2) {
        err << "orvane-cli: frame needs one clip file" << Qt::endl;
        return Usage(err);
    }
    if (!parser.isSet("seek") || !seekOk || options.seek < 0) {
        err << "orvane-cli: frame needs --seek N, a frame number from 0" << Qt::endl;
        return Usage(err);
    }
    if (!stepOk) {
        err << "orvane-cli: --step must be a whole number (negative steps back)" << Qt::endl;
        return Usage(err);
    }
    options.clipPath = args[1];
    options.pngPath = parser.value("png");
    return cli::RunFrame(options, out, err);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName("orvane-cli");
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument("command", "probe, record, identify or frame");
    parser.addOptions(
        {{"user", "Site user name.", "user"},
         {"password", "Site password.", "password"},
         {"channel", "Channel id to open.", "id"},
         {"frames", "Frames to decode.", "n", "10"},
         {"png", "Write the last picture here.", "file"},
         {"timeout", "Seconds to wait.", "s", "15"},
         {"small", "Ask for 160 x 120 pictures."},
         {"server", "Identify server to ask.", "host[:port]"},
         {"seconds", "Seconds to record.", "s", "10"},
         {"dir", "Folder to record into (the settings' record folder when absent).", "dir"},
         {"seek", "Frame to show.", "n"},
         {"step", "Frames to step from it, one at a time (negative: back).", "k"}});
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.value(0) == "identify") {
        return Identify(parser, out, err);
    }
    if (args.value(0) == "record") {
        return Record(parser, out, err);
    }
    if (args.value(0) == "frame") {
        return Frame(parser, out, err);
    }
    if (args.value(0) != "probe" || args.size() != 2) {
        return Usage(err);
    }
    cli::ProbeOptions options;
    if (!SplitHostPort(args[1], 1000, options.host, options.port)) {
        return Usage(err);
    }
    options.user = parser.value("user");
    options.password = parser.value("password");
    if (parser.isSet("channel")) {
        options.channelId = parser.value("channel").toUInt();
    }
    options.frames = std::max(1, parser.value("frames").toInt());
    options.pngPath = parser.value("png");
    options.timeoutSeconds = std::max(1, parser.value("timeout").toInt());
    options.smallPictures = parser.isSet("small");
    return cli::RunProbe(options, out, err);
}
